#include "session/scan_folders.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/text.h"
#include "session/scan_lock.h"

namespace qm::session {

namespace fs = std::filesystem;

namespace {

uint64_t BytesUnder(const fs::path& folder) {
  uint64_t bytes = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      const uint64_t size = it->file_size(sizeError);
      if (!sizeError) bytes += size;
    }
  }
  return bytes;
}

// Folders compared as the file system sees them; the index stores them with
// a trailing '/'.
fs::path Comparable(const fs::path& folder) {
  std::string text = folder.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(text, ec);
  return ec ? fs::path(text).lexically_normal() : canonical;
}

}  // namespace

uint64_t KeptScan::SectorsDone() const {
  return inHistory ? std::max(position.totalDone, info.sectorsDone) : info.sectorsDone;
}

uint64_t KeptScan::FilesFound() const {
  return inHistory && !info.finished ? std::max(position.filesFound, info.filesFound)
                                     : info.filesFound;
}

bool FindHistoryOfFolder(const ScanHistory& history, const fs::path& folder,
                         HistoryEntry& found) {
  const fs::path wanted = Comparable(folder);
  for (const HistoryEntry& entry : history.Entries()) {
    if (Comparable(entry.Folder()) == wanted) {
      found = entry;
      return true;
    }
  }
  return false;
}

fs::path FindLogIn(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    auto has = [&](const char* p) { return name.rfind(p, 0) == 0; };
    auto ends = [&](const std::string& s) {
      return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    };
    std::error_code typeError;
    if ((has("Fast_") || has("Pro_Fat_") || has("Pro_Ntfs_") || has("File_Type_")) &&
        !ends("_Relation") && !ends("_DirInfo") && entry.is_regular_file(typeError))
      return entry.path();
  }
  return {};
}

std::vector<KeptScan> ListKeptScans(const ScanHistory& history) {
  std::vector<KeptScan> scans;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(history.ScanLogPath(), ec)) {
    KeptScan scan;
    std::error_code typeError;
    if (!ParseDecimal(entry.path().filename().string(), scan.number) ||
        !entry.is_directory(typeError) || entry.is_symlink(typeError))
      continue;
    scan.folder = entry.path();
    scan.hasInfo = ReadScanInfo(scan.folder, scan.info);
    scan.bytesOnDisk = BytesUnder(scan.folder);
    scan.running = ScanFolderInUse(scan.folder);
    HistoryEntry stored{};
    if (scan.hasInfo && scan.info.deep() && FindHistoryOfFolder(history, scan.folder, stored)) {
      scan.inHistory = true;
      scan.position = {stored.extentStart, stored.extentLength, stored.extentDone,
                       stored.totalDone, stored.filesFound};
    }
    scans.push_back(std::move(scan));
  }
  std::sort(scans.begin(), scans.end(),
            [](const KeptScan& a, const KeptScan& b) { return a.number < b.number; });
  return scans;
}

int ResolveLogFolder(const ScanHistory& history, const std::string& given, fs::path& folder,
                     std::string& message) {
  uint64_t number = 0;
  if (given == "last") {
    const auto scans = ListKeptScans(history);
    auto it = std::find_if(scans.rbegin(), scans.rend(),
                           [](const KeptScan& s) { return !FindLogIn(s.folder).empty(); });
    if (it == scans.rend()) {
      message = "there is no kept scan yet; run 'quillmark-cli scan SOURCE' first";
      return err::kFileNotFound;
    }
    folder = it->folder;
    return err::kSuccess;
  }
  if (ParseDecimal(given, number)) {
    folder = history.ScanLogPath() / std::to_string(number);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      message = "there is no scan " + given + " (see 'quillmark-cli logs')";
      return err::kFileNotFound;
    }
    return err::kSuccess;
  }
  std::error_code ec;
  folder = fs::absolute(given, ec);
  if (ec) {
    message = "cannot use the folder " + given;
    return err::kInvalidParameter;
  }
  return err::kSuccess;
}

int RemoveKeptScan(ScanHistory& history, uint64_t number) {
  const fs::path folder = history.ScanLogPath() / std::to_string(number);
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(folder, ec))) return err::kFileNotFound;
  if (ScanFolderInUse(folder)) return err::kBusy;
  return history.DeleteHistoryEntry(folder);
}

}  // namespace qm::session
