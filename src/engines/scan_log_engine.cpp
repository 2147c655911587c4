#include "engines/scan_log_engine.h"

#include "engines/extraction/destination_names.h"
#include "platform/errors.h"

namespace qm {

namespace {
// No real cluster comes near this; a record claiming one (or a lost
// folder's "no cluster chain" marker) has nothing to extract.
constexpr uint32_t kMaxClusterBytes = 104857600;
}  // namespace

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
  if (log_) log_->CloseScanLog();
  log_ = std::make_unique<ScanLogStore>();
  return *log_;
}

int ScanLogEngine::OpenLog(const std::string& name) {
  if (!log_) NewLog();
  const int rc = log_->OpenScanLog(name);
  if (rc == 0 && listProgress_) log_->SetListProgress(listProgress_, listUser_);
  return rc;
}

uint64_t ScanLogEngine::KeyOf(const FoundFileRecord* folder, uint32_t depth) const {
  return folder ? DirectoryKey(depth, folder->entryId) : DirectoryKey(0, RootId());
}

int ScanLogEngine::ListChildren(const FoundFileRecord* folder, uint32_t depth,
                                std::vector<FoundFileRecord>& out) {
  if (folder == nullptr && depth != 0) return err::kInvalidParameter;
  if (!LogReady()) return err::kInvalidHandle;
  return log_->ListChildren(KeyOf(folder, depth), out);
}

int ScanLogEngine::CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) {
  if (count == nullptr || (folder == nullptr && depth != 0)) return err::kInvalidParameter;
  *count = 0;
  if (!LogReady()) return err::kInvalidHandle;
  return log_->CountFiles(KeyOf(folder, depth), *count);
}

uint64_t ScanLogEngine::RecordCount() { return log_ ? log_->RecordCount() : 0; }

int ScanLogEngine::GetFullPath(const FoundFileRecord& record, std::string& path) {
  path.clear();
  if (!LogReady()) return err::kInvalidHandle;
  std::vector<FoundFileRecord> chain;
  if (int rc = log_->AncestorChain(record, chain); rc != 0) return rc;
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
  if (LogReady()) log_->SetListProgress(callback, user);
  return err::kSuccess;
}

int ScanLogEngine::ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) {
  if (!LogReady()) return 0;
  return log_->ListByCategory(filter, out);
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
  if (!LogReady()) return err::kInvalidHandle;
  return FolderDepthFromLog(*log_, folder, depth);
}

}  // namespace qm
