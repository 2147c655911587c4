// What file extraction needs from an engine: the bytes of a found file, and
// the folder tree of its scan log. Each engine locates content its own way
// (a FAT cluster chain, NTFS data runs, a carved extent); copying it out,
// naming the copies and walking folders is the same for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "engines/extraction/recovery_problem.h"
#include "results/found_file_record.h"
#include "results/scan_log_store.h"

namespace qm {

// The largest cluster a found file's record may claim (clusterBytes). No file
// system comes near it (NTFS stops at 2 MiB, exFAT at 32 MiB); a record
// claiming more, or a lost folder's kNoClusterChain marker, has nothing to
// extract.
inline constexpr uint32_t kMaxClusterBytes = 104857600;

// Receives one piece of content; a non-zero result stops the read and
// becomes its result.
using ContentSink = std::function<int(const uint8_t* data, size_t length)>;

class ContentReader {
 public:
  virtual ~ContentReader() = default;
  // Streams the record's content in file order, never more than fileSize
  // bytes in all. 0 when all fileSize bytes were delivered; otherwise the
  // sink's stopping value or an error code (pieces already delivered stay
  // delivered; 38 when the content ends before fileSize). Sectors that
  // cannot be read do not stop it: they are delivered as zeros and noted
  // with NoteUnreadable.
  virtual int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) = 0;

  // The parts of the content delivered since the last call that were
  // zeros standing in for unreadable sectors, in file order; clears them.
  std::vector<ByteRange> TakeUnreadable() { return std::exchange(unreadable_, {}); }

 protected:
  // For ReadFileContent: `length` bytes from `offset` of the file could not
  // be read and went out as zeros.
  void NoteUnreadable(uint64_t offset, uint64_t length) {
    if (length == 0) return;
    if (!unreadable_.empty() && unreadable_.back().offset + unreadable_.back().length == offset) {
      unreadable_.back().length += length;
      return;
    }
    unreadable_.push_back({offset, length});
  }

 private:
  std::vector<ByteRange> unreadable_;
};

class FolderLister {
 public:
  virtual ~FolderLister() = default;
  // The records filed directly in `folder`, which lies at `depth` of the
  // scanned tree (a folder in the root has depth 1).
  virtual int ListFolder(const FoundFileRecord& folder, uint32_t depth,
                         std::vector<FoundFileRecord>& out) = 0;
  // The folder's depth in the scanned tree.
  virtual int FolderDepth(const FoundFileRecord& folder, uint32_t& depth) = 0;
};

// A folder's depth from its chain of ancestors in a scan log: the folders
// between it and the root, plus one.
int FolderDepthFromLog(ScanLogStore& log, const FoundFileRecord& folder, uint32_t& depth);

}  // namespace qm
