// CFastNtfsRecovery: the quick scan of an NTFS volume.
//
// Reads the live $MFT through its own run list, lists every deleted file
// record with the folder path its parent references give, and writes the
// results into a "Fast_" scan log. Content comes back from the file's
// record: resident data from the record itself, non-resident data through
// its runs (sparse runs as zeros, compressed units decoded). For the
// combined deep scan it also hands out the runs of free clusters from the
// volume's allocation bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "engines/ntfs/ntfs_cluster_bitmap.h"
#include "engines/ntfs/ntfs_volume.h"
#include "engines/scan_log_engine.h"
#include "engines/signatures/signature_catalogue.h"

namespace qm {

class CFastNtfsRecovery : public ScanLogEngine {
 public:
  CFastNtfsRecovery();
  ~CFastNtfsRecovery() override;

  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;
  int Scan(const char* scanLogName) override;
  int NextFreeExtent(uint64_t* start, uint64_t* length) override;
  int BuildClusterBitmap() override;
  // The root folder's MFT record.
  uint32_t RootId() const override;

  // Read access for tests and the deep scan.
  const ntfs::NtfsVolume& volume() const { return volume_; }
  // Folder records read to follow parent chains in the last scan.
  uint64_t parentRecordReads() const { return parentRecordReads_; }

 private:
  int RunScan(const char* scanLogName);
  int FinishOpen(int rc, uint64_t startSector, uint64_t sectorCount, uint32_t deviceSectorSize,
                 uint16_t volumeLetter);
  // Warnings about the volume as a whole: cut short, or no usable $MFT.
  void NoteVolumeDamage();

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override;

  uint16_t volumeLetter_ = 0;
  uint64_t volumeSectorCount_ = 0;
  SectorSource source_;
  ntfs::NtfsVolume volume_;
  ntfs::NtfsClusterBitmap bitmap_;
  SignatureScanContext signatureContext_;
  uint64_t parentRecordReads_ = 0;
  int mftLoadResult_ = 0;
};

}  // namespace qm
