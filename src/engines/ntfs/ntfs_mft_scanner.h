// The NTFS quick scan proper: one pass over the live $MFT, which notes every
// deleted file record and every directory's name and parent; then the
// content checks of the deleted files, in the order their data lies on disk;
// then the records are written with the folders they lie in.
//
// No index (B-tree) is walked. A deleted file's folder comes from the parent
// reference of its first $FILE_NAME; following parents up to the root gives
// its depth and every folder on the way, live or deleted. A folder whose
// record no longer holds a directory becomes "LostFolder<n>" in the root, so
// the files that name it stay visible; so does a folder whose parents lead
// round in a loop (or absurdly deep), where the loop is cut.
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
  // Deleted files the pass makes room for before it starts.
  static constexpr uint64_t kReservedFiles = 1 << 20;

  NtfsMftScanner(const NtfsVolume& volume, ScanLogStore& log, SignatureScanContext& signatures,
                 uint16_t volumeLetter)
      : volume_(volume), log_(log), signatures_(signatures), volumeLetter_(volumeLetter) {}

  void SetProgress(ScanProgressFn progress, void* user, int scale) {
    progress_ = progress;
    user_ = user;
    scale_ = scale;
  }

  // Both passes; 0, the $MFT read error that ended the first pass, or the
  // progress callback's stopping value (then the files found so far are
  // written, but no folder record).
  int Run();

  // Folder records read again after the $MFT pass to follow parent chains:
  // none, as the pass keeps each folder's name and parent.
  uint64_t parentRecordReads() const { return parentRecordReads_; }
  const std::vector<uint32_t>& pendingDirectories() const { return pending_; }
  // Records of the $MFT that could not be read and were skipped.
  const SkippedAreas& skipped() const { return skipped_; }
  // $MFT records that lie past the end of the source and were not read.
  uint64_t recordsPastSourceEnd() const { return tally_.recordsPastEnd; }
  // Folders filed as lost because their parents led round in a loop.
  uint64_t foldersCutFromLoops() const { return tally_.loopsCut; }
  // Records of deleted files and of folders whose update sequence showed a
  // write cut short: read only up to the first torn block.
  uint64_t tornRecords() const { return tally_.tornRecords; }

 private:
  struct FolderNode {
    bool continues = false;  // a directory record with a $FILE_NAME
    bool cut = false;        // its parent chain looped back: filed as lost
    uint32_t parent = 0;
    int64_t depth = -1;  // depth a file inside it gets; -1 until known
    uint64_t sector = 0;
    uint64_t created = 0, modified = 0, accessed = 0;
    std::string name;
  };
  // A deleted file noted by the pass, written once every folder is known.
  struct PendingFile {
    uint32_t number = 0;
    uint32_t parent = 0;
    uint64_t sector = 0;
    uint64_t size = 0;
    uint64_t created = 0, modified = 0, accessed = 0;
    std::string name;
    uint32_t contentOk = 1;
    uint64_t checkSector = 0;  // its data's first sector, still to be checked; 0 when done
  };

  int MftPass();
  void ParseRecord(MutableBytes record, uint32_t number, uint64_t sector);
  void NoteDirectory(Bytes record, uint32_t number, uint64_t sector);
  void NoteDeletedFile(Bytes record, uint32_t number, uint64_t sector, bool torn);
  void CheckContentInDiskOrder();
  void WriteFiles();
  void DirectoryPass();
  void WriteDirectory(uint32_t number);
  void WriteLostFolder(uint32_t number);
  // Depth of a file whose $FILE_NAME names `parent`; queues every folder on
  // the way to the root for the directory pass.
  uint32_t DepthUnder(uint32_t parent);
  FolderNode& Folder(uint32_t number);
  void QueueDirectory(uint32_t number);
  // The content check of a file that needs no sector of its own (resident,
  // compressed, no extension); otherwise sets file.checkSector.
  void PlanContentCheck(Bytes record, PendingFile& file);
  uint32_t CheckSector(uint64_t sector, const std::string& name);
  void FillCommon(FoundFileRecord& r, uint32_t number, uint64_t sector, const std::string& name,
                  uint64_t created, uint64_t modified, uint64_t accessed, uint64_t size) const;
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
  std::vector<PendingFile> files_;
  uint64_t parentRecordReads_ = 0;
  // What the last Run met along the way.
  struct Tally {
    uint64_t recordsPastEnd = 0;
    uint64_t loopsCut = 0;
    uint64_t tornRecords = 0;
  };
  Tally tally_;

  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastEstimate_;
  int64_t secondsLeft_ = -1;
  SkippedAreas skipped_;
};

}  // namespace qm::ntfs
