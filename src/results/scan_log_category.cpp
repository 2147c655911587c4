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

namespace {

// Whole records per read: ~1 MiB, so the pass runs at the speed of a plain
// sequential read of the file.
constexpr size_t kRecordsPerBlock = 3032;
constexpr size_t kMaxFilterBytes = 4096;

}  // namespace

int ScanLogStore::ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) {
  Impl& s = *impl_;
  if (!s.IsOpen()) return 0;
  try {
    s.Flush(false);
    FileHandle file;
    if (file.OpenReadOnly(s.mainPath) != 0) return 0;
    uint64_t fileBytes = 0;
    if (file.Size(fileBytes) != 0) return 0;
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    CategoryFilter category(CutUtf8(filter, kMaxFilterBytes), fileBytes);
    const uint64_t wholeBytes = fileBytes / kFoundFileRecordSize * kFoundFileRecordSize;
    std::vector<uint8_t> block(kRecordsPerBlock * kFoundFileRecordSize);
    uint64_t offset = 0;
    while (offset < wholeBytes) {
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
      if (s.listProgress) {
        const int answer = s.listProgress(s.listProgressUser,
                                          static_cast<int>(offset * 100 / fileBytes), 0);
        if (answer != 0) return answer;
      }
      if (r != 0 || got < wanted) break;
    }
    SortForListing(out);
    return 1;
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

}  // namespace qm
