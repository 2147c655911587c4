#include "engines/extraction/file_extractor.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <set>
#include <system_error>

#include "engines/extraction/destination_names.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/filetime.h"
#include "platform/user_folders.h"
#include "results/categories.h"

namespace qm {

namespace {

namespace fs = std::filesystem;

// Internal stop value of a full preview buffer; never leaves this file.
constexpr int kBufferFull = -1000001;

int FromErrorCode(const std::error_code& ec) {
  return ec.category() == std::system_category() || ec.category() == std::generic_category()
             ? ErrorFromErrno(ec.value())
             : err::kGenFailure;
}

// Creates `folder` with its missing parents; an existing folder is fine.
int EnsureFolder(const fs::path& folder) {
  if (folder.empty()) return err::kSuccess;
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return err::kSuccess;
  fs::create_directories(folder, ec);
  if (ec) return FromErrorCode(ec);
  return fs::is_directory(folder, ec) ? err::kSuccess : err::kAlreadyExists;
}

int Percent(uint64_t part, uint64_t whole) {
  return whole == 0 ? 100 : static_cast<int>(part * 100 / whole);
}

// Moves `from` to `to` unless something already has that name.
bool RenameNoReplace(const fs::path& from, const fs::path& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

// The record's times as the file's access and modification times; a time
// the record does not have (0) is left as the kernel set it.
void RestoreTimes(const FileHandle& file, const FoundFileRecord& record) {
  const uint64_t access = record.accessTime;
  const uint64_t write = record.writeTime;
  if (access == 0 && write == 0) return;
  auto toTimespec = [](uint64_t fileTime) {
    timespec ts{};
    if (fileTime < kFileTimeUnixEpoch) {
      ts.tv_nsec = UTIME_OMIT;
      return ts;
    }
    const uint64_t sinceUnix = fileTime - kFileTimeUnixEpoch;
    ts.tv_sec = static_cast<time_t>(sinceUnix / 10000000);
    ts.tv_nsec = static_cast<long>(sinceUnix % 10000000 * 100);
    return ts;
  };
  const timespec times[2] = {toTimespec(access), toTimespec(write)};
  ::futimens(file.fd(), times);
}

struct PendingFolder {
  FoundFileRecord record;
  uint32_t depth;
  fs::path path;
};

}  // namespace

int FolderDepthFromLog(ScanLogStore& log, const FoundFileRecord& folder, uint32_t& depth) {
  std::vector<FoundFileRecord> ancestors;
  if (int rc = log.AncestorChain(folder, ancestors); rc != 0) return rc;
  depth = static_cast<uint32_t>(ancestors.size()) + 1;
  return err::kSuccess;
}

int FileExtractor::ReportFile(int step, int error, const fs::path& path) {
  if (fileProgress_ == nullptr) return 0;
  return fileProgress_(user_, step, 100, error, path.c_str());
}

int FileExtractor::RecoverItem(const FoundFileRecord& record, const fs::path& destination) {
  problems_.clear();
  if (destination.empty()) return err::kInvalidParameter;
  if (record.isDirectory) return RecoverFolder(record, destination);
  if (int rc = EnsureFolder(destination.parent_path()); rc != 0) return rc;
  return CopyFile(record, destination);
}

int FileExtractor::RecoverFolder(const FoundFileRecord& record, const fs::path& destination) {
  uint32_t depth = 0;
  if (int rc = lister_.FolderDepth(record, depth); rc != 0) return rc;
  if (int rc = EnsureFolder(destination); rc != 0) return rc;

  std::deque<PendingFolder> pending;
  pending.push_back({record, depth, destination});
  // A damaged log may file one folder under several parents; each folder of
  // the scanned tree is expanded once.
  std::set<uint64_t> expanded;
  int result = err::kSuccess;
  while (!pending.empty()) {
    PendingFolder folder = std::move(pending.front());
    pending.pop_front();
    if (!expanded.insert(DirectoryKey(folder.depth, folder.record.entryId)).second) continue;
    std::vector<FoundFileRecord> children;
    if (int rc = lister_.ListFolder(folder.record, folder.depth, children); rc != 0) {
      result = rc;
      continue;
    }
    for (const FoundFileRecord& child : children) {
      const fs::path target = folder.path / SafeFileName(child.Name());
      if (child.isDirectory) {
        std::error_code ec;
        fs::path dir = target;
        // Only a real folder is entered: a file or a link of that name is
        // left alone and the folder gets a name of its own.
        if (fs::exists(fs::symlink_status(dir, ec)) && !fs::is_directory(fs::symlink_status(dir, ec)))
          dir = namer_.Next(dir);
        if (!dir.empty()) fs::create_directory(dir, ec);
        pending.push_back({child, folder.depth + 1, dir.empty() ? target : dir});
        continue;
      }
      const int rc = CopyFile(child, target);
      if (rc < 0) return rc;
      if (rc != 0) result = rc;
    }
  }
  return result;
}

int FileExtractor::CreateDestination(const fs::path& wanted, FileHandle& out, fs::path& created) {
  created = wanted;
  int rc = out.CreateExclusive(created);
  // Several deleted versions of one name often share a folder, and anything
  // may appear there meanwhile: none of it is overwritten or followed.
  while (rc == err::kAlreadyExists) {
    created = namer_.Next(wanted);
    if (created.empty()) return err::kAlreadyExists;
    rc = out.CreateExclusive(created);
  }
  return rc;
}

fs::path FileExtractor::SetAside(const fs::path& path, uint64_t written) {
  std::error_code ec;
  if (written > 0) {
    const fs::path partial = path.string() + ".partial";
    for (fs::path to = partial; !to.empty(); to = namer_.Next(partial)) {
      if (RenameNoReplace(path, to)) return to;
      if (errno != EEXIST) break;
    }
  }
  fs::remove(path, ec);
  return {};
}

int FileExtractor::CopyFile(const FoundFileRecord& record, const fs::path& destination) {
  FileHandle out;
  fs::path path;
  if (int rc = CreateDestination(destination, out, path); rc != 0) {
    problems_.push_back({destination.string(), {}, rc, {}, 0});
    if (int stop = ReportFile(100, rc, destination); stop != 0) return stop;
    return rc;
  }
  const uint64_t size = record.fileSize;
  if (size == 0) {
    RestoreTimes(out, record);
    return ReportFile(100, 0, path);
  }

  uint64_t written = 0;
  int writeError = 0;
  reader_.TakeUnreadable();
  int rc = reader_.ReadFileContent(record, [&](const uint8_t* data, size_t length) -> int {
    length = static_cast<size_t>(std::min<uint64_t>(length, size - written));
    if (int wrc = out.WriteAt(written, data, length); wrc != 0) {
      writeError = wrc;
      return wrc;
    }
    written += length;
    return ReportFile(Percent(written, size), 0, path);
  });
  if (writeError != 0) rc = writeError;
  std::vector<ByteRange> unreadable = reader_.TakeUnreadable();
  // A stop asked for after the last byte was written leaves a whole file.
  const bool whole = written == size && (rc == 0 || (rc < 0 && writeError == 0));
  if (!whole) {
    // A reader that ends early without saying why still leaves a short file.
    if (rc == 0) rc = err::kHandleEof;
    out.Close();
    const fs::path kept = SetAside(path, written);
    problems_.push_back({path.string(), kept.string(), rc, std::move(unreadable), written});
    if (rc > 0) {
      if (int stop = ReportFile(100, rc, kept.empty() ? path : kept); stop != 0) return stop;
    }
    return rc;
  }
  RestoreTimes(out, record);
  if (unreadable.empty() || rc < 0) return rc;
  problems_.push_back({path.string(), path.string(), err::kCrc, std::move(unreadable), written});
  if (int stop = ReportFile(100, err::kCrc, path); stop != 0) return stop;
  return err::kCrc;
}

int FileExtractor::ExtractForPreview(const FoundFileRecord& record, std::string& outPath,
                                     uint8_t* buffer, uint32_t* bufferSize,
                                     PreviewProgressFn progress, void* user) {
  outPath.clear();
  auto report = [&](int percent, int error) {
    return progress ? progress(user, percent, error) : 0;
  };
  const std::string name = record.Name();
  const std::string ext = ExtensionOf(name);
  const FileCategory category = CategoryOfExtension(ext);
  std::string tempName;
  if (PreviewConverterOf(ext) != PreviewConverter::kNone) tempName = SafeFileName(name);
  if (category == FileCategory::kPhoto) tempName = "tmp.jpg";
  else if (category == FileCategory::kAudio || category == FileCategory::kVideo) tempName = "tmp.avi";

  if (tempName.empty()) {
    if (buffer == nullptr || bufferSize == nullptr) return err::kInvalidParameter;
    const uint64_t fileSize = record.fileSize;  // packed field: copied before std::min
    const uint64_t total = std::min<uint64_t>(fileSize, *bufferSize);
    *bufferSize = 0;
    if (total == 0) return report(100, 0);
    uint64_t delivered = 0;
    int rc = reader_.ReadFileContent(record, [&](const uint8_t* data, size_t length) -> int {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(length, total - delivered));
      std::memcpy(buffer + delivered, data, take);
      delivered += take;
      if (int stop = report(Percent(delivered, total), 0); stop != 0) return stop;
      return delivered == total ? kBufferFull : 0;
    });
    if (rc == kBufferFull) rc = 0;
    *bufferSize = static_cast<uint32_t>(delivered);
    return rc;
  }

  if (bufferSize != nullptr) *bufferSize = 0;
  const fs::path folder = ScanLogFolder();
  if (int rc = EnsureFolder(folder); rc != 0) {
    report(0, rc);
    return rc;
  }
  const fs::path target = folder / tempName;
  std::error_code ec;
  fs::remove(target, ec);
  FileHandle out;
  if (int rc = out.CreateExclusive(target, 0600); rc != 0) {
    report(0, rc);
    return rc;
  }
  outPath = target.string();
  const uint64_t total = record.fileSize;
  if (total == 0) return report(100, 0);
  uint64_t delivered = 0;
  int rc = reader_.ReadFileContent(record, [&](const uint8_t* data, size_t length) -> int {
    length = static_cast<size_t>(std::min<uint64_t>(length, total - delivered));
    if (int wrc = out.WriteAt(delivered, data, length); wrc != 0) return wrc;
    delivered += length;
    return report(Percent(delivered, total), 0);
  });
  if (rc != 0) {
    out.Close();
    fs::remove(target, ec);
    outPath.clear();
    if (rc > 0) report(100, rc);
  }
  return rc;
}

}  // namespace qm
