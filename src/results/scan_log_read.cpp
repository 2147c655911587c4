// Reading a scan log back: single records, folder listings, subtree counts
// and the folder chain of a record.
#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <numeric>
#include <unordered_set>

#include "platform/errors.h"
#include "results/categories.h"
#include "results/listing_order.h"
#include "results/scan_log_impl.h"

namespace qm {

namespace {

constexpr uint64_t kRecordSize = kFoundFileRecordSize;
// Reads of the main file cover up to this many records at once (~1 MiB).
constexpr uint32_t kRecordsPerRead = 3032;
// Records this close together in a listing are read in one go.
constexpr uint32_t kMaxGap = 32;

}  // namespace

const FoundFileRecord* ScanLogStore::Impl::BufferedRecord(uint64_t index) const {
  if (index <= storedRecords || index > recordCount) return nullptr;
  return reinterpret_cast<const FoundFileRecord*>(buffer.data() +
                                                  (index - storedRecords - 1) * kRecordSize);
}

int ScanLogStore::Impl::ReadRecord(uint64_t index, FoundFileRecord& out) const {
  if (index == 0 || index > VisibleRecords()) return err::kInvalidParameter;
  if (const FoundFileRecord* buffered = BufferedRecord(index)) {
    std::memcpy(&out, buffered, kRecordSize);
    return err::kSuccess;
  }
  size_t got = 0;
  int r = mainFile.ReadAt((index - 1) * kRecordSize, &out, kRecordSize, got);
  if (r != 0) return r;
  return got == kRecordSize ? err::kSuccess : err::kHandleEof;
}

template <typename Keep>
int ScanLogStore::Impl::ReadInListOrder(const std::vector<uint32_t>& indices,
                                        std::vector<FoundFileRecord>& out, Keep keep,
                                        const std::stop_token& stop) const {
  const size_t n = indices.size();
  // Visit the records in file order, in runs of nearby records, then hand
  // them out in list order.
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return indices[a] < indices[b]; });
  std::vector<FoundFileRecord> records(n);
  std::vector<int> errors(n, 0);
  std::vector<uint8_t> chunk;

  size_t i = 0;
  while (i < n) {
    if (stop.stop_requested()) return err::kCancelled;
    const uint64_t first = indices[order[i]];
    if (first > storedRecords) {  // still in the write buffer (or not a record)
      errors[order[i]] = ReadRecord(first, records[order[i]]);
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < n && indices[order[j]] <= storedRecords &&
           indices[order[j]] - indices[order[j - 1]] <= kMaxGap &&
           indices[order[j]] - first < kRecordsPerRead) {
      ++j;
    }
    const uint64_t last = indices[order[j - 1]];
    chunk.resize((last - first + 1) * kRecordSize);
    size_t got = 0;
    int r = mainFile.ReadAt((first - 1) * kRecordSize, chunk.data(), chunk.size(), got);
    for (size_t k = i; k < j; ++k) {
      const uint64_t offset = (indices[order[k]] - first) * kRecordSize;
      if (offset + kRecordSize <= got) {
        std::memcpy(&records[order[k]], chunk.data() + offset, kRecordSize);
      } else {
        errors[order[k]] = r != 0 ? r : err::kHandleEof;
      }
    }
    i = j;
  }
  out.reserve(out.size() + n);
  for (size_t k = 0; k < n; ++k) {
    if (errors[k] != 0) return errors[k];
    if (keep(records[k])) out.push_back(records[k]);
  }
  return err::kSuccess;
}

int ScanLogStore::Impl::BuildRecordIndex() {
  if (recordIndexBuilt) return err::kSuccess;
  entryIds.clear();
  folderFlags.clear();
  folderById.clear();
  entryIds.reserve(storedRecords);
  folderFlags.reserve(storedRecords);
  std::vector<uint8_t> chunk(
      static_cast<size_t>(std::min<uint64_t>(kRecordsPerRead, storedRecords)) * kRecordSize);
  for (uint64_t done = 0; done < storedRecords;) {
    const uint64_t count = std::min<uint64_t>(kRecordsPerRead, storedRecords - done);
    size_t got = 0;
    int r = mainFile.ReadAt(done * kRecordSize, chunk.data(), count * kRecordSize, got);
    if (r == 0 && got != count * kRecordSize) r = err::kHandleEof;
    if (r != 0) return r;
    AppendToRecordIndex(chunk.data(), count);
    done += count;
  }
  recordIndexBuilt = true;
  return err::kSuccess;
}

uint32_t ScanLogStore::Impl::FolderRecordOf(uint32_t directoryId) const {
  if (auto it = folderById.find(directoryId); it != folderById.end()) return it->second;
  for (uint64_t index = storedRecords + 1; index <= VisibleRecords(); ++index) {
    const FoundFileRecord* record = BufferedRecord(index);
    if (record->isDirectory != 0 && record->entryId == directoryId) {
      return static_cast<uint32_t>(index);
    }
  }
  return 0;
}

void ScanLogStore::Impl::BuildOwners() {
  if (ownersBuilt) return;
  ownerKey.assign(recordCount + 1, 0);
  hasOwner.assign(recordCount + 1, false);
  ownersBuilt = true;
  for (const auto& [key, list] : relations) {
    for (uint32_t index : list) NoteOwner(key, index);
  }
}

