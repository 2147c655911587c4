// CFileTypeRecovery: files found by their content alone.
//
// It has no pass of its own: the combined deep scan walks the volume and
// hands it, one at a time, every sector that is neither an NTFS file record
// nor FAT metadata. When the signature catalogue knows a file that starts
// there, one record is written to a flat "File_Type_" scan log (all carved
// files lie directly in the root, named "<start sector>.<extension>"), and
// the caller is told how far to move on. A carved file's bytes are the
// fileSize bytes that start at its anchorSector.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "disk/sector_source.h"
#include "engines/scan_log_engine.h"
#include "engines/signatures/signature_catalogue.h"

namespace qm {

// Where the whole deep pass stands, handed through to the scan progress
// callback while a size finder reads ahead.
struct CarvePassProgress {
  uint64_t done = 0;
  uint64_t total = 0;
  uint64_t found = 0;
  int64_t secondsLeft = -1;
};

class CFileTypeRecovery : public ScanLogEngine {
 public:
  CFileTypeRecovery();
  ~CFileTypeRecovery() override;

  // Open the source and start a new "File_Type_" log in the context's scan
  // folder.
  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;
  // Carving is driven by the deep pass; it has no scan of its own and no
  // map of free clusters.
  int Scan(const char*) override { return err::kNotSupported; }
  int NextFreeExtent(uint64_t*, uint64_t*) override { return err::kNotSupported; }
  int BuildClusterBitmap() override { return err::kNotSupported; }
  uint32_t RootId() const override { return 0; }

  // Re-opens the carving log `logName` (a base name in the context's scan
  // folder, or an absolute path) of an earlier, interrupted scan of the same
  // volume: opens the image `imagePath` (when not empty) or drive
  // `driveIndex`, and appends to that log. The pass resumes at absolute
  // sector `resumeSector`; files the log already holds from there on (the
  // log can run ahead of the stored position after a crash) are not
  // recorded a second time when the resumed pass meets them again.
  int ReopenLog(const std::string& logName, const std::string& imagePath, int driveIndex,
                uint64_t startSector, uint64_t sectorCount, uint16_t volumeLetter,
                uint32_t sectorSize, uint64_t resumeSector);

  // The carving step for one sector at absolute sector `sector`. `data`
  // holds that sector and, where the caller has them, the bytes that follow
  // it (`available` bytes in all, at least one sector). Returns 0 when a
  // file starts here (recorded, or already in a re-opened log), 87 when
  // none does (or the sector lies outside the volume), or the cancel code
  // when the progress callback asked to stop while the file was measured;
  // 6 when nothing is open. `advance` is set to the sectors the pass
  // moves on: 1, or the carved file's length for types that cannot hold
  // other files. `filesFound` grows by one for every new record.
  int CarveSector(const uint8_t* data, size_t available, uint64_t sector,
                  const CarvePassProgress& pass, uint64_t& advance, uint64_t& filesFound);

  // Writes buffered records so that readers and a later resume see them.
  int FlushLog();

  // The deep pass met unreadable sectors (absolute, in this engine's sector
  // size): they are not asked for again, and a file carved so far whose
  // extent holds them is marked partly unreadable. A file carved later
  // learns it when it is recorded.
  void NoteUnreadableInPass(uint64_t firstSector, uint64_t count);
  // The pass has gone past `sector`: files ending before it can no longer
  // meet an unreadable sector of the pass.
  void ForgetExtentsBefore(uint64_t sector);

  // Carved records have no cluster size; their extent is all there is.
  int ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer,
                        uint32_t* bufferSize, PreviewProgressFn progress, void* user) override;

  uint32_t sectorSize() const { return sectorSize_; }
  const SectorSource& source() const { return source_; }

 private:
  void CloseSource();
  // Sets the volume inside the open source; sectorSize 0 takes the source's.
  int FinishOpen(uint64_t startSector, uint64_t sectorCount, uint16_t volumeLetter,
                 uint32_t sectorSize);
  int StartNewLog();
  int LoadEarlierRecords(uint64_t resumeSector);
  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override;

  uint16_t volumeLetter_ = 0;  // the caller's tag for records, not a drive letter
  uint64_t volumeStart_ = 0;
  uint64_t volumeSectors_ = 0;
  uint32_t sectorSize_ = 512;
  SectorSource source_;
  SignatureScanContext signatureContext_;
  // Start sectors of the files a re-opened log already holds at or past the
  // resume position, with their sizes.
  std::map<uint64_t, uint64_t> knownStarts_;
  // Files recorded whose extent may still run into sectors the pass has
  // not read yet. Bounded: a volume of files claiming huge sizes must not
  // fill memory; a file dropped from here is still found damaged when it
  // is copied out.
  struct OpenExtent {
    uint32_t recordIndex;
    uint64_t first;
    uint64_t end;
  };
  std::vector<OpenExtent> openExtents_;
};

}  // namespace qm
