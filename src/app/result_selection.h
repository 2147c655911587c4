// The files chosen for recovery, kept in key order, which is also the order
// they are recovered in. A record chosen from a group of results is not
// copied: the selection shares the group (which never changes) and points
// into it, so that ticking a million files costs 16 bytes each, not 346.
// A record handed in on its own is copied.
//
// A record's key puts the volume and the engine above its position in the
// scan log, so the same position found on two volumes, or by two engines,
// stays two separate entries.
#pragma once
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>
#include "results/found_file_record.h"

namespace qm {

class LanguageStore;

class ResultSelection {
 public:
  // Low half: recordIndex. High half: volumeLetter << 16 | low 16 bits of engineKind.
  static uint64_t KeyOf(const FoundFileRecord& record);

  using SharedRecords = std::shared_ptr<const std::vector<FoundFileRecord>>;

  // True when the record was not chosen before. The first form copies the
  // record; the second keeps `owner`, which must hold `record`.
  bool Add(const FoundFileRecord& record);
  bool Add(const FoundFileRecord& record, const SharedRecords& owner);
  // True when the record was chosen.
  bool Remove(const FoundFileRecord& record);
  void AddAll(const std::vector<FoundFileRecord>& records);  // copies them
  void AddAll(const SharedRecords& records);                  // shares them
  void RemoveAll(const std::vector<FoundFileRecord>& records);
  void Clear();

  bool Contains(const FoundFileRecord& record) const { return Contains(KeyOf(record)); }
  bool Contains(uint64_t key) const;
  size_t Count() const { return entries_.size(); }
  bool Empty() const { return entries_.empty(); }
  // Sum of the chosen records' sizes.
  uint64_t TotalBytes() const { return totalBytes_; }

  // The chosen records in key order: the order they are recovered in.
  std::vector<FoundFileRecord> Records() const;

  // "Selected 1.50 MB in 3 files" from the language's MSG0804, or its
  // MSG0803 ("No files selected.") when nothing is chosen.
  QString SummaryText(const LanguageStore& language) const;

 private:
  struct Entry {
    uint64_t key;
    const FoundFileRecord* record;
  };
  std::vector<Entry>::iterator Find(uint64_t key);
  void Keep(const SharedRecords& owner);

  std::vector<Entry> entries_;          // ascending key
  std::vector<SharedRecords> owners_;   // the groups entries point into
  std::deque<FoundFileRecord> copies_;  // records added on their own
  uint64_t totalBytes_ = 0;
};

}  // namespace qm
