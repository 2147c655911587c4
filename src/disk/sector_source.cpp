#include "disk/sector_source.h"

#include <algorithm>

#include "platform/errors.h"

namespace qm {

int SectorSource::OpenPhysicalDriveSource(int driveIndex) {
  return OpenPhysicalDriveSource(DiskTable::System(), driveIndex);
}

int SectorSource::OpenPhysicalDriveSource(const DiskTable& table, int driveIndex) {
  Close();
  path_ = table.PathOf(driveIndex);
  if (path_.empty()) return err::kFileNotFound;
  if (int rc = handle_.OpenReadOnly(path_); rc != 0) return rc;
  if (int rc = QueryDiskInfo(handle_, info_); rc != 0) return rc;
  totalSectors_ = info_.lengthBytes / info_.sectorSize;
  if (totalSectors_ == 0) {
    const DiskGeometry& g = info_.geometry;
    totalSectors_ = g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
  }
  return err::kSuccess;
}

int SectorSource::OpenImageSource(const std::filesystem::path& path) {
  Close();
  path_ = path.string();
  if (int rc = handle_.OpenReadOnly(path); rc != 0) return rc;
  uint64_t bytes = 0;
  if (int rc = handle_.Size(bytes); rc != 0) return rc;
  info_ = DiskInfo{};
  info_.lengthBytes = bytes;
  info_.geometry.cylinders = bytes / 512 / (uint64_t{255} * 63);
  totalSectors_ = bytes / 512;
  return err::kSuccess;
}

int SectorSource::ReadSectors(uint32_t count, void* buffer, uint64_t startSector,
                              uint32_t sectorSize, uint32_t* sectorsRead) const {
  if (sectorsRead) *sectorsRead = 0;
  if (!handle_.IsOpen()) return err::kInvalidHandle;
  if (sectorSize == 0 || buffer == nullptr || startSector > totalSectors_ ||
      count > totalSectors_ - startSector)
    return err::kInvalidParameter;
  const uint64_t total = uint64_t{count} * sectorSize;
  const uint64_t base = startSector * sectorSize;
  auto* out = static_cast<unsigned char*>(buffer);
  uint64_t done = 0;
  int rc = err::kSuccess;
  while (done < total) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(kMaxPieceBytes, total - done));
    size_t got = 0;
    int readRc = handle_.ReadAt(base + done, out + done, piece, got);
    done += got;
    if (readRc != 0 || got == 0) {
      rc = err::kReadFault;
      break;
    }
  }
  if (sectorsRead) *sectorsRead = static_cast<uint32_t>(done / sectorSize);
  return rc;
}

void SectorSource::Close() {
  handle_.Close();
  totalSectors_ = 0;
}

}  // namespace qm
