// The deep pass: the quick scan first, then every sector of the free space
// (or of the whole volume) classified once and handed to the engine that
// can use it; where it stands is kept in the history index so that an
// interrupted scan can go on later.
#include <algorithm>
#include <new>
#include <system_error>

#include "engines/deep/deep_sector_classifier.h"
#include "engines/deep/professional_recovery.h"
#include "platform/errors.h"
#include "results/log_names.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

// How often the time left is estimated again.
constexpr auto kEstimateEvery = std::chrono::milliseconds(5000);

// The path of the newest log in `folder` whose name holds `prefix`; empty
// when there is none.
std::string LogPathIn(const fs::path& folder, std::string_view prefix) {
  const std::string name = FindScanLogName(folder, prefix);
  return name.empty() ? std::string() : (folder / name).string();
}

}  // namespace

int CProfessionalRecovery::Scan(const char* scanLogName) {
  if (!open_) return err::kInvalidHandle;
  if (scanLogName != nullptr) return ReopenFolder(fs::path(scanLogName).parent_path());
  if (context_.history == nullptr) return err::kInvalidParameter;

  const bool resuming = resume_ && ResumeAvailable();
  fs::path folder;
  if (resuming)
    folder = historyEntry_.Folder();
  else if (!context_.scanFolder.empty())
    folder = context_.scanFolder;
  else
    folder = context_.history->StartNewScanFolder();
  {
    std::lock_guard lock(stateMutex_);
    folder_ = folder;
    warnings_.clear();
    position_ = resuming ? ResumePoint{historyEntry_.extentStart, historyEntry_.extentLength,
                                       historyEntry_.extentDone, historyEntry_.totalDone,
                                       historyEntry_.filesFound}
                         : ResumePoint{};
  }
  EngineContext context = context_;
  context.scanFolder = folder;
  SetContext(context);
  skipped_.Clear();
  deepPassReached_ = false;

  int rc;
  try {
    rc = QuickPass(resuming, folder);
  } catch (const std::bad_alloc&) {
    // The file system's structures did not fit in memory: its own view is
    // given up, never the deep pass.
    freeSpaceOnly_ = false;
    std::lock_guard lock(stateMutex_);
    warnings_.push_back("The quick scan of the file system failed (" + ErrorText(err::kNotEnoughMemory) +
                        "); the whole volume was scanned instead of its free space.");
    rc = err::kSuccess;
  }
  if (rc == err::kCancelled) return rc;
  if (rc == err::kSuccess) rc = OpenLogs(resuming, folder);
  if (rc != err::kSuccess) return rc;
  deepPassReached_ = true;
  rc = DeepPass(resuming);
  if (rc == err::kSuccess) {
    // Finished: the stored position lies past the volume, so that the next
    // deep scan of it starts afresh instead of resuming.
    std::lock_guard lock(stateMutex_);
    position_.extentStart = volumeSectors_;
    position_.extentLength = 0;
    position_.extentDone = 0;
    position_.totalDone = totalSectors_;
  }

  if (fatDeep_) fatDeep_->FinishDeepScan();
  if (ntfsDeep_) ntfsDeep_->FinishDeepScan();
  FlushLogs();
  if (!skipped_.empty()) {
    std::lock_guard lock(stateMutex_);
    warnings_.push_back(skipped_.Sentence(
        "area", "areas",
        "read as zeros; files found there are marked [unreadable parts]. If the disk is "
        "failing, copy it to an image file first and scan the image."));
  }
  SavePosition();
  if (rc == err::kSuccess && scanProgress_)
    scanProgress_(user_, 100, 100, 0, totalSectors_, totalSectors_, FilesFound(), 0);
  return rc;
}

// The quick scan of the volume's own file system, with its map of used
// clusters. A volume whose file system cannot be scanned is no reason to
// give up the deep pass: that is the volume a deep scan is for. It is then
// scanned whole.
int CProfessionalRecovery::QuickPass(bool resuming, const fs::path& folder) {
  freeSpaceOnly_ = false;
  if (!quick_) return err::kSuccess;
  quick_->SetCallbacks(scanProgress_, fileProgress_, user_, 9);
  const std::string fastLog = resuming ? LogPathIn(folder, kQuickLogPrefix) : std::string();
  const int rc = quick_->Scan(fastLog.empty() ? nullptr : fastLog.c_str());
  if (rc == err::kCancelled) return rc;
  // A file system that no quick engine reads (EXT) is scanned whole, as
  // the deep scan of such a volume always is: nothing failed.
  if (rc == err::kNotSupported) return err::kSuccess;
  if (rc != err::kSuccess) {
    std::lock_guard lock(stateMutex_);
    warnings_.push_back("The quick scan of the file system failed (" + ErrorText(rc) +
                        "); the whole volume was scanned instead of its free space.");
    return err::kSuccess;
  }
  if (!wholeVolume_ && quick_->BuildClusterBitmap() == err::kSuccess) {
    uint64_t start = 0, length = 0;
    quick_->NextFreeExtent(&start, &length);
    // A map that finds no cluster free at all is more likely wrong than a
    // volume filled to the last cluster; scan it whole then.
    freeSpaceOnly_ = length != 0;
  }
  return err::kSuccess;
}

