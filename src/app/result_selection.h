// The files chosen for recovery: a copy of each chosen record, kept in key
// order, which is also the order they are recovered in.
//
// A record's key puts the volume and the engine above its position in the
// scan log, so the same position found on two volumes, or by two engines,
// stays two separate entries.
#pragma once
#include <QString>
#include <cstdint>
#include <map>
#include <vector>
#include "results/found_file_record.h"

namespace qm {

class LanguageStore;

class ResultSelection {
 public:
  // Low half: recordIndex. High half: volumeLetter << 16 | low 16 bits of engineKind.
  static uint64_t KeyOf(const FoundFileRecord& record);

  // True when the record was not chosen before.
  bool Add(const FoundFileRecord& record);
  // True when the record was chosen.
  bool Remove(const FoundFileRecord& record);
  void AddAll(const std::vector<FoundFileRecord>& records);
  void RemoveAll(const std::vector<FoundFileRecord>& records);
  void Clear();

  bool Contains(const FoundFileRecord& record) const { return Contains(KeyOf(record)); }
  bool Contains(uint64_t key) const { return records_.count(key) != 0; }
  size_t Count() const { return records_.size(); }
  bool Empty() const { return records_.empty(); }
  // Sum of the chosen records' sizes.
  uint64_t TotalBytes() const { return totalBytes_; }

  // The chosen records in key order: the order they are recovered in.
  std::vector<FoundFileRecord> Records() const;

  // "Selected 1.50 MB in 3 files" from the language's MSG0804, or its
  // MSG0803 ("No files selected.") when nothing is chosen.
  QString SummaryText(const LanguageStore& language) const;

 private:
  std::map<uint64_t, FoundFileRecord> records_;
  uint64_t totalBytes_ = 0;
};

}  // namespace qm
