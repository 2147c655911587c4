#include "disk/drive_copier.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "disk/sector_source.h"
#include "platform/errors.h"

namespace qm {

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SameFile(const FileHandle& a, const std::filesystem::path& b) {
  struct stat sa {}, sb {};
  return ::fstat(a.fd(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

int CopySectorsToFile(DriveCopyJob& job, const SectorSource& source, uint64_t startSector,
                      uint64_t sectorCount, const std::filesystem::path& imagePath, void* user) {
  job.user = user;
  job.startSector = startSector;
  job.sectorSize = source.info().sectorSize ? source.info().sectorSize : 512;
  const uint32_t sectorSize = job.sectorSize;
  // Disks report their own sector size; an image counts in 512-byte sectors.
  job.sourceBytes = source.info().lengthBytes;
  job.unreadable.clear();
  const uint64_t available = source.info().lengthBytes / sectorSize;
  if (sectorCount == 0) {
    // "To the end" from the end or beyond is a range past the end.
    if (startSector > available || (startSector == available && startSector != 0))
      return err::kInvalidParameter;
    sectorCount = available - startSector;
  }
  job.sectorCount = sectorCount;
  if (startSector > available || sectorCount > available - startSector)
    return err::kInvalidParameter;
  // Writing the image onto the very source being copied would destroy it.
  if (SameFile(source.handle(), imagePath)) return err::kInvalidParameter;

  FileHandle destination;
  if (int rc = job.replaceExisting ? destination.OpenReadWrite(imagePath)
                                   : destination.CreateExclusive(imagePath);
      rc != 0)
    return rc;

  const int64_t startMs = NowMs();
  int64_t lastEstimateMs = startMs;
  int64_t secondsLeft = -1;
  const uint64_t total = sectorCount * sectorSize;
  // A multiple of every sector size up to 64 KiB.
  const uint32_t pieceBytes = std::max<uint32_t>(sectorSize, SectorSource::kMaxPieceBytes);
  std::vector<uint8_t> buffer(pieceBytes);
  uint64_t done = 0;
  int rc = err::kSuccess;
  while (done < total) {
    const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(pieceBytes, total - done));
    const uint32_t sectors = piece / sectorSize;
    rc = source.ReadSectorsFilling(sectors, buffer.data(), startSector + done / sectorSize, sectorSize,
                                   job.unreadable);
    // A bad sector is written as zeros and the copy goes on; anything else
    // (a disk that has gone) ends it.
    if (rc != 0 && rc != err::kReadFault) break;
    if (int writeRc = destination.WriteAt(done, buffer.data(), piece); writeRc != 0) {
      rc = writeRc;
      break;
    }
    done += piece;
    const int64_t now = NowMs();
    if (now - lastEstimateMs >= 5000) {
      int64_t seconds = (now - startMs) / 1000;
      uint64_t speed = done / static_cast<uint64_t>(seconds > 0 ? seconds : 1);
      if (speed == 0) speed = 1;
      secondsLeft = static_cast<int64_t>((total - done) / speed);
      lastEstimateMs = now;
    }
    if (job.progress) {
      int stop = job.progress(user, static_cast<int>(done * 100 / total), done / sectorSize,
                              total / sectorSize, secondsLeft);
      if (stop != 0) {
        rc = stop;
        break;
      }
    }
  }
  if (rc == err::kReadFault) rc = err::kSuccess;
  // An older, longer image at this path must not keep a stale tail: it
  // would later be scanned as part of the volume.
  if (rc == err::kSuccess) rc = destination.Truncate(total);
  if (rc == err::kSuccess && !job.unreadable.empty()) rc = err::kReadFault;
  return rc;
}

int CopyDriveToFile(DriveCopyJob& job, const DiskTable& disks, int driveIndex,
                    uint64_t startSector, uint64_t sectorCount,
                    const std::filesystem::path& imagePath, void* user) {
  SectorSource source;
  if (int rc = source.OpenPhysicalDriveSource(disks, driveIndex); rc != 0) return rc;
  return CopySectorsToFile(job, source, startSector, sectorCount, imagePath, user);
}

int CopySourceToFile(DriveCopyJob& job, const std::string& sourcePath, uint64_t startSector,
                     uint64_t sectorCount, const std::filesystem::path& imagePath, void* user) {
  SectorSource source;
  DiskTable single({sourcePath});
  if (int rc = source.OpenPhysicalDriveSource(single, 0); rc != 0) return rc;
  return CopySectorsToFile(job, source, startSector, sectorCount, imagePath, user);
}

}  // namespace qm
