// CFastFatRecovery: the quick scan of a FAT12/16/32 volume.
//
// Walks the directory tree from the root, breadth first, and records every
// deleted file, every file inside a deleted folder, and the folders on the
// way to them in a "Fast_" scan log. Content is read back by following the
// cluster chain from a record's first cluster; where a deletion cleared the
// chain, the file is taken to go on in the next free clusters.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "disk/sector_source.h"
#include "engines/fat/fat_cluster_bitmap.h"
#include "engines/fat/fat_volume.h"
#include "engines/scan_log_engine.h"
#include "engines/skipped_areas.h"
#include "engines/signatures/signature_catalogue.h"

namespace qm {

struct FatDirEntry;

class CFastFatRecovery : public ScanLogEngine {
 public:
  CFastFatRecovery();
  ~CFastFatRecovery() override;

  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;
  int Scan(const char* scanLogName) override;
  int NextFreeExtent(uint64_t* start, uint64_t* length) override;
  int BuildClusterBitmap() override;
  // FAT32 files the root under its first cluster, FAT12/16 under 0.
  uint32_t RootId() const override;

  // Read access for tests and the deep scan.
  const FatVolume& volume() const { return volume_; }
  const SectorSource& source() const { return source_; }

 private:
  // A folder met during the walk, keyed by its first cluster.
  struct FolderInfo {
    FoundFileRecord record;
    uint32_t parent = 0;  // directory id of the folder it lies in
    uint32_t depth = 0;   // the root is 0, a folder in the root 1
  };
  // Long-name pieces collected in front of a short entry.
  struct LongNameCollector {
    std::u16string units;
    int pieces = 0;
    void Clear() {
      units.clear();
      pieces = 0;
    }
  };

  int FinishOpen(int rc, uint16_t volumeLetter);
  // Warnings about the volume as a whole: cut short, or no root folder.
  void NoteVolumeDamage();

  // The walk (fast_fat_scan.cpp).
  int WalkAll();
  int WalkFolder(uint32_t folderId);
  void HandleEntry(const uint8_t* entry, size_t available, uint64_t anchorSector,
                   uint32_t folderId, uint32_t depth, bool inheritedDeleted,
                   LongNameCollector& longName);
  void AddFolder(const FatDirEntry& e, const std::string& name, uint64_t anchorSector,
                 uint32_t folderId, uint32_t depth, bool deleted);
  void AddFile(const FatDirEntry& e, const std::string& name, uint64_t anchorSector,
               uint32_t folderId, uint32_t depth);
  void MarkPathToWrite(uint32_t folderId);
  int WriteFolderRecords();
  uint32_t EntryFirstCluster(const FatDirEntry& e, const std::string& name, bool directory);
  bool ReadClusterStart(uint32_t cluster, std::vector<uint8_t>& sector);
  int ContentOk(uint32_t cluster, const std::string& extension);
  void FillCommon(FoundFileRecord& r, const FatDirEntry& e, uint64_t anchorSector) const;
  int ReportProgress(int step, int64_t secondsLeft);
  int PeriodicProgress();

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override;
  int FillUnreadable(uint64_t offset, uint32_t bytes, const FoundFileRecord& record,
                     uint64_t remaining, uint32_t& got);

  uint64_t partitionStartPending_ = 0;
  uint64_t partitionSectorsPending_ = 0;
  uint16_t volumeLetter_ = 0;  // the caller's tag for records, not a drive letter
  SectorSource source_;
  FatVolume volume_;
  FatClusterBitmap bitmap_;
  SignatureScanContext signatureContext_;
  std::vector<uint8_t> workBuffer_;
  // Directory areas the last walk could not read.
  SkippedAreas skipped_;

  // State of one scan.
  std::map<uint32_t, FolderInfo> folders_;
  std::vector<uint32_t> foldersToWrite_;
  std::unordered_set<uint32_t> markedToWrite_;
  std::unordered_set<uint32_t> walked_;
  std::deque<uint32_t> queue_;
  uint64_t filesFound_ = 0;
  int stopResult_ = 0;
  std::chrono::steady_clock::time_point scanStarted_;
  std::chrono::steady_clock::time_point lastReport_;
  int periodicStep_ = 0;
};

}  // namespace qm
