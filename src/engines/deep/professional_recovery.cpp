// Opening the volume and serving the merged results of the four engines.
// The deep pass itself is in professional_scan.cpp.
#include "engines/deep/professional_recovery.h"

#include <algorithm>
#include <system_error>

#include "engines/deep/fat/professional_fat_recovery.h"
#include "engines/deep/ntfs/professional_ntfs_recovery.h"
#include "engines/engine_factory.h"
#include "engines/signatures/signature_catalogue.h"
#include "platform/errors.h"
#include "results/listing_order.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

// Every extension carving can give a file, and "thm", as a category filter:
// only file-system records of these can stand for a carved file.
const std::string& CarvableExtensionsFilter() {
  static const std::string filter = [] {
    std::string text = "*.thm";
    for (const SignatureEntry& entry : SignatureTable())
      if (entry.sizeFinder != nullptr) text += "|*." + std::string(entry.extension);
    return text;
  }();
  return filter;
}

}  // namespace

CProfessionalRecovery::CProfessionalRecovery() : carving_(std::make_unique<CFileTypeRecovery>()) {
  fatDeep_ = std::make_unique<CProfessionalFatRecovery>();
  ntfsDeep_ = std::make_unique<CProfessionalNtfsRecovery>();
}

// The quick engine first, then carving and the file-system deep engines;
// each closes its own log.
CProfessionalRecovery::~CProfessionalRecovery() {
  source_.Close();
  quick_.reset();
  carving_.reset();
  ntfsDeep_.reset();
  fatDeep_.reset();
}


void CProfessionalRecovery::SetContext(const EngineContext& context) {
  context_ = context;
  if (quick_) quick_->SetContext(context);
  carving_->SetContext(context);
  if (ntfsDeep_) ntfsDeep_->SetContext(context);
  if (fatDeep_) fatDeep_->SetContext(context);
}

// A file-system deep engine that cannot open the volume is left out; the
// pass then passes over the sectors it would have taken.
template <typename Open>
void CProfessionalRecovery::OpenDeepEngines(Open&& open) {
  for (std::unique_ptr<DeepFileSystemEngine>* engine : {&ntfsDeep_, &fatDeep_}) {
    if (!*engine) continue;
    (*engine)->SetContext(context_);
    if (open(**engine) != err::kSuccess) engine->reset();
  }
}

// The engines that read the file system, in listing order; null ones left out.
std::vector<IFileRecoveryParse*> CProfessionalRecovery::FileSystemEngines() const {
  std::vector<IFileRecoveryParse*> engines;
  for (IFileRecoveryParse* e : {static_cast<IFileRecoveryParse*>(quick_.get()),
                                static_cast<IFileRecoveryParse*>(fatDeep_.get()),
                                static_cast<IFileRecoveryParse*>(ntfsDeep_.get())})
    if (e) engines.push_back(e);
  return engines;
}

std::vector<IFileRecoveryParse*> CProfessionalRecovery::Engines() const {
  std::vector<IFileRecoveryParse*> engines = FileSystemEngines();
  engines.push_back(carving_.get());
  return engines;
}

int CProfessionalRecovery::OpenImage(const std::string& imagePath, uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  // Where an interrupted scan of this volume stopped is asked right away.
  if (context_.history == nullptr) return err::kInvalidParameter;
  if (int rc = source_.OpenImageSource(imagePath); rc != 0) return rc;
  std::error_code ec;
  const fs::path absolute = fs::absolute(imagePath, ec);
  imagePath_ = ec ? imagePath : absolute.lexically_normal().string();
  driveIndex_ = kImageDriveNumber;
  sectorSize_ = 512;
  volumeStart_ = 0;
  volumeSectors_ = source_.totalSectors();
  volumeBytes_ = volumeSectors_ * sectorSize_;
  volumeLetter_ = volumeLetter;
  HistoryEntry found{};
  resumeFound_ = context_.history->FindHistoryForImage(imagePath_, &found);
  if (resumeFound_) historyEntry_ = found;
  resume_ = ResumeAvailable();
  int error = 0;
  quick_ = EngineFactory::CreateEngineForImage(imagePath, volumeLetter, false, &error, context_);
  OpenDeepEngines([&](DeepFileSystemEngine& e) { return e.OpenImage(imagePath, volumeLetter); });
  open_ = true;
  return err::kSuccess;
}


