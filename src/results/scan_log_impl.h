// Inside of ScanLogStore: the open files, the write buffer and the indexes.
//
// Records are written with positioned writes at (index - 1) * 346, so the
// main file stays aligned to whole records even after a partial tail from an
// earlier crash or a failed write. Offsets and sizes are 64-bit throughout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <stop_token>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/file_handle.h"
#include "results/relation_text.h"
#include "results/scan_log_store.h"

namespace qm {

struct ScanLogStore::Impl {
  // Guards everything below. The writer fills a reserved slot without it;
  // that slot is only shown to other threads once the writer calls in again.
  mutable std::mutex mutex;
  std::thread::id writer;  // the thread of the latest writing call
  uint64_t published = 0;  // records other threads may read

  FileHandle mainFile;
  FileHandle relationFile;
  FileHandle dirInfoFile;
  std::filesystem::path mainPath;
  std::filesystem::path relationPath;
  std::filesystem::path dirInfoPath;

  std::vector<uint8_t> buffer;  // kBufferCapacity bytes once open
  int used = 0;
  uint64_t recordCount = 0;   // records reserved; the newest record's index
  uint64_t storedRecords = 0; // records handed to the main file
  int pendingError = 0;       // a buffer write that failed inside ReserveRecord

  bool includeDamaged = false;
  ListProgressFn listProgress = nullptr;
  void* listProgressUser = nullptr;

  RelationMap relations;
  bool relationsDirty = false;
  uint64_t relationFileBytes = 0;

  std::vector<DirInfoEntry> directories;
  size_t directoriesStored = 0;  // entries already in _DirInfo
  bool dirInfoHasTail = false;   // _DirInfo holds bytes past its last whole entry
  std::unordered_map<uint32_t, uint32_t> dirInfoById;  // first usable entry per directory id

  // Built on first need from the main file, then kept up to date as records
  // are written: what CountFiles and AncestorChain need of every record.
  bool recordIndexBuilt = false;
  std::vector<uint32_t> entryIds;        // [index - 1]
  std::vector<uint8_t> folderFlags;      // [index - 1], 1 for a folder
  std::unordered_map<uint32_t, uint32_t> folderById;  // first folder record per entryId

  // Built on first need from the relations: the first key (in key order)
  // whose list holds each record.
  bool ownersBuilt = false;
  std::vector<uint64_t> ownerKey;  // [index]
  std::vector<bool> hasOwner;      // [index]

  bool IsOpen() const { return mainFile.IsOpen(); }
  // Called at the start of every writer call: every record reserved before
  // it is complete, and the caller is the writer.
  void PublishReserved() {
    published = recordCount;
    writer = std::this_thread::get_id();
  }
  // The records a reader on this thread may see: all of them on the
  // writer's own thread, the published ones on any other.
  uint64_t VisibleRecords() const {
    return std::this_thread::get_id() == writer ? recordCount : published;
  }
  void Reset();

  int Open(const std::filesystem::path& folder, const std::string& baseName);
  void LoadRelations(uint64_t fileBytes);
  int LoadDirInfo(uint64_t fileBytes);
  void IndexDirInfo(size_t position);

  // Writes the used part of the buffer. keepOnFailure leaves the buffer as
  // it was so that a later flush can try again; otherwise the records are
  // given up and their place in the file stays a hole.
  int WriteBuffer(bool keepOnFailure);
  int Flush(bool reportPending);

  const FoundFileRecord* BufferedRecord(uint64_t index) const;
  int ReadRecord(uint64_t index, FoundFileRecord& out) const;
  // Reads the records of `indices` in list order, with few large reads.
  // Stops at the first record that cannot be read and returns its error;
  // records before it are already appended. `keep` decides what is appended.
  template <typename Keep>
  int ReadInListOrder(const std::vector<uint32_t>& indices, std::vector<FoundFileRecord>& out,
                      Keep keep, const std::stop_token& stop) const;

  int BuildRecordIndex();
  void NoteWritten(const uint8_t* records, size_t count);
  void AppendToRecordIndex(const uint8_t* records, size_t count);
  void BuildOwners();
  void NoteOwner(uint64_t key, uint32_t index);
  // The first folder record with this entryId: 0 when there is none.
  uint32_t FolderRecordOf(uint32_t directoryId) const;
};

}  // namespace qm
