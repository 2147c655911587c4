// A scan log read back from hostile files: the main file of 346-byte
// records, the "_Relation" text and the "_DirInfo" entries, as a view lists,
// counts and resolves paths, and as a resumed deep scan appends to them.
//
// Input layout: two little-endian u32 lengths (of the _Relation part, then
// of the _DirInfo part), those two parts, and the main file as the rest.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "fuzz_workspace.h"
#include "results/categories.h"
#include "results/scan_log_store.h"

namespace {

constexpr char kBase[] = "Fast_0_20261210 0";
// Folders listed per input.
constexpr size_t kMaxFolders = 64;

uint32_t TakeU32(const uint8_t*& data, size_t& size) {
  uint32_t v = 0;
  const size_t n = std::min<size_t>(size, 4);
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  auto& workspace = qm::fuzz::FuzzWorkspace::Get();
  const uint32_t relationField = TakeU32(data, size);
  const uint32_t dirInfoField = TakeU32(data, size);
  const size_t relationBytes = std::min<size_t>(relationField, size);
  const size_t dirInfoBytes = std::min<size_t>(dirInfoField, size - relationBytes);
  const std::filesystem::path folder = workspace.FreshScanFolder();
  const std::string base = kBase;
  workspace.WriteFile("scan/" + base + "_Relation", data, relationBytes);
  workspace.WriteFile("scan/" + base + "_DirInfo", data + relationBytes, dirInfoBytes);
  workspace.WriteFile("scan/" + base, data + relationBytes + dirInfoBytes,
                      size - relationBytes - dirInfoBytes);

  qm::ScanLogStore store;
  if (store.OpenScanLogIn(folder, base) != 0) return 0;
  const uint64_t records = store.RecordCount();

  // Breadth first from the keys a root can have, into every folder listed.
  std::deque<uint64_t> keys = {qm::DirectoryKey(0, 0), qm::DirectoryKey(0, 2),
                               qm::DirectoryKey(0, 5)};
  std::set<uint64_t> seen;
  std::vector<qm::FoundFileRecord> children;
  while (!keys.empty() && seen.size() < kMaxFolders) {
    const uint64_t key = keys.front();
    keys.pop_front();
    if (!seen.insert(key).second) continue;
    children.clear();
    store.ListChildren(key, children);
    uint32_t count = 0;
    store.CountFiles(key, count);
    const uint32_t depth = static_cast<uint32_t>(key >> 32);
    for (const qm::FoundFileRecord& r : children) {
      std::vector<qm::FoundFileRecord> chain;
      store.AncestorChain(r, chain);
      if (r.isDirectory && depth < UINT32_MAX) keys.push_back(qm::DirectoryKey(depth + 1, r.entryId));
    }
  }
  std::vector<qm::FoundFileRecord> listed;
  store.ListByCategory(qm::kPhotoList + "|" + qm::kDocumentList + "|*.other", listed);
  qm::FoundFileRecord record;
  for (uint32_t index : {uint32_t{0}, uint32_t{1}, static_cast<uint32_t>(records),
                         static_cast<uint32_t>(records + 1)}) {
    store.ReadRecord(index, record);
  }

  // A resumed scan goes on writing to the same log.
  if (qm::FoundFileRecord* slot = store.ReserveRecord()) {
    slot->recordIndex = static_cast<uint32_t>(store.RecordCount());
    slot->SetName("resumed.txt");
    store.AddRelation(qm::DirectoryKey(0, 0), slot->recordIndex, 0, nullptr);
  }
  store.FlushScanLog();
  children.clear();
  store.ListChildren(qm::DirectoryKey(0, 0), children);
  store.CloseScanLog();
  return 0;
}