int CProfessionalRecovery::OpenLogs(bool resuming, const fs::path& folder) {
  const std::string carved = resuming ? LogPathIn(folder, kCarvingLogPrefix) : std::string();
  int rc;
  if (!carved.empty()) {
    rc = carving_->ReopenLog(carved, driveIndex_ == kImageDriveNumber ? imagePath_ : std::string(),
                             driveIndex_, volumeStart_, volumeSectors_, volumeLetter_, sectorSize_,
                             ResumeSector());
  } else {
    rc = driveIndex_ == kImageDriveNumber
             ? carving_->OpenImage(imagePath_, volumeLetter_)
             : carving_->OpenDisk(driveIndex_, volumeStart_, volumeSectors_, volumeLetter_);
  }
  if (rc != err::kSuccess) return rc;
  for (DeepFileSystemEngine* engine : {fatDeep_.get(), ntfsDeep_.get()}) {
    if (!engine) continue;
    const std::string name = resuming ? LogPathIn(folder, engine->LogPrefix()) : std::string();
    if (int r = engine->BeginDeepScan(name); r != 0) return r;
  }
  return err::kSuccess;
}

// Re-opens the logs of a finished or stopped scan to list and recover.
int CProfessionalRecovery::ReopenFolder(const fs::path& folder) {
  {
    std::lock_guard lock(stateMutex_);
    folder_ = folder;
  }
  EngineContext context = context_;
  context.scanFolder = folder;
  SetContext(context);
  bool any = false;
  const std::string fastLog = LogPathIn(folder, kQuickLogPrefix);
  if (quick_ && !fastLog.empty()) {
    if (int rc = quick_->Scan(fastLog.c_str()); rc != 0) return rc;
    any = true;
  }
  const std::string carved = LogPathIn(folder, kCarvingLogPrefix);
  if (!carved.empty()) {
    const int rc = carving_->ReopenLog(
        carved, driveIndex_ == kImageDriveNumber ? imagePath_ : std::string(), driveIndex_,
        volumeStart_, volumeSectors_, volumeLetter_, sectorSize_, UINT64_MAX);
    if (rc != 0) return rc;
    any = true;
  }
  for (DeepFileSystemEngine* engine : {fatDeep_.get(), ntfsDeep_.get()}) {
    if (!engine) continue;
    const std::string name = LogPathIn(folder, engine->LogPrefix());
    if (name.empty()) continue;
    if (int rc = engine->BeginDeepScan(name); rc != 0) return rc;
    any = true;
  }
  return any ? err::kSuccess : err::kFileNotFound;
}

uint64_t CProfessionalRecovery::ResumeSector() const {
  std::lock_guard lock(stateMutex_);
  return volumeStart_ + position_.extentStart + position_.extentDone;
}

// Calls `visit(start, count)` (sectors from the volume start) for every range
// of the pass, in order, until it returns false.
template <typename Visit>
void CProfessionalRecovery::ForEachRange(Visit&& visit) {
  if (!freeSpaceOnly_) {
    visit(uint64_t{0}, volumeSectors_);
    return;
  }
  uint64_t position = 0;
  while (position < volumeSectors_) {
    uint64_t start = position, length = 0;
    quick_->NextFreeExtent(&start, &length);
    if (length == 0 || start < position) return;
    length = std::min(length, volumeSectors_ - std::min(start, volumeSectors_));
    if (length == 0) return;
    if (!visit(start, length)) return;
    position = start + length;
  }
}

