#include "app/result_selection.h"

#include <algorithm>

#include "app/formatting.h"
#include "app/language_store.h"
#include "app/message_format.h"

namespace qm {

uint64_t ResultSelection::KeyOf(const FoundFileRecord& record) {
  const uint32_t high = (uint32_t{record.volumeLetter} << 16) | (record.engineKind & 0xFFFFu);
  return (uint64_t{high} << 32) | record.recordIndex;
}

bool ResultSelection::Add(const FoundFileRecord& record) {
  const auto [it, added] = records_.try_emplace(KeyOf(record), record);
  if (added) totalBytes_ += record.fileSize;
  return added;
}

bool ResultSelection::Remove(const FoundFileRecord& record) {
  const auto it = records_.find(KeyOf(record));
  if (it == records_.end()) return false;
  totalBytes_ -= it->second.fileSize;
  records_.erase(it);
  return true;
}

void ResultSelection::AddAll(const std::vector<FoundFileRecord>& records) {
  // In key order most records go after the last one, which the map takes
  // without a search.
  std::vector<std::pair<uint64_t, const FoundFileRecord*>> sorted;
  sorted.reserve(records.size());
  for (const FoundFileRecord& record : records) sorted.emplace_back(KeyOf(record), &record);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [key, record] : sorted) {
    auto place = records_.end();
    if (!records_.empty() && key <= records_.rbegin()->first) {
      place = records_.lower_bound(key);
      if (place != records_.end() && place->first == key) continue;
    }
    records_.emplace_hint(place, key, *record);
    totalBytes_ += record->fileSize;
  }
}

void ResultSelection::RemoveAll(const std::vector<FoundFileRecord>& records) {
  for (const FoundFileRecord& record : records) Remove(record);
}

void ResultSelection::Clear() {
  records_.clear();
  totalBytes_ = 0;
}

std::vector<FoundFileRecord> ResultSelection::Records() const {
  std::vector<FoundFileRecord> out;
  out.reserve(records_.size());
  for (const auto& entry : records_) out.push_back(entry.second);
  return out;
}

QString ResultSelection::SummaryText(const LanguageStore& language) const {
  if (records_.empty()) return language.Text("Messages", "MSG0803");
  const QString size = QString::fromStdString(FormatSize(static_cast<int64_t>(totalBytes_)));
  return FillMessage(language.Text("Messages", "MSG0804"),
                     {size, QString::number(static_cast<qulonglong>(records_.size()))});
}

}  // namespace qm
