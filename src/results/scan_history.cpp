#include "results/scan_history.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/filetime.h"
#include "platform/user_folders.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

constexpr const char* kIndexName = "config";
constexpr const char* kIndexTempName = "config.tmp";
// A damaged index cannot make us read more than this many entries.
constexpr uint64_t kMaxEntries = 65536;

// Entries name folders with a trailing '/'; comparisons ignore it.
std::string WithoutTrailingSlash(std::string text) {
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool SameFolder(const std::string& a, const std::string& b) {
  return WithoutTrailingSlash(a) == WithoutTrailingSlash(b);
}

bool SameVolume(const HistoryEntry& e, int32_t driveNumber, uint64_t volumeStart,
                uint64_t volumeSectors) {
  return e.driveNumber == driveNumber && e.volumeStart == volumeStart &&
         e.volumeSectors == volumeSectors;
}

// An exclusive flock on a folder, held for the object's lifetime; nothing
// is locked when the folder cannot be opened.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

void SyncFolder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

uint64_t FileModificationTime(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return TimespecToFileTime(st.st_mtim);
}

ScanHistory::ScanHistory(fs::path scanLogFolder) { LoadLocked(std::move(scanLogFolder)); }

void ScanHistory::Load(fs::path scanLogFolder) {
  std::lock_guard lock(mutex_);
  LoadLocked(std::move(scanLogFolder));
}

void ScanHistory::LoadLocked(fs::path scanLogFolder) {
  scanLogFolder_ = std::move(scanLogFolder);
  entries_.clear();
  folderCounter_ = 0;
  matched_ = false;
  matchedFolder_.clear();

  std::error_code ec;
  const fs::path index = scanLogFolder_ / kIndexName;
  const fs::path temp = scanLogFolder_ / kIndexTempName;
  // config.tmp is only renamed once it was written completely, so a leftover
  // one without a config is the newest complete index.
  if (!fs::exists(index, ec) && fs::is_regular_file(temp, ec)) fs::rename(temp, index, ec);

  FileHandle file;
  if (file.OpenReadOnly(index) != 0) return;
  uint64_t size = 0;
  if (file.Size(size) != 0 || size < kHistoryHeaderSize) return;
  uint64_t count = std::min<uint64_t>((size - kHistoryHeaderSize) / kHistoryEntrySize, kMaxEntries);

  size_t got = 0;
  uint64_t counter = 0;
  if (file.ReadAt(0, &counter, sizeof counter, got) != 0 || got != sizeof counter) return;
  folderCounter_ = counter;
  if (count == 0) return;
  std::vector<HistoryEntry> entries(count);
  file.ReadAt(kHistoryHeaderSize, entries.data(), count * kHistoryEntrySize, got);
  entries.resize(got / kHistoryEntrySize);  // a failed read keeps what arrived
  entries_ = std::move(entries);
}

fs::path ScanHistory::ScanLogPath() const {
  std::lock_guard lock(mutex_);
  return scanLogFolder_;
}

uint64_t ScanHistory::FolderCounter() const {
  std::lock_guard lock(mutex_);
  return folderCounter_;
}

std::vector<HistoryEntry> ScanHistory::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

bool ScanHistory::Matched() const {
  std::lock_guard lock(mutex_);
  return matched_;
}

fs::path ScanHistory::NumberedFolder(uint64_t number) const {
  return scanLogFolder_ / (std::to_string(number) + "/");
}

fs::path ScanHistory::CurrentScanFolder() const {
  std::lock_guard lock(mutex_);
  if (matched_) return fs::path(WithoutTrailingSlash(matchedFolder_) + "/");
  return NumberedFolder(folderCounter_);
}

uint64_t ScanHistory::StoredCounterLocked() const {
  FileHandle file;
  uint64_t counter = 0;
  size_t got = 0;
  if (file.OpenReadOnly(scanLogFolder_ / kIndexName) != 0 ||
      file.ReadAt(0, &counter, sizeof counter, got) != 0 || got != sizeof counter)
    return 0;
  return counter;
}

fs::path ScanHistory::StartNewScanFolder() {
  std::lock_guard lock(mutex_);
  matched_ = false;
  matchedFolder_.clear();
  // Another process may have started folders since this index was loaded.
  folderCounter_ = std::max(folderCounter_, StoredCounterLocked());
  std::error_code ec;
  fs::create_directories(scanLogFolder_, ec);
  fs::path folder;
  // A number whose folder still exists holds a kept scan (or something the
  // user put there): it is skipped, never emptied. mkdir claims the number,
  // so two scans started at once never share a folder.
  for (int tries = 0; tries < 100000; ++tries) {
    ++folderCounter_;
    folder = NumberedFolder(folderCounter_);
    const fs::path bare(WithoutTrailingSlash(folder.string()));
    if (fs::exists(fs::symlink_status(bare, ec))) continue;
    // An entry left for a folder that is gone must not be resumed into the new scan.
    auto stale = std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) {
      return SameFolder(e.Folder(), folder.string());
    });
    if (stale != entries_.end()) entries_.erase(stale);
    if (::mkdir(bare.c_str(), 0700) == 0) break;
    if (errno != EEXIST) break;  // the caller's own open reports why
  }
  SaveLocked();
  return folder;
}

