// The category listing: one sequential pass over the main file.
#include <fcntl.h>

#include <algorithm>
#include <new>

#include "platform/errors.h"
#include "platform/text.h"
#include "results/categories.h"
#include "results/listing_order.h"
#include "results/scan_log_impl.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

// Whole records per read: ~1 MiB, so the pass runs at the speed of a plain
// sequential read of the file.
constexpr size_t kRecordsPerBlock = 3032;
constexpr size_t kMaxFilterBytes = 4096;

// A failed read as ListByCategory reports it: never 1, which means success.
int ListingError(int code) { return code == 1 ? err::kReadFault : code; }

}  // namespace

int ScanLogStore::ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out,
                                 std::stop_token stop) {
  Impl& s = *impl_;
  try {
    // What the file holds and the finished records still in the write
    // buffer are taken under the lock; the long pass over the file runs
    // without it, so the writer goes on meanwhile. Nothing is flushed: a
    // reader never writes.
    uint64_t storedBytes = 0;
    std::vector<FoundFileRecord> buffered;
    fs::path mainPath;
    bool includeDamaged = false;
    ListProgressFn progress = nullptr;
    void* progressUser = nullptr;
    {
      std::lock_guard lock(s.mutex);
      if (!s.IsOpen()) return 0;
      storedBytes = s.storedRecords * kFoundFileRecordSize;
      for (uint64_t index = s.storedRecords + 1; index <= s.VisibleRecords(); ++index)
        buffered.push_back(*s.BufferedRecord(index));
      mainPath = s.mainPath;
      includeDamaged = s.includeDamaged;
      progress = s.listProgress;
      progressUser = s.listProgressUser;
    }
    // The log is open, so its main file exists: failing to open or read it
    // now is an error of the disk or the file, and a listing missing part
    // of the records must not pass for a whole one.
    FileHandle file;
    if (int r = file.OpenReadOnly(mainPath); r != 0) return ListingError(r);
    uint64_t fileBytes = 0;
    if (int r = file.Size(fileBytes); r != 0) return ListingError(r);
    const uint64_t wholeBytes = std::min(fileBytes, storedBytes);
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    CategoryFilter category(CutUtf8(filter, kMaxFilterBytes),
                            wholeBytes + buffered.size() * kFoundFileRecordSize);
    category.IncludeDamagedPhotos(includeDamaged);
    // A small log needs no megabyte of buffer.
    std::vector<uint8_t> block(static_cast<size_t>(
        std::min<uint64_t>(kRecordsPerBlock * kFoundFileRecordSize, wholeBytes)));
    uint64_t offset = 0;
    while (offset < wholeBytes) {
      if (stop.stop_requested()) return err::kCancelled;
      const size_t wanted = static_cast<size_t>(std::min<uint64_t>(block.size(), wholeBytes - offset));
      size_t got = 0;
      const int r = file.ReadAt(offset, block.data(), wanted, got);
      const size_t records = got / kFoundFileRecordSize;
      for (size_t i = 0; i < records; ++i) {
        const auto* record =
            reinterpret_cast<const FoundFileRecord*>(block.data() + i * kFoundFileRecordSize);
        if (category.Accepts(*record)) out.push_back(*record);
      }
      offset += records * kFoundFileRecordSize;
      if (progress) {
        const int answer = progress(progressUser, static_cast<int>(offset * 100 / wholeBytes), 0);
        if (answer != 0) return answer;
      }
      if (r != 0) return ListingError(r);
      // A file cut inside a record (shortened since it was opened) ends
      // the pass instead of asking for the same bytes forever.
      if (got < wanted || records == 0) break;
    }
    for (const FoundFileRecord& record : buffered)
      if (category.Accepts(record)) out.push_back(record);
    SortForListing(out);
    return 1;
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

}  // namespace qm
