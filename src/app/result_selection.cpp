#include "app/result_selection.h"

#include <algorithm>

#include "app/formatting.h"
#include "app/local_format.h"
#include "app/language_store.h"
#include "app/message_format.h"

namespace qm {

uint64_t ResultSelection::KeyOf(const FoundFileRecord& record) {
  const uint32_t high = (uint32_t{record.volumeLetter} << 16) | (record.engineKind & 0xFFFFu);
  return (uint64_t{high} << 32) | record.recordIndex;
}

std::vector<ResultSelection::Entry>::iterator ResultSelection::Find(uint64_t key) {
  return std::lower_bound(entries_.begin(), entries_.end(), key,
                          [](const Entry& entry, uint64_t wanted) { return entry.key < wanted; });
}

bool ResultSelection::Contains(uint64_t key) const {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                                   [](const Entry& entry, uint64_t wanted) { return entry.key < wanted; });
  return it != entries_.end() && it->key == key;
}

void ResultSelection::Keep(const SharedRecords& owner) {
  if (std::find(owners_.begin(), owners_.end(), owner) == owners_.end()) owners_.push_back(owner);
}

bool ResultSelection::Add(const FoundFileRecord& record) {
  const uint64_t key = KeyOf(record);
  const auto place = Find(key);
  if (place != entries_.end() && place->key == key) return false;
  copies_.push_back(record);  // a deque keeps its elements in place
  entries_.insert(place, Entry{key, &copies_.back()});
  totalBytes_ += record.fileSize;
  return true;
}

bool ResultSelection::Add(const FoundFileRecord& record, const SharedRecords& owner) {
  const uint64_t key = KeyOf(record);
  const auto place = Find(key);
  if (place != entries_.end() && place->key == key) return false;
  Keep(owner);
  entries_.insert(place, Entry{key, &record});
  totalBytes_ += record.fileSize;
  return true;
}

bool ResultSelection::Remove(const FoundFileRecord& record) {
  const uint64_t key = KeyOf(record);
  const auto place = Find(key);
  if (place == entries_.end() || place->key != key) return false;
  totalBytes_ -= place->record->fileSize;
  entries_.erase(place);
  return true;
}

void ResultSelection::AddAll(const std::vector<FoundFileRecord>& records) {
  AddAll(std::make_shared<const std::vector<FoundFileRecord>>(records));
}

void ResultSelection::AddAll(const SharedRecords& records) {
  if (!records || records->empty()) return;
  // The new records in key order, merged with the chosen ones in one pass.
  std::vector<Entry> added;
  added.reserve(records->size());
  for (const FoundFileRecord& record : *records) added.push_back(Entry{KeyOf(record), &record});
  const auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
  std::sort(added.begin(), added.end(), byKey);
  std::vector<Entry> merged;
  merged.reserve(entries_.size() + added.size());
  auto old = entries_.begin();
  for (const Entry& entry : added) {
    while (old != entries_.end() && old->key < entry.key) merged.push_back(*old++);
    if ((old != entries_.end() && old->key == entry.key) || (!merged.empty() && merged.back().key == entry.key))
      continue;  // chosen already
    merged.push_back(entry);
    totalBytes_ += entry.record->fileSize;
  }
  merged.insert(merged.end(), old, entries_.end());
  entries_ = std::move(merged);
  Keep(records);
}

void ResultSelection::RemoveAll(const std::vector<FoundFileRecord>& records) {
  std::vector<uint64_t> keys;
  keys.reserve(records.size());
  for (const FoundFileRecord& record : records) keys.push_back(KeyOf(record));
  std::sort(keys.begin(), keys.end());
  std::erase_if(entries_, [&](const Entry& entry) {
    if (!std::binary_search(keys.begin(), keys.end(), entry.key)) return false;
    totalBytes_ -= entry.record->fileSize;
    return true;
  });
}

void ResultSelection::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  owners_.clear();
  copies_.clear();
  totalBytes_ = 0;
}

std::vector<FoundFileRecord> ResultSelection::Records() const {
  std::vector<FoundFileRecord> out;
  out.reserve(entries_.size());
  for (const Entry& entry : entries_) out.push_back(*entry.record);
  return out;
}

QString ResultSelection::SummaryText(const LanguageStore& language) const {
  if (entries_.empty()) return language.Text("Messages", "MSG0803");
  const QString size = LocalSize(static_cast<int64_t>(totalBytes_), language);
  return FillMessage(language.Text("Messages", entries_.size() == 1 ? "MSG1602" : "MSG0804"),
                     {size, QString::number(static_cast<qulonglong>(entries_.size()))});
}

}  // namespace qm
