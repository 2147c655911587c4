#include "results/listing_order.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string_view>

#include "platform/text.h"

namespace qm {

namespace {

std::string_view NameView(const FoundFileRecord& record) {
  const void* end = std::memchr(record.name, 0, sizeof record.name);
  return {record.name, end ? static_cast<size_t>(static_cast<const char*>(end) - record.name)
                           : sizeof record.name};
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
  // Records are 346 bytes: sort positions, then move each record once.
  struct Key {
    std::string_view name;
    bool folder;
  };
  std::vector<Key> keys;
  keys.reserve(records.size());
  for (const FoundFileRecord& r : records) keys.push_back({NameView(r), r.isDirectory != 0});
  std::vector<uint32_t> order(records.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
    if (keys[x].folder != keys[y].folder) return keys[y].folder;
    return CompareNamesNoCase(keys[x].name, keys[y].name) < 0;
  });
  std::vector<FoundFileRecord> sorted;
  sorted.reserve(records.size());
  for (uint32_t i : order) sorted.push_back(records[i]);
  records.swap(sorted);
}

}  // namespace qm
