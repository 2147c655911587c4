#include "engines/extraction/file_extractor.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>
#include <system_error>

#include "engines/extraction/destination_names.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
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

bool ListHas(const std::string& list, const std::string& lowerExtension) {
  return !lowerExtension.empty() && list.find(lowerExtension) != std::string::npos;
}

int Percent(uint64_t part, uint64_t whole) {
  return whole == 0 ? 100 : static_cast<int>(part * 100 / whole);
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
        if (fs::exists(fs::symlink_status(dir, ec)) && !fs::is_directory(fs::symlink_status(dir, ec)))
          dir = UniqueDestinationPath(dir);
        if (!dir.empty()) fs::create_directory(dir, ec);
        pending.push_back({child, folder.depth + 1, dir.empty() ? target : dir});
        continue;
      }
      // Several deleted versions of one name often share a folder: none
      // may overwrite another.
      const fs::path unique = UniqueDestinationPath(target);
      int rc;
      if (unique.empty()) {
        rc = err::kAlreadyExists;
        if (int stop = ReportFile(100, rc, target); stop != 0) return stop;
      } else {
        rc = CopyFile(child, unique);
      }
      if (rc < 0) return rc;
      if (rc != 0) result = rc;
    }
  }
  return result;
}

int FileExtractor::CopyFile(const FoundFileRecord& record, const fs::path& destination) {
  FileHandle out;
  if (int rc = out.CreateForWrite(destination); rc != 0) {
    if (int stop = ReportFile(100, rc, destination); stop != 0) return stop;
    return rc;
  }
  const uint64_t size = record.fileSize;
  if (size == 0) return ReportFile(100, 0, destination);

  uint64_t written = 0;
  int writeError = 0;
  int rc = reader_.ReadFileContent(record, [&](const uint8_t* data, size_t length) -> int {
    length = static_cast<size_t>(std::min<uint64_t>(length, size - written));
    if (int wrc = out.WriteAt(written, data, length); wrc != 0) {
      writeError = wrc;
      return wrc;
    }
    written += length;
    return ReportFile(Percent(written, size), 0, destination);
  });
  if (writeError != 0) rc = writeError;
  if (rc > 0) {
    if (int stop = ReportFile(100, rc, destination); stop != 0) return stop;
  }
  return rc;
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
  std::string tempName;
  if (ListHas(kOfficePreviewList, ext)) tempName = SafeFileName(name);
  if (IsPhotoExtension(ext)) tempName = "tmp.jpg";
  else if (ListHas(kAudioList, ext) || ListHas(kVideoList, ext)) tempName = "tmp.avi";

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
  if (int rc = out.CreateForWrite(target, 0600); rc != 0) {
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
