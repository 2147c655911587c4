// ScanLogStore: one scan log, the three files every engine writes its
// results to and every view reads them back from.
//
//   <base>            FoundFileRecord entries, 346 bytes each, no header
//   <base>_Relation   " | <key> - [i,j,...]" per directory key, ascending
//   <base>_DirInfo    268-byte {directoryId, recordIndex, name} entries
//
// A directory key is depth * 2^32 + directory id (the folder's entryId); the
// smallest key present stands for the root.
//
// Threads: one writer (ReserveRecord, AddRelation, FlushScanLog, CloseScanLog,
// called from one thread at a time) and any number of readers
// (ListChildren, CountFiles, AncestorChain, ListByCategory, ReadRecord,
// RecordCount) at the same time. Readers never write to the files; a reader
// on another thread sees the records the writer had finished when it last
// called in (a reserved slot is finished by the writer's next call), the
// writer sees all of its own. Opening and closing must not overlap any other
// call. The reads that can take long stop with err::kCancelled once their
// stop token is asked to stop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/filetime.h"
#include "platform/file_handle.h"
#include "results/found_file_record.h"

namespace qm {

// Progress of a category listing: (user, percent, 0); non-zero cancels.
using ListProgressFn = int (*)(void* user, int percent, int reserved);

#pragma pack(push, 1)
struct DirInfoEntry {
  uint32_t directoryId;
  uint32_t recordIndex;
  char name[260];
};
#pragma pack(pop)
static_assert(sizeof(DirInfoEntry) == 268);

inline uint64_t DirectoryKey(uint32_t depth, uint32_t directoryId) {
  return (uint64_t{depth} << 32) | directoryId;
}

// "Fast_%lld_%d%d%d%d%2d" and its siblings: prefix, absolute volume start,
// year, month, day, hour without padding, minute padded to width 2 by a space.
std::string MakeLogBaseName(const char* prefix, uint64_t volumeStart, const CivilTime& localTime);

// Whether a ListByCategory result means the listing is not whole: a read
// error or a cancel, as opposed to 1 (listed) and 0 (nothing to list).
inline bool ListingFailed(int result) { return result != 0 && result != 1; }

class ScanLogStore {
 public:
  static constexpr int kBufferCapacity = 69200;  // 200 records

  ScanLogStore();
  ~ScanLogStore();
  ScanLogStore(const ScanLogStore&) = delete;
  ScanLogStore& operator=(const ScanLogStore&) = delete;

  // Opens (creating or appending to) the log `baseName` in `folder`
  // (created with its parents when missing). An absolute baseName opens that
  // log where it lies, whatever the folder; a relative name holding a '/' is
  // refused (123).
  int OpenScanLogIn(const std::filesystem::path& folder, const std::string& baseName);

  // A zero-filled slot in the write buffer; its index is RecordCount(). The
  // engine sets recordIndex itself. Null when no log is open.
  FoundFileRecord* ReserveRecord();
  // Files recordIndex under directoryKey; a non-null name (a folder) also
  // adds a _DirInfo entry.
  void AddRelation(uint64_t directoryKey, uint32_t recordIndex, uint32_t directoryId,
                   const char* name);
  int FlushScanLog();
  void CloseScanLog();
  // Changes the contentOk field of a record already written: a carved
  // file's extent can turn out to hold unreadable sectors after its record
  // was made. 0, 87 for a record that does not exist, or an OS error.
  int SetContentOk(uint32_t recordIndex, uint32_t value);

  int ListChildren(uint64_t directoryKey, std::vector<FoundFileRecord>& out,
                   std::stop_token stop = {});
  int CountFiles(uint64_t directoryKey, uint32_t& count, std::stop_token stop = {});
  // Folder records from the record's parent up to (not including) the root.
  int AncestorChain(const FoundFileRecord& record, std::vector<FoundFileRecord>& out);
  // 1 when the whole main file was read; 0 when no log is open; the error
  // code when the main file could not be opened or read part-way (the
  // records before the failure are appended); err::kCancelled once stopped,
  // or a progress callback's non-zero answer. ListingFailed tells these apart.
  int ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out,
                     std::stop_token stop = {});
  // Reads record `recordIndex` (1-based). 0, 87 or an OS error.
  int ReadRecord(uint32_t recordIndex, FoundFileRecord& out);

  uint64_t RecordCount() const;
  int SetListProgress(ListProgressFn callback, void* user);
  // Damaged photos (IsDamagedPhoto) are left out of listings unless included here.
  void SetIncludeDamaged(bool include);

  bool IsOpen() const;
  const std::filesystem::path& MainPath() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