void ScanLogStore::Impl::NoteOwner(uint64_t key, uint32_t index) {
  if (!ownersBuilt) return;
  if (index >= ownerKey.size()) {
    ownerKey.resize(std::max<uint64_t>(index + 1, recordCount + 1), 0);
    hasOwner.resize(ownerKey.size(), false);
  }
  if (!hasOwner[index] || key < ownerKey[index]) {
    ownerKey[index] = key;
    hasOwner[index] = true;
  }
}

int ScanLogStore::ReadRecord(uint32_t recordIndex, FoundFileRecord& out) {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->IsOpen()) return err::kInvalidHandle;
  return impl_->ReadRecord(recordIndex, out);
}

int ScanLogStore::ListChildren(uint64_t directoryKey, std::vector<FoundFileRecord>& out,
                               std::stop_token stop) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  if (!s.IsOpen()) return err::kInvalidHandle;
  try {
    if (s.relations.empty()) return err::kSuccess;
    auto it = directoryKey == 0 ? s.relations.begin() : s.relations.find(directoryKey);
    if (it == s.relations.end()) return err::kSuccess;
    int r = s.ReadInListOrder(it->second, out,
                              [&](const FoundFileRecord& rec) {
                                return s.includeDamaged || !IsDamagedPhoto(rec);
                              },
                              stop);
    SortForListing(out);
    return r;
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

int ScanLogStore::CountFiles(uint64_t directoryKey, uint32_t& count, std::stop_token stop) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  count = 0;
  if (!s.IsOpen()) return err::kInvalidHandle;
  try {
    if (s.relations.empty()) return err::kSuccess;
    if (int r = s.BuildRecordIndex(); r != 0) return r;
    const uint64_t start = directoryKey == 0 ? s.relations.begin()->first : directoryKey;
    // Each key is visited once: two folders with the same id at the same
    // depth share one list, and a damaged log cannot make the walk loop.
    std::deque<uint64_t> queue{start};
    std::unordered_set<uint64_t> seen{start};
    uint64_t files = 0;
    const uint64_t visible = s.VisibleRecords();
    while (!queue.empty()) {
      if (stop.stop_requested()) return err::kCancelled;
      const uint64_t key = queue.front();
      queue.pop_front();
      auto it = s.relations.find(key);
      if (it == s.relations.end()) continue;
      const uint64_t childDepth = (key >> 32) + 1;
      for (uint32_t index : it->second) {
        if (index == 0 || index > visible) continue;
        bool folder = false;
        uint32_t entryId = 0;
        if (index <= s.entryIds.size()) {
          folder = s.folderFlags[index - 1] != 0;
          entryId = s.entryIds[index - 1];
        } else if (const FoundFileRecord* buffered = s.BufferedRecord(index)) {
          // Still in the write buffer: read from there, the file is not written.
          folder = buffered->isDirectory != 0;
          entryId = buffered->entryId;
        } else {
          continue;
        }
        if (folder) {
          const uint64_t child = DirectoryKey(static_cast<uint32_t>(childDepth), entryId);
          if (seen.insert(child).second) queue.push_back(child);
        } else {
          ++files;
        }
      }
    }
    count = static_cast<uint32_t>(std::min<uint64_t>(files, UINT32_MAX));
    return err::kSuccess;
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

int ScanLogStore::AncestorChain(const FoundFileRecord& record, std::vector<FoundFileRecord>& out) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mutex);
  if (!s.IsOpen()) return err::kInvalidParameter;
  try {
    if (s.relations.empty()) return err::kSuccess;
    s.BuildOwners();
    const uint64_t rootKey = s.relations.begin()->first;
    uint64_t current = record.recordIndex;
    std::unordered_set<uint64_t> visited{current};
    while (true) {
      if (current >= s.ownerKey.size() || !s.hasOwner[current]) return err::kSuccess;
      const uint64_t key = s.ownerKey[current];
      if (key == rootKey) return err::kSuccess;
      const uint32_t directoryId = static_cast<uint32_t>(key);

      FoundFileRecord parent{};
      uint64_t next = 0;
      if (auto it = s.dirInfoById.find(directoryId); it != s.dirInfoById.end()) {
        const DirInfoEntry& entry = s.directories[it->second];
        if (entry.recordIndex == current) return err::kSuccess;
        parent.isDirectory = 1;
        parent.recordIndex = entry.recordIndex;
        parent.entryId = directoryId;
        std::memcpy(parent.name, entry.name, sizeof parent.name);
        parent.name[sizeof parent.name - 1] = '\0';
        next = entry.recordIndex;
      } else {
        if (int r = s.BuildRecordIndex(); r != 0) return r;
        const uint32_t folder = s.FolderRecordOf(directoryId);
        if (folder == 0) return err::kInvalidParameter;
        if (folder == current) return err::kSuccess;
        if (int r = s.ReadRecord(folder, parent); r != 0) return r;
        next = folder;
      }
      // A damaged log can make folders each other's parents.
      if (!visited.insert(next).second) return err::kSuccess;
      out.push_back(parent);
      current = next;
    }
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

}  // namespace qm