int CProfessionalRecovery::DeepPass(bool resuming) {
  // The whole amount of work, and where a resumed pass picks up.
  totalSectors_ = 0;
  ForEachRange([&](uint64_t, uint64_t count) {
    totalSectors_ += count;
    return true;
  });
  ResumePoint start;
  if (resuming) {
    std::lock_guard lock(stateMutex_);
    start = position_;
  }
  const uint64_t resumeAt = start.extentStart + start.extentDone;  // from the volume start
  // Sectors of the ranges wholly before the one the pass starts in.
  uint64_t doneBeforeRange = 0;
  if (resuming) {
    ForEachRange([&](uint64_t s, uint64_t count) {
      if (s + count > resumeAt) return false;
      doneBeforeRange += count;
      return true;
    });
  }
  doneAtStart_ = start.totalDone;
  // Files of a resumed scan's logs count too, as in the progress reports.
  filesFoundCache_ = FilesFound();
  passStarted_ = lastEstimate_ = lastSave_ = std::chrono::steady_clock::now();
  secondsLeft_ = -1;

  DeepBlockReader reader(source_, sectorSize_);
  // Ranges in absolute sectors, the first one cut at the resume point.
  const uint64_t volumeStart = volumeStart_;
  const bool freeOnly = freeSpaceOnly_;
  IFileRecoveryParse* quick = quick_.get();
  const uint64_t volumeSectors = volumeSectors_;
  uint64_t nextPosition = 0;
  reader.Start(
      [=, &nextPosition](DeepRange& range) mutable {
        for (;;) {
          uint64_t s = 0, count = 0;
          if (!freeOnly) {
            if (nextPosition >= volumeSectors) return false;
            s = 0;
            count = volumeSectors;
          } else {
            s = nextPosition;
            quick->NextFreeExtent(&s, &count);
            if (count == 0 || s < nextPosition || s >= volumeSectors) return false;
            count = std::min(count, volumeSectors - s);
          }
          nextPosition = s + count;
          if (s + count <= resumeAt) continue;
          range.start = volumeStart + s;
          range.count = count;
          return true;
        }
      },
      volumeStart + resumeAt);

  DeepBlock block;
  bool haveRange = false;
  uint64_t rangeStart = 0, rangeCount = 0;
  uint64_t skipUntil = volumeStart + resumeAt;
  int rc = err::kSuccess;
  while (reader.Next(block)) {
    if (block.error != 0) {
      std::lock_guard lock(stateMutex_);
      warnings_.push_back("The deep scan ended early: the source can no longer be read (" +
                          ErrorText(block.error) + ").");
      rc = block.error;
      break;
    }
    for (const SectorRange& bad : block.unreadable) NoteUnreadable(bad);
    try {
      rc = ProcessBlock(block, skipUntil);
    } catch (const std::bad_alloc&) {
      // One block that cannot be worked on is passed over, never the rest.
      skipped_.Add(block.sector, block.sectors);
      skipUntil = std::max(skipUntil, block.sector + block.sectors);
      rc = err::kSuccess;
    }
    carving_->ForgetExtentsBefore(block.sector + block.sectors);
    if (!haveRange || block.range.start != rangeStart) {
      if (haveRange) doneBeforeRange += rangeCount;
      haveRange = true;
      rangeStart = block.range.start;
      rangeCount = block.range.count;
    }
    const uint64_t rangeEnd = rangeStart + rangeCount;
    const uint64_t reached = std::min(std::max(skipUntil, block.sector + block.sectors), rangeEnd);
    {
      std::lock_guard lock(stateMutex_);
      position_.extentStart = rangeStart - volumeStart_;
      position_.extentLength = rangeCount;
      position_.extentDone = reached - rangeStart;
      position_.totalDone = doneBeforeRange + position_.extentDone;
    }
    if (reached >= rangeEnd) skipUntil = std::max(skipUntil, rangeEnd);
    if (skipUntil > block.sector + block.sectors) reader.SkipTo(std::min(skipUntil, rangeEnd));
    if (rc != err::kSuccess) break;
    if (int answer = ReportProgress(); answer != 0) {
      rc = answer;
      break;
    }
    if (std::chrono::steady_clock::now() - lastSave_ >= saveInterval_) {
      FlushLogs();
      SavePosition();
      lastSave_ = std::chrono::steady_clock::now();
    }
  }
  reader.Stop();
  return rc;
}

// Sectors the pass could not read are reported, and every engine that may
// read them again for a file's content learns them: a failing disk is not
// asked twice, and files whose content holds them are marked damaged.
void CProfessionalRecovery::NoteUnreadable(const SectorRange& bad) {
  skipped_.Add(bad.first, bad.count);
  carving_->NoteUnreadableInPass(bad.first, bad.count);
  for (DeepFileSystemEngine* engine : {fatDeep_.get(), ntfsDeep_.get()})
    if (engine) engine->ContentSource().MarkUnreadable(bad.first, bad.count, sectorSize_);
}

