#include "results/listing_order.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace qm {

namespace {

std::string_view NameView(const FoundFileRecord& record) {
  const void* end = std::memchr(record.name, 0, sizeof record.name);
  return {record.name, end ? static_cast<size_t>(static_cast<const char*>(end) - record.name)
                           : sizeof record.name};
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool ListsBefore(const FoundFileRecord& a, const FoundFileRecord& b) {
  const bool aFolder = a.isDirectory != 0;
  const bool bFolder = b.isDirectory != 0;
  if (aFolder != bFolder) return bFolder;
  return CompareNamesNoCase(NameView(a), NameView(b)) < 0;
}

void SortForListing(std::vector<FoundFileRecord>& records) {
  if (records.size() < 2) return;
  // Sorting a million names is dominated by the comparisons, so each name's
  // lower-cased form is made once. For ASCII names comparing those bytes
  // orders exactly as CompareNamesNoCase does; other names use it directly.
  struct Key {
    uint64_t prefix;  // first 8 folded bytes, big-endian, zero-padded
    uint64_t offset;
    uint32_t length;
    bool ascii;
    bool folder;
  };
  std::string folded;
  std::vector<Key> keys;
  keys.reserve(records.size());
  for (const FoundFileRecord& r : records) {
    const std::string_view name = NameView(r);
    Key key{0, folded.size(), static_cast<uint32_t>(name.size()), IsAscii(name),
            r.isDirectory != 0};
    for (size_t i = 0; i < name.size(); ++i) {
      const char c = name[i];
      const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
      folded.push_back(lower);
      if (i < 8) key.prefix |= uint64_t{static_cast<unsigned char>(lower)} << (56 - 8 * i);
    }
    keys.push_back(key);
  }
  auto before = [&](uint32_t x, uint32_t y) {
    const Key& a = keys[x];
    const Key& b = keys[y];
    if (a.folder != b.folder) return b.folder;
    if (a.ascii && b.ascii) {
      // Names hold no NUL, so the zero padding orders a shorter name first.
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      const int c = std::memcmp(folded.data() + a.offset, folded.data() + b.offset,
                                std::min(a.length, b.length));
      return c != 0 ? c < 0 : a.length < b.length;
    }
    return CompareNamesNoCase(NameView(records[x]), NameView(records[y])) < 0;
  };
  std::vector<uint32_t> order(records.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), before);
  // Records are 346 bytes: move each one once, into its sorted place.
  std::vector<FoundFileRecord> sorted;
  sorted.reserve(records.size());
  for (uint32_t i : order) sorted.push_back(records[i]);
  records.swap(sorted);
}

}  // namespace qm
