// The history index "config" read from hostile bytes, then searched,
// updated and pruned the way a deep scan and "logs --remove" do it.
//
// Paths in the index are absolute and the ScanLog folder of a fuzz run is a
// fresh temporary one, so a folder stored as "$S/..." is rewritten to lie
// under it before the index is written. Any other folder is placed under a
// sibling of the ScanLog folder: the run may never aim deletions at the
// machine it runs on. Whatever the index says, nothing outside the ScanLog
// folder may be deleted, which a file beside that folder checks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_workspace.h"
#include "results/history_entry.h"
#include "results/scan_history.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxEntries = 8;

void Require(bool condition) {
  if (!condition) std::abort();
}

// The folder an entry names, kept inside the workspace (".." included).
fs::path Confine(const std::string& folder, const fs::path& root, const fs::path& scanLog) {
  const fs::path placed = folder.rfind("$S/", 0) == 0 ? scanLog / folder.substr(3)
                                                      : root / "elsewhere" / folder;
  const fs::path normal = placed.lexically_normal();
  const auto rel = normal.lexically_relative(root);
  if (rel.empty() || *rel.begin() == "..") return root / "elsewhere";
  return placed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  auto& workspace = qm::fuzz::FuzzWorkspace::Get();
  const fs::path scanLog = workspace.ScanLogFolder();
  const uint8_t sentinelByte = 1;
  const fs::path sentinel = workspace.WriteFile("outside", &sentinelByte, 1);

  // Counter, then whole entries with their folders moved under this run's
  // ScanLog folder, then any partial tail as it came.
  std::vector<uint8_t> index(data, data + std::min(size, qm::kHistoryHeaderSize));
  size_t offset = qm::kHistoryHeaderSize;
  std::vector<qm::HistoryEntry> entries;
  for (; offset + qm::kHistoryEntrySize <= size && entries.size() < kMaxEntries;
       offset += qm::kHistoryEntrySize) {
    qm::HistoryEntry e;
    std::memcpy(&e, data + offset, sizeof e);
    const fs::path folder = Confine(e.Folder(), workspace.root(), scanLog);
    if (!e.SetFolder(folder.string())) e.SetFolder((workspace.root() / "elsewhere").string());
    std::error_code ec;
    fs::create_directories(folder, ec);
    entries.push_back(e);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&e);
    index.insert(index.end(), bytes, bytes + sizeof e);
  }
  if (offset < size && entries.size() < kMaxEntries) index.insert(index.end(), data + offset, data + size);
  workspace.WriteFile("ScanLog/config", index.data(), index.size());

  qm::ScanHistory history(scanLog);
  const std::vector<qm::HistoryEntry> loaded = history.Entries();
  history.FolderCounter();
  for (const qm::HistoryEntry& e : loaded) {
    history.FindHistoryForVolume(e.driveNumber, e.volumeStart, e.volumeSectors, e.volumeBytes);
    history.CurrentScanFolder();
    history.FindHistoryForImage(e.ImagePath());
  }
  qm::ResumePoint resume;
  history.SaveHistoryEntry(0, 2048, 4096, 4096 * 512, resume, history.StartNewScanFolder());
  for (const qm::HistoryEntry& e : entries) history.DeleteHistoryEntry(e.Folder());
  history.ReleaseScanFolder();

  // Whatever the index named, the ScanLog folder and what lies beside it stay.
  Require(fs::exists(sentinel) && fs::is_directory(scanLog));
  qm::ScanHistory reloaded(scanLog);
  reloaded.Entries();
  return 0;
}
