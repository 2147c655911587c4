#include "engines/ntfs/fast_ntfs_recovery.h"

#include <new>

#include "engines/ntfs/ntfs_data_reader.h"
#include "engines/ntfs/ntfs_mft_scanner.h"
#include "engines/volume_warnings.h"
#include "platform/errors.h"
#include "platform/filetime.h"

namespace qm {

namespace {

// The NTFS-internal codes (no file record, attribute not found, no resident
// data) mean "this volume's structures do not say" to a caller. Any other
// value, a callback's stopping value included, passes unchanged.
int PublicCode(int rc) {
  const bool internal = rc == ntfs::kNoFileRecord || rc == ntfs::kAttributeNotFound || rc == ntfs::kNoResidentData;
  return internal ? err::kInvalidData : rc;
}

}  // namespace

CFastNtfsRecovery::CFastNtfsRecovery() = default;
CFastNtfsRecovery::~CFastNtfsRecovery() = default;

uint32_t CFastNtfsRecovery::RootId() const { return ntfs::kRootDirectoryRecord; }

int CFastNtfsRecovery::FinishOpen(int rc, uint64_t startSector, uint64_t sectorCount,
                                  uint32_t deviceSectorSize, uint16_t volumeLetter) {
  if (rc != 0) {
    source_.Close();
    return rc;
  }
  std::vector<uint8_t> boot(ntfs::kBootReadBytes);
  uint32_t got = 0;
  rc = source_.ReadSectors(static_cast<uint32_t>(boot.size() / deviceSectorSize), boot.data(), startSector,
                           deviceSectorSize, &got);
  ntfs::NtfsGeometry geometry;
  if (rc == 0 && !ntfs::ParseNtfsGeometry(boot, startSector, geometry)) rc = err::kInvalidData;
  // A drive is addressed in its own sector size, which the volume must share;
  // an image is read in whatever sector size its volume has.
  const bool drive = sectorCount != 0;
  if (rc == 0 && drive && static_cast<uint32_t>(geometry.bytesPerSector) != deviceSectorSize)
    rc = err::kInvalidData;
  if (rc != 0) {
    source_.Close();
    return rc;
  }
  volume_ = ntfs::NtfsVolume(&source_, geometry);
  if (drive) volume_.LimitPresentSectors(sectorCount);
  // A volume whose $MFT cannot be located opens all the same: its clusters
  // can still be searched by a deep scan. The quick scan says why it cannot
  // list anything.
  mftLoadResult_ = volume_.LoadMftRuns();
  volumeSectorCount_ = sectorCount != 0
                           ? sectorCount
                           : source_.info().lengthBytes / static_cast<uint32_t>(geometry.bytesPerSector);
  volumeLetter_ = volumeLetter;
  signatureContext_.source = &source_;
  signatureContext_.sectorSize = static_cast<uint32_t>(geometry.bytesPerSector);
  open_ = true;
  NoteVolumeDamage();
  return err::kSuccess;
}

void CFastNtfsRecovery::NoteVolumeDamage() {
  const ntfs::NtfsGeometry& g = volume_.geometry();
  const uint64_t bps = static_cast<uint32_t>(g.bytesPerSector);
  // The boot sector counts the volume's sectors without the backup boot
  // sector after them.
  const uint64_t declared = g.totalSectors >= UINT64_MAX / bps - 1 ? UINT64_MAX : (g.totalSectors + 1) * bps;
  const uint64_t present = volumeSectorCount_ * bps;
  if (declared > present + bps) AddWarning(VolumeCutShortWarning(declared, present));
  if (mftLoadResult_ != 0) {
    AddWarning(DamagedMetadataWarning(mftLoadResult_ == ntfs::kAttributeNotFound
                                          ? "The $MFT's run list (it maps no record inside the volume)"
                                          : "The $MFT's first record"));
  } else if (volume_.mftRunsCut()) {
    AddWarning("The $MFT's run list points past the end of the volume: only the records inside "
               "the volume were read, and files whose records lay in the rest are not listed. "
               "A deep scan finds files by their content.");
  }
}

int CFastNtfsRecovery::OpenImage(const std::string& imagePath, uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  const int rc = source_.OpenImageSource(imagePath);
  return FinishOpen(rc, 0, 0, 512, volumeLetter);
}

int CFastNtfsRecovery::OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                                uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  const int rc = source_.OpenPhysicalDriveSource(Disks(), driveIndex);
  if (rc == 0 && sectorCount == 0) return FinishOpen(err::kInvalidParameter, 0, 0, 512, volumeLetter);
  const uint32_t sectorSize = rc == 0 ? source_.info().sectorSize : 512;
  return FinishOpen(rc, startSector, sectorCount, sectorSize, volumeLetter);
}