void ScanHistory::ReleaseScanFolder() {
  std::lock_guard lock(mutex_);
  if (folderCounter_ == 0) return;
  const fs::path bare(WithoutTrailingSlash(NumberedFolder(folderCounter_).string()));
  // Only an empty folder is given back; one that holds anything is kept.
  if (::rmdir(bare.c_str()) != 0 && errno != ENOENT) return;
  --folderCounter_;
  SaveLocked();
}

bool ScanHistory::IsInsideScanLog(const fs::path& folder) const {
  std::error_code ec;
  const fs::path target(WithoutTrailingSlash(folder.string()));
  if (target.empty() || target.is_relative()) return false;
  const fs::path base = fs::weakly_canonical(scanLogFolder_, ec);
  if (ec || base == base.root_path()) return false;
  const fs::path resolved = fs::weakly_canonical(target, ec);
  if (ec) return false;
  auto [b, r] = std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
  return b == base.end() && r != resolved.end();
}

bool ScanHistory::IsDeletableFolder(const fs::path& folder) const {
  std::error_code ec;
  const fs::path target(WithoutTrailingSlash(folder.string()));
  if (target.empty()) return false;
  // symlink_status does not follow a final symlink: a link is never a folder
  // we delete, whatever it points at.
  if (!fs::is_directory(fs::symlink_status(target, ec)) || ec) return false;
  const fs::path base = fs::canonical(scanLogFolder_, ec);
  if (ec || base == base.root_path()) return false;
  const fs::path resolved = fs::canonical(target, ec);
  if (ec) return false;
  auto [b, r] = std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
  return b == base.end() && r != resolved.end();
}

int ScanHistory::DeleteHistoryEntry(const fs::path& folder) {
  std::lock_guard lock(mutex_);
  return DeleteLocked(folder);
}

int ScanHistory::DeleteLocked(const fs::path& folder) {
  const std::string wanted = folder.string();
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const HistoryEntry& e) { return SameFolder(e.Folder(), wanted); });
  if (it != entries_.end()) {
    entries_.erase(it);
    // A removed entry must not come back at the next start and offer to
    // resume a scan whose logs are gone.
    SaveLocked();
  }
  return RemoveFolderTree(folder);
}

int ScanHistory::DropEntryLocked(std::vector<HistoryEntry>::iterator entry) {
  const std::string folder = entry->Folder();
  entries_.erase(entry);
  SaveLocked();
  return RemoveFolderTree(folder);
}

int ScanHistory::RemoveFolderTree(const fs::path& folder) const {
  std::error_code ec;
  const fs::path target(WithoutTrailingSlash(folder.string()));
  if (target.empty() || !fs::exists(fs::symlink_status(target, ec))) return err::kSuccess;
  if (!IsDeletableFolder(target)) return err::kAccessDenied;
  fs::remove_all(target, ec);
  return ec ? ErrorFromErrno(ec.value()) : err::kSuccess;
}

bool ScanHistory::MatchLocked(std::vector<HistoryEntry>::iterator entry, bool stillSame,
                              HistoryEntry* found) {
  // A stale entry (the volume or image changed since), or one whose folder
  // lies outside the ScanLog folder (a damaged or foreign index), is never
  // resumed: it is dropped with its logs.
  if (!stillSame || !IsInsideScanLog(entry->Folder())) {
    DropEntryLocked(entry);
    return false;
  }
  matched_ = true;
  matchedFolder_ = entry->Folder();
  if (found) *found = *entry;
  return true;
}

bool ScanHistory::FindHistoryForVolume(int32_t driveNumber, uint64_t volumeStart,
                                       uint64_t volumeSectors, uint64_t volumeBytes,
                                       HistoryEntry* found) {
  std::lock_guard lock(mutex_);
  matched_ = false;
  matchedFolder_.clear();
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) {
    return SameVolume(e, driveNumber, volumeStart, volumeSectors);
  });
  if (it == entries_.end()) return false;
  return MatchLocked(it, it->volumeBytes == volumeBytes, found);
}

