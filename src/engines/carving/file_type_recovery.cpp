#include "engines/carving/file_type_recovery.h"

#include <algorithm>
#include <vector>

#include "platform/errors.h"
#include "platform/filetime.h"
#include "results/scan_log_store.h"

namespace qm {

namespace {

// Largest piece of a carved file read at a time during copy-out.
constexpr uint32_t kCopyPieceBytes = 0x10000;

// Most carved files whose extents are watched for unreadable sectors at once.
constexpr size_t kMaxOpenExtents = 4096;

// Types whose size comes from a header field (compound files, wav, avi, asf,
// swf, bmp, cab, ttf, ico). A damaged or foreign header can claim far more
// than the file really holds, so the pass moves on by one sector only and
// still finds the files that lie inside the claimed range.
bool AdvancesOneSector(int typeId) {
  switch (typeId) {
    case 0: case 2: case 3: case 5: case 21: case 22:
    case 24: case 26: case 29: case 33: case 45: case 46:
      return true;
    default:
      return false;
  }
}

uint64_t SectorsCovering(uint64_t bytes, uint32_t sectorSize) {
  return (bytes + sectorSize - 1) / sectorSize;
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

CFileTypeRecovery::CFileTypeRecovery() = default;
CFileTypeRecovery::~CFileTypeRecovery() = default;

int CFileTypeRecovery::OpenImage(const std::string& imagePath, uint16_t volumeLetter) {
  CloseSource();
  const int rc = source_.OpenImageSource(imagePath);
  if (rc != 0) return rc;
  if (int opened = FinishOpen(0, source_.totalSectors(), volumeLetter, 0); opened != 0)
    return opened;
  return StartNewLog();
}

int CFileTypeRecovery::OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                                uint16_t volumeLetter) {
  CloseSource();
  const int rc = source_.OpenPhysicalDriveSource(Disks(), driveIndex);
  if (rc != 0) return rc;
  if (int opened = FinishOpen(startSector, sectorCount, volumeLetter, 0); opened != 0)
    return opened;
  return StartNewLog();
}

void CFileTypeRecovery::CloseSource() {
  open_ = false;
  source_.Close();
  knownStarts_.clear();
  openExtents_.clear();
  signatureContext_.carvedTransportStreams.clear();
  signatureContext_.previousWasMts = false;
  signatureContext_.transportStreamStart = false;
}

// The volume is kept inside the source: a partition table that claims more
// sectors than the disk has would otherwise let carved files run off its end.
int CFileTypeRecovery::FinishOpen(uint64_t startSector, uint64_t sectorCount,
                                  uint16_t volumeLetter, uint32_t sectorSize) {
  const uint64_t total = source_.totalSectors();
  if (startSector >= total) {
    source_.Close();
    return err::kInvalidParameter;
  }
  if (sectorCount == 0 || sectorCount > total - startSector) sectorCount = total - startSector;
  volumeLetter_ = volumeLetter;
  volumeStart_ = startSector;
  volumeSectors_ = sectorCount;
  sectorSize_ = sectorSize != 0 ? sectorSize : source_.info().sectorSize;
  if (sectorSize_ == 0 || sectorSize_ > kCopyPieceBytes || kCopyPieceBytes % sectorSize_ != 0) {
    source_.Close();
    return err::kInvalidParameter;
  }
  signatureContext_.source = &source_;
  signatureContext_.sectorSize = sectorSize_;
  signatureContext_.endSector = volumeStart_ + volumeSectors_;
  return err::kSuccess;
}

int CFileTypeRecovery::StartNewLog() {
  NewLog();
  const int rc = OpenLog(MakeLogBaseName("File_Type_", volumeStart_, LocalNow()));
  if (rc != 0) {
    source_.Close();
    return rc;
  }
  open_ = true;
  return err::kSuccess;
}

int CFileTypeRecovery::ReopenLog(const std::string& logName, const std::string& imagePath,
                                 int driveIndex, uint64_t startSector, uint64_t sectorCount,
                                 uint16_t volumeLetter, uint32_t sectorSize,
                                 uint64_t resumeSector) {
  CloseSource();
  if (logName.empty()) return err::kInvalidParameter;
  int rc = imagePath.empty() ? source_.OpenPhysicalDriveSource(Disks(), driveIndex)
                             : source_.OpenImageSource(imagePath);
  if (rc != 0) return rc;
  if (imagePath.empty()) {
    rc = FinishOpen(startSector, sectorCount, volumeLetter, sectorSize);
  } else {
    rc = FinishOpen(0, source_.totalSectors(), volumeLetter, sectorSize);
  }
  if (rc != 0) return rc;
  NewLog();
  if (rc = OpenLog(logName); rc != 0) {
    source_.Close();
    return rc;
  }
  if (rc = LoadEarlierRecords(resumeSector); rc != 0) {
    source_.Close();
    return rc;
  }
  open_ = true;
  return err::kSuccess;
}

// What the log already holds: the files at or past the resume position are
// met again by the resumed pass and must not be recorded twice, and the
// transport streams carved so far keep a stream from being started again
// inside one of them.
int CFileTypeRecovery::LoadEarlierRecords(uint64_t resumeSector) {
  const uint64_t count = log_->RecordCount();
  FoundFileRecord record{};
  for (uint64_t i = 1; i <= count; ++i) {
    if (int rc = log_->ReadRecord(static_cast<uint32_t>(i), record); rc != 0) return rc;
    if (record.isDirectory != 0) continue;
    // Packed fields are copied out before they are bound to references.
    const uint64_t start = record.anchorSector;
    const uint64_t size = record.fileSize;
    if (start >= resumeSector) knownStarts_[start] = size;
    if (EndsWith(record.Name(), ".ts") && size > 0) {
      signatureContext_.carvedTransportStreams.emplace_back(
          start, start + SectorsCovering(size, sectorSize_) - 1);
    }
  }
  return err::kSuccess;
}

int CFileTypeRecovery::CarveSector(const uint8_t* data, size_t available, uint64_t sector,
                                   const CarvePassProgress& pass, uint64_t& advance,
                                   uint64_t& filesFound) {
  advance = 1;
  if (!open_ || !log_ || !log_->IsOpen()) return err::kInvalidHandle;
  if (data == nullptr || available < sectorSize_) return err::kInvalidParameter;
  if (sector < volumeStart_ || sector - volumeStart_ >= volumeSectors_)
    return err::kInvalidParameter;

  SignatureScanContext& context = signatureContext_;
  context.sectorSize = sectorSize_;
  context.startSector = sector;
  context.currentSector = sector;
  context.progress = scanProgress_;
  context.progressUser = user_;
  context.progressScale = scale_;
  context.progressDone = pass.done;
  context.progressTotal = pass.total;
  context.progressFound = pass.found;
  context.progressSecondsLeft = pass.secondsLeft;

  // The tests judge one sector, whatever the caller has after it; they read
  // further sectors themselves where they need them.
  SignatureHit hit;
  if (int rc = IdentifyAt(data, sectorSize_, context, hit); rc != 0) return rc;

  // A resumed pass meets again the files recorded before the stop, and
  // moves on past them as the first pass did.
  const auto known = knownStarts_.find(sector);
  const uint64_t size = known != knownStarts_.end() ? known->second : hit.size;
  if (!AdvancesOneSector(hit.typeId))
    advance = std::max<uint64_t>(1, SectorsCovering(size, sectorSize_));
  if (known != knownStarts_.end()) return err::kSuccess;

  FoundFileRecord* record = log_->ReserveRecord();
  if (record == nullptr) return err::kNotEnoughMemory;
  // Sectors the size finder could not read, or that the pass met before,
  // make the file damaged; the pass may still meet more of them later.
  const uint64_t extent = std::max<uint64_t>(1, SectorsCovering(hit.size, sectorSize_));
  const bool unreadable = source_.IsKnownUnreadable(sector, extent, sectorSize_);
  record->volumeLetter = volumeLetter_;
  record->engineKind = static_cast<uint32_t>(EngineKind::kCarving);
  record->contentOk = unreadable ? kContentPartlyUnreadable : kContentOk;
  record->recordIndex = static_cast<uint32_t>(log_->RecordCount());
  record->entryId = 0;
  record->clusterBytes = kNoClusterChain;
  record->fileSize = hit.size;
  record->anchorSector = sector;
  record->volumeStartSector = 0;
  record->SetName(hit.name);
  const uint32_t recordIndex = record->recordIndex;
  log_->AddRelation(DirectoryKey(0, RootId()), recordIndex, 0, nullptr);
  if (!unreadable) {
    if (openExtents_.size() >= kMaxOpenExtents) openExtents_.erase(openExtents_.begin());
    openExtents_.push_back({recordIndex, sector, sector + extent});
  }
  ++filesFound;
  return err::kSuccess;
}

void CFileTypeRecovery::NoteUnreadableInPass(uint64_t firstSector, uint64_t count) {
  if (!open_ || count == 0) return;
  source_.MarkUnreadable(firstSector, count, sectorSize_);
  const uint64_t end = firstSector + count;
  std::erase_if(openExtents_, [&](const OpenExtent& e) {
    if (e.first >= end || e.end <= firstSector) return false;
    if (log_) log_->SetContentOk(e.recordIndex, kContentPartlyUnreadable);
    return true;
  });
}

void CFileTypeRecovery::ForgetExtentsBefore(uint64_t sector) {
  std::erase_if(openExtents_, [&](const OpenExtent& e) { return e.end <= sector; });
}

int CFileTypeRecovery::FlushLog() {
  if (!log_ || !log_->IsOpen()) return err::kInvalidHandle;
  return log_->FlushScanLog();
}

// Carved records carry no cluster size (kNoClusterChain), which the shared
// preview path takes for a record with nothing to extract; a carved file
// always has its extent.
int CFileTypeRecovery::ExtractForPreview(const FoundFileRecord& record, std::string& outPath,
                                         uint8_t* buffer, uint32_t* bufferSize,
                                         PreviewProgressFn progress, void* user) {
  outPath.clear();
  if (!open_) return err::kInvalidHandle;
  return extractor_.ExtractForPreview(record, outPath, buffer, bufferSize, progress, user);
}

// A carved file is fileSize bytes from anchorSector, read in whole sectors.
// Unreadable sectors go out as zeros and are noted; a part of the file that
// lies past the end of the source (an image cut short since the scan) ends
// the copy with a read fault.
int CFileTypeRecovery::ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) {
  if (!open_) return err::kInvalidHandle;
  if (record.isDirectory != 0) return err::kInvalidParameter;
  const uint32_t sectorSize = sectorSize_;
  const uint32_t pieceSectors = kCopyPieceBytes / sectorSize;
  std::vector<uint8_t> buffer(kCopyPieceBytes);
  const uint64_t total = source_.totalSectors();
  uint64_t remaining = record.fileSize;
  uint64_t sector = record.anchorSector;
  while (remaining > 0) {
    if (sector >= total) return err::kReadFault;
    const uint64_t wanted = std::min<uint64_t>(
        {pieceSectors, SectorsCovering(remaining, sectorSize), total - sector});
    const auto count = static_cast<uint32_t>(wanted);
    uint32_t got = 0;
    int rc = source_.ReadSectors(count, buffer.data(), sector, sectorSize, &got);
    if (rc == err::kReadFault && got < count) {
      std::vector<SectorRange> bad;
      rc = source_.ReadSectorsFilling(count - got, buffer.data() + uint64_t{got} * sectorSize,
                                      sector + got, sectorSize, bad);
      if (rc == err::kSuccess || rc == err::kReadFault) {
        const uint64_t pieceOffset = record.fileSize - remaining;
        for (const SectorRange& r : bad) {
          const uint64_t at = pieceOffset + (r.first - sector) * sectorSize;
          if (at >= record.fileSize) break;
          NoteUnreadable(at, std::min<uint64_t>(r.count * sectorSize, record.fileSize - at));
        }
        got = count;
        rc = err::kSuccess;
      }
    }
    const uint64_t use = std::min<uint64_t>(uint64_t{got} * sectorSize, remaining);
    if (use > 0) {
      if (int stop = sink(buffer.data(), static_cast<size_t>(use)); stop != 0) return stop;
      remaining -= use;
      sector += got;
    }
    // A range the source refuses outright yields nothing: a read fault.
    if (rc != 0) return rc == err::kInvalidParameter ? err::kReadFault : rc;
    if (got == 0) return err::kReadFault;
  }
  return err::kSuccess;
}

}  // namespace qm