int CProfessionalRecovery::ProcessBlock(const DeepBlock& block, uint64_t& skipUntil) {
  const uint32_t size = sectorSize_;
  const uint64_t rangeEnd = block.range.start + block.range.count;
  const uint64_t blockEnd = block.sector + block.sectors;
  uint64_t sector = std::max(block.sector, skipUntil);
  while (sector < blockEnd) {
    const size_t offset = static_cast<size_t>(sector - block.sector) * size;
    const uint8_t* data = block.data + offset;
    uint64_t advance = 1;
    switch (ClassifyDeepSector(data, size)) {
      case DeepSectorKind::kNothing:
      case DeepSectorKind::kDirectoryRecord: break;
      case DeepSectorKind::kFileRecord:
        if (ntfsDeep_) {
          const uint32_t bytes = DeepFileRecordBytes(size);
          if (offset + bytes <= size_t{block.sectors} * size) {
            ntfsDeep_->OnFileRecord(data, bytes, sector);
          } else {
            // The record runs past the block: read it whole.
            recordBuffer_.assign(bytes, 0);
            uint32_t got = 0;
            source_.ReadSectors(bytes / size, recordBuffer_.data(), sector, size, &got);
            ntfsDeep_->OnFileRecord(recordBuffer_.data(), bytes, sector);
          }
        }
        break;
      case DeepSectorKind::kDotCluster:
        if (fatDeep_) fatDeep_->OnDotClusterSector(data, size, sector);
        break;
      case DeepSectorKind::kDirectory:
        if (fatDeep_) fatDeep_->OnDirectorySector(data, size, sector);
        break;
      case DeepSectorKind::kCarveCandidate: {
        CarvePassProgress pass;
        {
          std::lock_guard lock(stateMutex_);
          pass.done = position_.totalDone;
        }
        pass.total = totalSectors_;
        pass.found = filesFoundCache_;
        pass.secondsLeft = secondsLeft_;
        uint64_t found = 0;
        const int rc = carving_->CarveSector(data, size, sector, pass, advance, found);
        filesFoundCache_ += found;
        if (rc == err::kCancelled) return rc;
        if (rc != err::kSuccess) advance = 1;
        break;
      }
    }
    sector += std::max<uint64_t>(advance, 1);
  }
  // The overshoot of a carved file is carried into the next blocks, but
  // never past the range it was found in.
  skipUntil = std::min(std::max(skipUntil, sector), rangeEnd);
  return err::kSuccess;
}

int CProfessionalRecovery::ReportProgress() {
  const auto now = std::chrono::steady_clock::now();
  uint64_t done;
  {
    std::lock_guard lock(stateMutex_);
    done = position_.totalDone;
  }
  if (now - lastEstimate_ >= kEstimateEvery) {
    lastEstimate_ = now;
    const double seconds = std::chrono::duration<double>(now - passStarted_).count();
    const double bytes = static_cast<double>(done - std::min(done, doneAtStart_)) * sectorSize_;
    double rate = seconds > 0 ? bytes / seconds : 0;
    if (rate < 1) rate = 1;
    const uint64_t left = totalSectors_ > done ? totalSectors_ - done : 0;
    secondsLeft_ = static_cast<int64_t>(static_cast<double>(left) * sectorSize_ / rate);
  }
  if (!scanProgress_) return err::kSuccess;
  const uint64_t total = std::max<uint64_t>(totalSectors_, 1);
  const int step = static_cast<int>(std::min<uint64_t>(done, total) * 100 / total) + 10;
  return scanProgress_(user_, step, 90, secondsLeft_, done, totalSectors_, FilesFound(), 0);
}

uint64_t CProfessionalRecovery::FilesFound() {
  uint64_t total = 0;
  for (IFileRecoveryParse* e : Engines()) total += e->RecordCount();
  return total;
}

void CProfessionalRecovery::FlushLogs() {
  carving_->FlushLog();
  if (fatDeep_) fatDeep_->FlushLog();
  if (ntfsDeep_) ntfsDeep_->FlushLog();
}

// The logs are flushed before: a resumed scan never misses a file that the
// stored position has passed.
void CProfessionalRecovery::SavePosition() {
  if (!deepPassReached_) return;
  ResumePoint point;
  fs::path folder;
  {
    std::lock_guard lock(stateMutex_);
    point = position_;
    folder = folder_;
  }
  point.filesFound = FilesFound();
  const int rc = context_.history->SaveHistoryEntry(
      driveIndex_, volumeStart_, volumeSectors_, volumeBytes_, point, folder,
      driveIndex_ == kImageDriveNumber ? imagePath_ : std::string());
  if (rc != 0 && !positionWarned_) {
    positionWarned_ = true;
    std::lock_guard lock(stateMutex_);
    warnings_.push_back("Where the deep scan stands could not be saved (" + ErrorText(rc) +
                        "); if it is interrupted it cannot be resumed.");
  }
}

}  // namespace qm