int CFastNtfsRecovery::RunScan(const char* scanLogName) {
  NewLog();
  if (scanLogName != nullptr) return OpenLog(scanLogName);
  if (!open_) return err::kInvalidHandle;
  ClearWarnings();
  NoteVolumeDamage();
  const std::string base =
      MakeLogBaseName("Fast_", volume_.geometry().volumeStartSector, LocalNow());
  if (int rc = OpenLog(base); rc != 0) return rc;
  // The log stays, empty, so that listing it shows an empty volume.
  if (volume_.mftRuns().empty()) {
    const int flushed = log_->FlushScanLog();
    return flushed != 0 ? flushed : err::kDiskCorrupt;
  }

  ntfs::NtfsMftScanner scanner(volume_, *log_, signatureContext_, volumeLetter_);
  scanner.SetProgress(scanProgress_, user_, scale_);
  int rc = scanner.Run();
  parentRecordReads_ = scanner.parentRecordReads();
  if (!scanner.skipped().empty())
    AddWarning(scanner.skipped().Sentence("MFT record", "MFT records"));
  if (scanner.tornRecords() > 0) AddWarning(TornRecordsWarning(scanner.tornRecords()));
  if (scanner.foldersCutFromLoops() > 0)
    AddWarning("Some folders name each other as their parent (the volume is damaged); they are "
               "listed in the root as LostFolder<number> with the files under them.");
  const int flushed = log_->FlushScanLog();
  return rc != 0 ? rc : flushed;
}

// Everything the scan keeps is sized by what the source holds, so running out
// of memory means the machine is short of it; the scan then ends with a
// code instead of taking the program down.
int CFastNtfsRecovery::Scan(const char* scanLogName) {
  try {
    return RunScan(scanLogName);
  } catch (const std::bad_alloc&) {
    return err::kNotEnoughMemory;
  }
}

int CFastNtfsRecovery::NextFreeExtent(uint64_t* start, uint64_t* length) {
  if (start == nullptr || length == nullptr) return 1;
  *length = 0;
  if (!open_) return 1;
  if (!bitmap_.IsBuilt()) BuildClusterBitmap();
  bitmap_.NextFreeExtent(volumeSectorCount_, static_cast<uint32_t>(volume_.geometry().sectorsPerCluster),
                         *start, *length);
  return 1;
}

int CFastNtfsRecovery::BuildClusterBitmap() {
  if (!open_) return err::kInvalidHandle;
  const int rc = bitmap_.Build(volume_);
  if (rc == 0 && bitmap_.oversized())
    AddWarning("The allocation bitmap ($Bitmap) claims " + ByteSizeText(bitmap_.claimedBytes()) +
               ", more than the volume's clusters need: the record is damaged. Only the part for "
               "the clusters inside the source (" + ByteSizeText(bitmap_.bitmapBytes()) +
               ") was read; a deep scan looks at every cluster it does not show as used.");
  return PublicCode(rc);
}

// A file's content is located again from its record at recovery time. A
// record that has been reused by a live file since the scan no longer
// describes the deleted file, and its data is not handed out as if it did.
int CFastNtfsRecovery::ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) {
  if (!open_) return err::kInvalidHandle;
  if (record.isDirectory) return err::kInvalidParameter;
  if (record.fileSize == 0) return err::kSuccess;
  std::vector<uint8_t> fileRecord;
  // By number where the number still maps to the anchor: that also reads a
  // record split over two $MFT runs.
  const uint64_t anchor = record.anchorSector;
  const int read = volume_.RecordNumberToSector(record.entryId) == anchor
                       ? volume_.ReadMftRecord(record.entryId, fileRecord)
                       : volume_.ReadFileRecord(anchor, fileRecord);
  if (read != 0) return PublicCode(read);
  ntfs::RecordHeader header;
  if (!ntfs::ParseRecordHeader(fileRecord, header) || (header.flags & ntfs::kRecordInUse))
    return err::kInvalidData;
  std::vector<ByteRange> unreadable;
  const int rc = ntfs::StreamRecordData(volume_, fileRecord, record.fileSize, sink, unreadable);
  for (const ByteRange& r : unreadable) NoteUnreadable(r.offset, r.length);
  return rc;
}

}  // namespace qm
