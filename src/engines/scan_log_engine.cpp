#include "engines/scan_log_engine.h"

#include <utility>

#include "engines/extraction/destination_names.h"
#include "platform/errors.h"

namespace qm {

ScanLogEngine::ScanLogEngine()
    : extractor_(static_cast<ContentReader&>(*this), static_cast<FolderLister&>(*this)) {}

ScanLogEngine::~ScanLogEngine() {
  if (log_) log_->CloseScanLog();
}

int ScanLogEngine::SetCallbacks(ScanProgressFn scanProgress, FileProgressFn fileProgress,
                                void* user, int scale) {
  scanProgress_ = scanProgress;
  fileProgress_ = fileProgress;
  user_ = user;
  scale_ = scale;
  extractor_.SetFileProgress(fileProgress, user);
  return err::kSuccess;
}

ScanLogStore& ScanLogEngine::NewLog() {
  auto fresh = std::make_shared<ScanLogStore>();
  std::shared_ptr<ScanLogStore> old;
  {
    std::lock_guard lock(logMutex_);
    old = std::exchange(log_, fresh);
  }
  // Closed here, on the writer's thread: a reader still holding the old log
  // only finds it closed, and never ends up flushing it itself.
  if (old) old->CloseScanLog();
  return *fresh;
}

std::shared_ptr<ScanLogStore> ScanLogEngine::ReadableLog() const {
  std::lock_guard lock(logMutex_);
  if (!log_ || !log_->IsOpen()) return nullptr;
  return log_;
}

std::stop_token ScanLogEngine::ReadStop() const {
  std::lock_guard lock(logMutex_);
  return readStop_;
}

void ScanLogEngine::SetIncludeDamaged(bool include) {
  std::lock_guard lock(logMutex_);
  includeDamaged_ = include;
  if (log_) log_->SetIncludeDamaged(include);
}

void ScanLogEngine::SetReadStop(std::stop_token stop) {
  std::lock_guard lock(logMutex_);
  readStop_ = std::move(stop);
}

int ScanLogEngine::OpenLog(const std::string& name) {
  if (!log_) NewLog();
  // A base name lies in the context's scan folder; without one there is
  // nowhere to write it. (An absolute path names its own folder.)
  if (context_.scanFolder.empty() && !std::filesystem::path(name).is_absolute())
    return err::kInvalidParameter;
  const int rc = log_->OpenScanLogIn(context_.scanFolder, name);
  {
    std::lock_guard lock(logMutex_);
    log_->SetIncludeDamaged(includeDamaged_);
  }
  if (rc == 0 && listProgress_) log_->SetListProgress(listProgress_, listUser_);
  return rc;
}

uint64_t ScanLogEngine::KeyOf(const FoundFileRecord* folder, uint32_t depth) const {
  return folder ? DirectoryKey(depth, folder->entryId) : DirectoryKey(0, RootId());
}

int ScanLogEngine::ListChildren(const FoundFileRecord* folder, uint32_t depth,
                                std::vector<FoundFileRecord>& out) {
  if (folder == nullptr && depth != 0) return err::kInvalidParameter;
  const auto log = ReadableLog();
  if (!log) return err::kInvalidHandle;
  return log->ListChildren(KeyOf(folder, depth), out, ReadStop());
}

int ScanLogEngine::CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) {
  if (count == nullptr || (folder == nullptr && depth != 0)) return err::kInvalidParameter;
  *count = 0;
  const auto log = ReadableLog();
  if (!log) return err::kInvalidHandle;
  return log->CountFiles(KeyOf(folder, depth), *count, ReadStop());
}

uint64_t ScanLogEngine::RecordCount() {
  const auto log = ReadableLog();
  return log ? log->RecordCount() : 0;
}

int ScanLogEngine::GetFullPath(const FoundFileRecord& record, std::string& path) {
  path.clear();
  const auto log = ReadableLog();
  if (!log) return err::kInvalidHandle;
  std::vector<FoundFileRecord> chain;
  if (int rc = log->AncestorChain(record, chain); rc != 0) return rc;
  // Each name is one path component, whatever a damaged volume put in it.
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) path += SafeFileName(it->Name()) + "/";
  return err::kSuccess;
}

int ScanLogEngine::RecoverItem(const FoundFileRecord& record, const std::string& destination,
                               int /*baseSeparators*/) {
  if (!open_) return err::kInvalidHandle;
  return extractor_.RecoverItem(record, destination);
}

int ScanLogEngine::SetListProgress(ListProgressFn callback, void* user) {
  listProgress_ = callback;
  listUser_ = user;
  if (const auto log = ReadableLog()) log->SetListProgress(callback, user);
  return err::kSuccess;
}

int ScanLogEngine::ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) {
  const auto log = ReadableLog();
  if (!log) return 0;
  return log->ListByCategory(filter, out, ReadStop());
}

int ScanLogEngine::ExtractForPreview(const FoundFileRecord& record, std::string& outPath,
                                     uint8_t* buffer, uint32_t* bufferSize,
                                     PreviewProgressFn progress, void* user) {
  outPath.clear();
  if (!open_) return err::kInvalidHandle;
  if (record.clusterBytes > kMaxClusterBytes) return err::kWriteFault;
  return extractor_.ExtractForPreview(record, outPath, buffer, bufferSize, progress, user);
}

std::vector<std::string> ScanLogEngine::ScanWarnings() const {
  std::lock_guard<std::mutex> lock(warningsMutex_);
  return warnings_;
}

void ScanLogEngine::AddWarning(std::string sentence) {
  std::lock_guard<std::mutex> lock(warningsMutex_);
  for (const std::string& known : warnings_)
    if (known == sentence) return;
  warnings_.push_back(std::move(sentence));
}

void ScanLogEngine::ClearWarnings() {
  std::lock_guard<std::mutex> lock(warningsMutex_);
  warnings_.clear();
}

int ScanLogEngine::ListFolder(const FoundFileRecord& folder, uint32_t depth,
                              std::vector<FoundFileRecord>& out) {
  return ListChildren(&folder, depth, out);
}

int ScanLogEngine::FolderDepth(const FoundFileRecord& folder, uint32_t& depth) {
  const auto log = ReadableLog();
  if (!log) return err::kInvalidHandle;
  return FolderDepthFromLog(*log, folder, depth);
}

}  // namespace qm
