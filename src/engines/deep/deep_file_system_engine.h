// What a file-system deep engine (FAT, NTFS) takes from the combined deep
// pass. The pass reads every sector of the volume once and routes the
// sectors that look like file-system metadata here instead of to carving:
// MFT file records to the NTFS engine, FAT directory sectors to the FAT
// engine. Each engine rebuilds what it can from them into its own scan log
// and serves it through the engine interface like any other engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "disk/sector_source.h"
#include "engines/scan_log_engine.h"

namespace qm {

class DeepFileSystemEngine : public ScanLogEngine {
 public:
  // Starts the engine's log in the context's scan folder, or, when
  // `resumeLogName` is not empty, re-opens that log of an interrupted scan.
  // Open* has been called before.
  virtual int BeginDeepScan(const std::string& resumeLogName) = 0;
  // A sector at absolute `sector` that starts an MFT file record (not a
  // directory's); `record` holds the whole record, `bytes` long.
  virtual void OnFileRecord(const uint8_t* record, size_t bytes, uint64_t sector) {
    (void)record, (void)bytes, (void)sector;
  }
  // A sector that starts with the "." and ".." entries of a FAT folder.
  virtual void OnDotClusterSector(const uint8_t* data, size_t bytes, uint64_t sector) {
    (void)data, (void)bytes, (void)sector;
  }
  // A sector that passes the FAT directory-sector test.
  virtual void OnDirectorySector(const uint8_t* data, size_t bytes, uint64_t sector) {
    (void)data, (void)bytes, (void)sector;
  }
  // The pass is over (finished or stopped): writes the folder records.
  virtual int FinishDeepScan() = 0;
  // Writes buffered records so that readers and a later resume see them.
  virtual int FlushLog() = 0;
  // The engineKind its records carry (2 NTFS, 3 FAT).
  virtual uint32_t EngineKind() const = 0;
  // The log's base name, for finding it again on resume.
  virtual std::string LogPrefix() const = 0;

  // The source file contents are read from.
  virtual const SectorSource& ContentSource() const = 0;

  // Driven by the deep pass (BeginDeepScan and the sector calls above);
  // they have no scan of their own and keep no map of free clusters.
  int Scan(const char*) override { return err::kNotSupported; }
  int NextFreeExtent(uint64_t*, uint64_t*) override { return err::kNotSupported; }
  int BuildClusterBitmap() override { return err::kNotSupported; }
};

}  // namespace qm