int CProfessionalRecovery::OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                                    uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  if (context_.history == nullptr) return err::kInvalidParameter;
  if (int rc = source_.OpenPhysicalDriveSource(Disks(), driveIndex); rc != 0) return rc;
  sectorSize_ = source_.info().sectorSize ? source_.info().sectorSize : 512;
  driveIndex_ = driveIndex;
  volumeStart_ = startSector;
  const uint64_t available =
      source_.totalSectors() > startSector ? source_.totalSectors() - startSector : 0;
  volumeSectors_ = sectorCount == 0 ? available : std::min(sectorCount, available);
  if (volumeSectors_ == 0) {
    source_.Close();
    return err::kInvalidParameter;
  }
  volumeBytes_ = volumeSectors_ * sectorSize_;
  volumeLetter_ = volumeLetter;
  HistoryEntry found{};
  resumeFound_ = context_.history->FindHistoryForVolume(driveIndex, startSector, volumeSectors_,
                                                volumeBytes_, &found);
  if (resumeFound_) historyEntry_ = found;
  resume_ = ResumeAvailable();
  int error = 0;
  quick_ = EngineFactory::CreateEngineForPartition(driveIndex, startSector, volumeSectors_,
                                                   volumeLetter, false, &error, context_);
  OpenDeepEngines([&](DeepFileSystemEngine& e) {
    return e.OpenDisk(driveIndex, startSector, volumeSectors_, volumeLetter);
  });
  open_ = true;
  return err::kSuccess;
}

int CProfessionalRecovery::SetCallbacks(ScanProgressFn scanProgress, FileProgressFn fileProgress,
                                        void* user, int scale) {
  (void)scale;  // the pass reports 10 to 100 percent with a scale of 90
  scanProgress_ = scanProgress;
  fileProgress_ = fileProgress;
  user_ = user;
  carving_->SetCallbacks(scanProgress, fileProgress, user, 90);
  if (ntfsDeep_) ntfsDeep_->SetCallbacks(scanProgress, fileProgress, user, 90);
  if (fatDeep_) fatDeep_->SetCallbacks(scanProgress, fileProgress, user, 90);
  if (quick_) quick_->SetCallbacks(scanProgress, fileProgress, user, 9);
  return err::kSuccess;
}

fs::path CProfessionalRecovery::ScanFolder() const {
  std::lock_guard lock(stateMutex_);
  if (!folder_.empty()) return folder_;
  if (resume_) return fs::path(historyEntry_.Folder());
  return {};
}

ResumePoint CProfessionalRecovery::Position() const {
  std::lock_guard lock(stateMutex_);
  return position_;
}

IFileRecoveryParse* CProfessionalRecovery::OwnerOf(uint32_t engineKind) const {
  switch (static_cast<EngineKind>(engineKind)) {
    case EngineKind::kNtfsQuick:
    case EngineKind::kFatQuick: return quick_.get();
    case EngineKind::kNtfsDeep: return ntfsDeep_.get();
    case EngineKind::kFatDeep: return fatDeep_.get();
    case EngineKind::kCarving: return carving_.get();
  }
  return nullptr;
}

// Rebuilt whenever an engine has written records since the last build, so a
// listing during the scan sees the files found so far. An index built from
// a log that could not be read whole is not kept: carved copies of the
// files it missed would pass for files of their own.
std::shared_ptr<const CarvedDuplicates> CProfessionalRecovery::Duplicates(int& error) {
  error = err::kSuccess;
  uint64_t records = 0;
  for (IFileRecoveryParse* e : FileSystemEngines())
    records += e->RecordCount();
  std::lock_guard lock(duplicatesMutex_);
  if (duplicates_ && duplicatesRecords_ == records) return duplicates_;
  auto index = std::make_shared<CarvedDuplicates>();
  const std::string filter = CarvableExtensionsFilter();
  for (IFileRecoveryParse* e : FileSystemEngines()) {
    std::vector<FoundFileRecord> found;
    if (const int rc = e->ListByCategory(filter, found); ListingFailed(rc)) {
      error = rc;
      return nullptr;
    }
    for (const FoundFileRecord& r : found) index->Add(r, source_, sectorSize_);
  }
  duplicates_ = index;
  duplicatesRecords_ = records;
  return duplicates_;
}

int CProfessionalRecovery::CarvedListing(std::vector<FoundFileRecord>& carved,
                                         std::vector<FoundFileRecord>& out) {
  int error = err::kSuccess;
  const auto duplicates = Duplicates(error);
  if (!duplicates) return error;
  for (const FoundFileRecord& r : carved)
    if (!duplicates->IsDuplicate(r)) out.push_back(r);
  return err::kSuccess;
}

int CProfessionalRecovery::ListChildren(const FoundFileRecord* folder, uint32_t depth,
                                        std::vector<FoundFileRecord>& out) {
  if (folder != nullptr) {
    IFileRecoveryParse* owner = OwnerOf(folder->engineKind);
    if (owner == nullptr || folder->engineKind == static_cast<uint32_t>(EngineKind::kCarving))
      return err::kSuccess;
    return owner->ListChildren(folder, depth, out);
  }
  if (depth != 0) return err::kSuccess;
  for (IFileRecoveryParse* e : FileSystemEngines()) {
    if (int rc = e->ListChildren(nullptr, 0, out); rc != 0) return rc;
  }
  std::vector<FoundFileRecord> carved;
  if (int rc = carving_->ListChildren(nullptr, 0, carved); rc != 0) return rc;
  if (int rc = CarvedListing(carved, out); rc != 0) return rc;
  SortForListing(out);
  return err::kSuccess;
}