bool ScanHistory::FindHistoryForImage(const std::string& imagePath, HistoryEntry* found) {
  std::lock_guard lock(mutex_);
  matched_ = false;
  matchedFolder_.clear();
  if (imagePath.empty()) return false;
  const uint64_t imageTime = FileModificationTime(imagePath);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const HistoryEntry& e) { return e.ImagePath() == imagePath; });
  if (it == entries_.end()) return false;
  return MatchLocked(it, it->imageTime == imageTime, found);
}

int ScanHistory::SaveHistoryEntry(int32_t driveNumber, uint64_t volumeStart,
                                  uint64_t volumeSectors, uint64_t volumeBytes,
                                  const ResumePoint& resume, const fs::path& folder,
                                  const std::string& imagePath) {
  std::lock_guard lock(mutex_);
  HistoryEntry entry{};
  const bool isImage = !imagePath.empty();
  entry.driveNumber = isImage ? kImageDriveNumber : driveNumber;
  entry.volumeStart = volumeStart;
  entry.volumeSectors = volumeSectors;
  entry.volumeBytes = isImage ? 0 : volumeBytes;
  entry.imageTime = isImage ? FileModificationTime(imagePath) : 0;
  const std::string folderText = WithoutTrailingSlash(folder.string()) + "/";
  if (!entry.SetFolder(folderText) || !entry.SetImagePath(imagePath)) return err::kFilenameTooLong;
  entry.extentStart = resume.extentStart;
  entry.extentLength = resume.extentLength;
  entry.extentDone = resume.extentDone;
  entry.totalDone = resume.totalDone;
  entry.filesFound = resume.filesFound;

  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const HistoryEntry& e) {
    return isImage ? e.ImagePath() == imagePath
                   : SameVolume(e, driveNumber, volumeStart, volumeSectors);
  });
  if (it != entries_.end()) {
    const bool current = isImage ? it->imageTime == entry.imageTime
                                 : it->volumeBytes == entry.volumeBytes;
    if (current) {
      it->extentStart = entry.extentStart;
      it->extentLength = entry.extentLength;
      it->extentDone = entry.extentDone;
      it->totalDone = entry.totalDone;
      it->filesFound = entry.filesFound;
      it->SetFolder(folderText);
      return SaveLocked();
    }
    // The entry describes an older state of this volume or image: it is
    // replaced, so that one volume never has two entries.
    const std::string staleFolder = it->Folder();
    entries_.erase(it);
    if (!SameFolder(staleFolder, folderText)) RemoveFolderTree(staleFolder);
  }
  entries_.push_back(entry);
  return SaveLocked();
}

int ScanHistory::Save() const {
  std::lock_guard lock(mutex_);
  return SaveLocked();
}

int ScanHistory::SaveLocked() const {
  std::error_code ec;
  fs::create_directories(scanLogFolder_, ec);
  const fs::path index = scanLogFolder_ / kIndexName;
  const fs::path temp = scanLogFolder_ / kIndexTempName;
  // Two processes (two terminals, the desktop application) may save at
  // once: the lock on the folder keeps them from writing one config.tmp.
  FolderLock lock(scanLogFolder_);

  std::vector<uint8_t> bytes(kHistoryHeaderSize + entries_.size() * kHistoryEntrySize);
  std::memcpy(bytes.data(), &folderCounter_, kHistoryHeaderSize);
  if (!entries_.empty()) {
    std::memcpy(bytes.data() + kHistoryHeaderSize, entries_.data(),
                entries_.size() * kHistoryEntrySize);
  }

  int result;
  {
    FileHandle file;
    result = file.CreateForWrite(temp);
    if (result != 0) return result;
    result = file.WriteAt(0, bytes.data(), bytes.size());
    if (result == 0 && ::fsync(file.fd()) != 0) result = LastError();
  }
  // The old index is only replaced by a complete new one; rename() swaps the
  // two in one step, so a crash leaves either the old or the new index.
  if (result != 0) {
    fs::remove(temp, ec);
    return result;
  }
  if (::rename(temp.c_str(), index.c_str()) != 0) return LastError();
  SyncFolder(scanLogFolder_);
  return err::kSuccess;
}

ScanHistory& GetScanHistory() {
  static ScanHistory history(ScanLogFolder());
  fs::path folder = ScanLogFolder();
  std::lock_guard lock(history.mutex_);
  if (history.scanLogFolder_ != folder) history.LoadLocked(std::move(folder));
  return history;
}

}  // namespace qm
