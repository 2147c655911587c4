#include "disk/sector_source.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"

namespace qm {

namespace {

// Errors after which no further sector of the source can be read: a
// removed disk answers every retry with them.
bool SourceIsGone(int rc) {
  return rc == err::kNotReady || rc == err::kDeviceRemoved || rc == err::kInvalidHandle;
}

}  // namespace

void AppendSectorRange(std::vector<SectorRange>& ranges, uint64_t first, uint64_t count) {
  if (count == 0) return;
  if (!ranges.empty() && ranges.back().first + ranges.back().count == first) {
    ranges.back().count += count;
    return;
  }
  ranges.push_back({first, count});
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

bool SectorSource::TouchesKnownBad(uint64_t offset, uint64_t length) const {
  if (!anyBad_.load(std::memory_order_acquire)) return false;
  std::lock_guard lock(badLock_);
  auto it = bad_.upper_bound(offset);
  if (it != bad_.begin() && std::prev(it)->second > offset) return true;
  return it != bad_.end() && it->first < offset + length;
}

bool SectorSource::IsKnownUnreadable(uint64_t startSector, uint64_t count,
                                     uint32_t sectorSize) const {
  if (count == 0 || sectorSize == 0) return false;
  const uint64_t limit = UINT64_MAX / sectorSize;
  if (startSector >= limit) return false;
  count = std::min(count, limit - startSector);
  return TouchesKnownBad(startSector * sectorSize, count * sectorSize);
}

void SectorSource::RememberBad(uint64_t offset, uint64_t length) const {
  if (length == 0) return;
  std::lock_guard lock(badLock_);
  uint64_t start = offset, end = offset + length;
  auto it = bad_.upper_bound(start);
  if (it != bad_.begin() && std::prev(it)->second >= start) --it;
  while (it != bad_.end() && it->first <= end) {
    start = std::min(start, it->first);
    end = std::max(end, it->second);
    it = bad_.erase(it);
  }
  bad_.emplace(start, end);
  anyBad_.store(true, std::memory_order_release);
}

void SectorSource::MarkUnreadable(uint64_t startSector, uint64_t count, uint32_t sectorSize) const {
  RememberBad(startSector * sectorSize, count * sectorSize);
}

std::vector<SectorRange> SectorSource::KnownUnreadable() const {
  std::lock_guard lock(badLock_);
  std::vector<SectorRange> ranges;
  for (const auto& [start, end] : bad_) {
    const uint64_t first = start / 512;
    AppendSectorRange(ranges, first, (end + 511) / 512 - first);
  }
  return ranges;
}

int SectorSource::ReadPieceBySector(uint64_t offset, unsigned char* out, uint64_t length,
                                    uint32_t sectorSize, uint64_t& done) const {
  for (uint64_t at = 0; at < length; at += sectorSize) {
    if (TouchesKnownBad(offset + at, sectorSize)) return err::kReadFault;
    size_t got = 0;
    const int rc = handle_.ReadAt(offset + at, out + at, sectorSize, got);
    if (rc != 0) {
      if (SourceIsGone(rc)) return rc;
      // An unplugged disk may answer with plain I/O errors: every sector
      // would then be tried one by one to its end. Its size tells.
      uint64_t bytesNow = 0;
      if (handle_.Size(bytesNow) != 0 || bytesNow < info_.lengthBytes) return err::kNotReady;
      RememberBad(offset + at, sectorSize);
      return err::kReadFault;
    }
    // The source ended early (an image that shrank): not a bad sector.
    if (got < sectorSize) return err::kReadFault;
    done += sectorSize;
  }
  return err::kSuccess;
}

int SectorSource::ReadSectors(uint32_t count, void* buffer, uint64_t startSector,
                              uint32_t sectorSize, uint32_t* sectorsRead,
                              uint32_t pieceBytes) const {
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
    // Whole sectors per piece, so that a retry can go sector by sector.
    const uint64_t pieceLimit = std::max<uint64_t>(sectorSize, pieceBytes / sectorSize * sectorSize);
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(pieceLimit, total - done));
    if (TouchesKnownBad(base + done, piece)) {
      rc = ReadPieceBySector(base + done, out + done, piece, sectorSize, done);
      if (rc != 0) break;
      continue;
    }
    size_t got = 0;
    const int readRc = handle_.ReadAt(base + done, out + done, piece, got);
    if (readRc != 0) {
      if (SourceIsGone(readRc)) {
        rc = readRc;
        break;
      }
      rc = ReadPieceBySector(base + done, out + done, piece, sectorSize, done);
      if (rc != 0) break;
      continue;
    }
    done += got;
    if (got < piece) {
      rc = err::kReadFault;
      break;
    }
  }
  if (rc != 0 && !SourceIsGone(rc)) rc = err::kReadFault;
  if (sectorsRead) *sectorsRead = static_cast<uint32_t>(done / sectorSize);
  return rc;
}

int SectorSource::ReadSectorsFilling(uint32_t count, void* buffer, uint64_t startSector,
                                     uint32_t sectorSize, std::vector<SectorRange>& unreadable) const {
  auto* out = static_cast<unsigned char*>(buffer);
  uint32_t at = 0;
  int result = err::kSuccess;
  while (at < count) {
    uint32_t got = 0;
    const int rc = ReadSectors(count - at, out + uint64_t{at} * sectorSize, startSector + at,
                               sectorSize, &got);
    at += got;
    if (rc == 0) break;
    if (rc != err::kReadFault) return rc;
    // ReadSectors stopped at sector `at`, which could not be read.
    std::memset(out + uint64_t{at} * sectorSize, 0, sectorSize);
    AppendSectorRange(unreadable, startSector + at, 1);
    result = err::kReadFault;
    ++at;
  }
  return result;
}

void SectorSource::Close() {
  handle_.Close();
  totalSectors_ = 0;
  std::lock_guard lock(badLock_);
  bad_.clear();
  anyBad_.store(false, std::memory_order_release);
}

}  // namespace qm
