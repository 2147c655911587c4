// The NTFS quick scan proper: one pass over the live $MFT for deleted file
// records, then one pass over the directories those files lie in.
//
// No index (B-tree) is walked. A deleted file's folder comes from the parent
// reference of its first $FILE_NAME; following parents up to the root gives
// its depth and every folder on the way, live or deleted. A folder whose
// record no longer holds a directory becomes "LostFolder<n>" in the root, so
// the files that name it stay visible.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engines/file_recovery_parse.h"
#include "engines/ntfs/ntfs_file_name.h"
#include "engines/skipped_areas.h"
#include "engines/ntfs/ntfs_volume.h"
#include "engines/signatures/signature_catalogue.h"
#include "results/scan_log_store.h"

namespace qm::ntfs {

class NtfsMftScanner {
 public:
  // Records of the $MFT read per step of the pass.
  static constexpr uint32_t kRecordsPerStep = 1024;
  // The time estimate is refreshed at most this often.
  static constexpr int64_t kEstimateIntervalMs = 5000;
  // Folder chains longer than this are cut (a path of 32,767 characters
  // cannot hold more levels than that of names of 8 or more characters).
  static constexpr size_t kMaxDepth = 4096;

  NtfsMftScanner(const NtfsVolume& volume, ScanLogStore& log, SignatureScanContext& signatures,
                 uint16_t volumeLetter)
      : volume_(volume), log_(log), signatures_(signatures), volumeLetter_(volumeLetter) {}

  void SetProgress(ScanProgressFn progress, void* user, int scale) {
    progress_ = progress;
    user_ = user;
    scale_ = scale;
  }

  // Both passes; 0, the $MFT read error that ended the first pass, or the
  // progress callback's stopping value (then no folder record is written).
  int Run();

  // Folder records read to follow parent chains (each at most once).
  uint64_t parentRecordReads() const { return parentRecordReads_; }
  const std::vector<uint32_t>& pendingDirectories() const { return pending_; }
  // Records of the $MFT that could not be read and were skipped.
  const SkippedAreas& skipped() const { return skipped_; }

 private:
  struct FolderNode {
    bool continues = false;  // a directory record with a $FILE_NAME
    uint32_t parent = 0;
    int64_t depth = -1;  // depth a file inside it gets; -1 until known
  };

  int MftPass();
  void ParseDeletedRecord(MutableBytes record, uint32_t number, uint64_t sector);
  void DirectoryPass();
  void WriteDirectory(uint32_t number);
  void WriteLostFolder(uint32_t number);
  // Depth of a file whose $FILE_NAME names `parent`; queues every folder on
  // the way to the root for the directory pass.
  uint32_t DepthUnder(uint32_t parent);
  FolderNode& Folder(uint32_t number);
  void QueueDirectory(uint32_t number);
  uint32_t ContentOk(Bytes record, const std::string& name);
  void FillCommon(FoundFileRecord& r, const RecordSummary& s, uint32_t number, uint64_t sector) const;
  void Append(const FoundFileRecord& r, uint64_t key, uint32_t directoryId, const char* name);
  int Report(uint64_t done, uint64_t total);

  const NtfsVolume& volume_;
  ScanLogStore& log_;
  SignatureScanContext& signatures_;
  uint16_t volumeLetter_;
  ScanProgressFn progress_ = nullptr;
  void* user_ = nullptr;
  int scale_ = 100;

  std::vector<uint32_t> pending_;
  std::unordered_set<uint32_t> queued_;
  std::unordered_map<uint32_t, FolderNode> folders_;
  uint64_t parentRecordReads_ = 0;

  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastEstimate_;
  int64_t secondsLeft_ = -1;
  SkippedAreas skipped_;
};

}  // namespace qm::ntfs