int CProfessionalRecovery::CountFiles(const FoundFileRecord* folder, uint32_t depth,
                                      uint32_t* count) {
  if (count == nullptr) return err::kInvalidParameter;
  *count = 0;
  if (folder != nullptr) {
    IFileRecoveryParse* owner = OwnerOf(folder->engineKind);
    if (owner == nullptr || folder->engineKind == static_cast<uint32_t>(EngineKind::kCarving))
      return err::kSuccess;
    return owner->CountFiles(folder, depth, count);
  }
  uint64_t total = 0;
  for (IFileRecoveryParse* e : FileSystemEngines()) {
    uint32_t part = 0;
    if (int rc = e->CountFiles(nullptr, 0, &part); rc != 0) return rc;
    total += part;
  }
  // Carved files are all in the root; the ones listed elsewhere already are
  // not counted twice.
  std::vector<FoundFileRecord> carved, kept;
  if (int rc = carving_->ListChildren(nullptr, 0, carved); rc != 0) return rc;
  if (int rc = CarvedListing(carved, kept); rc != 0) return rc;
  total += kept.size();
  *count = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  return err::kSuccess;
}

uint64_t CProfessionalRecovery::RecordCount() {
  uint64_t total = 0;
  for (IFileRecoveryParse* e : Engines()) total += e->RecordCount();
  return total;
}

int CProfessionalRecovery::GetFullPath(const FoundFileRecord& record, std::string& path) {
  path.clear();
  if (record.engineKind == static_cast<uint32_t>(EngineKind::kCarving)) return err::kSuccess;
  IFileRecoveryParse* owner = OwnerOf(record.engineKind);
  return owner ? owner->GetFullPath(record, path) : err::kSuccess;
}

int CProfessionalRecovery::RecoverItem(const FoundFileRecord& record,
                                       const std::string& destination, int baseSeparators) {
  IFileRecoveryParse* owner = OwnerOf(record.engineKind);
  if (owner == nullptr) return err::kInvalidParameter;
  {
    std::lock_guard lock(stateMutex_);
    lastRecoverer_ = owner;
  }
  return owner->RecoverItem(record, destination, baseSeparators);
}

std::vector<RecoveryProblem> CProfessionalRecovery::RecoveryProblems() const {
  std::lock_guard lock(stateMutex_);
  return lastRecoverer_ ? lastRecoverer_->RecoveryProblems() : std::vector<RecoveryProblem>{};
}

int CProfessionalRecovery::ExtractForPreview(const FoundFileRecord& record, std::string& outPath,
                                             uint8_t* buffer, uint32_t* bufferSize,
                                             PreviewProgressFn progress, void* user) {
  IFileRecoveryParse* owner = OwnerOf(record.engineKind);
  if (owner == nullptr) return err::kInvalidParameter;
  return owner->ExtractForPreview(record, outPath, buffer, bufferSize, progress, user);
}

int CProfessionalRecovery::SetListProgress(ListProgressFn callback, void* user) {
  for (IFileRecoveryParse* e : Engines()) e->SetListProgress(callback, user);
  return err::kSuccess;
}

int CProfessionalRecovery::ListByCategory(const std::string& filter,
                                          std::vector<FoundFileRecord>& out) {
  // A log that cannot be read whole ends the listing with its error, as
  // the store's own listing does.
  for (IFileRecoveryParse* e : FileSystemEngines()) {
    if (int rc = e->ListByCategory(filter, out); ListingFailed(rc)) return rc;
  }
  std::vector<FoundFileRecord> carved;
  if (int rc = carving_->ListByCategory(filter, carved); ListingFailed(rc)) return rc;
  if (int rc = CarvedListing(carved, out); rc != 0) return rc;
  SortForListing(out);
  return 1;
}

void CProfessionalRecovery::SetIncludeDamaged(bool include) {
  for (IFileRecoveryParse* e : Engines()) e->SetIncludeDamaged(include);
}

void CProfessionalRecovery::SetReadStop(std::stop_token stop) {
  for (IFileRecoveryParse* e : Engines()) e->SetReadStop(stop);
}

std::vector<std::string> CProfessionalRecovery::ScanWarnings() const {
  std::vector<std::string> all;
  {
    std::lock_guard lock(stateMutex_);
    all = warnings_;
  }
  for (IFileRecoveryParse* e : Engines())
    for (std::string& w : e->ScanWarnings()) all.push_back(std::move(w));
  return all;
}

}  // namespace qm
