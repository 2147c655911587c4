// Helpers for building small scan logs in the results tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/scan_log_store.h"
#include "support/test_support.h"

namespace qm::test {

struct RecordSpec {
  std::string name;
  bool folder = false;
  uint32_t entryId = 0;
  uint32_t contentOk = 1;
  uint64_t fileSize = 0;
};

// Reserves and fills one record; returns its index.
inline uint32_t AddRecord(ScanLogStore& store, const RecordSpec& spec) {
  FoundFileRecord* slot = store.ReserveRecord();
  EXPECT_NE(slot, nullptr);
  if (slot == nullptr) return 0;
  slot->recordIndex = static_cast<uint32_t>(store.RecordCount());
  slot->engineKind = static_cast<uint32_t>(EngineKind::kFatQuick);
  slot->isDirectory = spec.folder ? 1 : 0;
  slot->entryId = spec.entryId;
  slot->contentOk = spec.contentOk;
  slot->fileSize = spec.fileSize;
  slot->writeTime = 133000000000000000ULL + slot->recordIndex;
  slot->SetName(spec.name);
  return slot->recordIndex;
}

// Adds a record and files it under `key`; folders also get a _DirInfo entry
// unless withDirInfo is false.
inline uint32_t AddFiled(ScanLogStore& store, uint64_t key, const RecordSpec& spec,
                         bool withDirInfo = true) {
  uint32_t index = AddRecord(store, spec);
  const bool named = spec.folder && withDirInfo;
  store.AddRelation(key, index, spec.entryId, named ? spec.name.c_str() : nullptr);
  return index;
}

inline std::vector<std::string> Names(const std::vector<FoundFileRecord>& records) {
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.Name());
  return names;
}

}  // namespace qm::test
