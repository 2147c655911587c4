#include "engines/fat/fat_volume.h"

#include <algorithm>

#include "platform/errors.h"

namespace qm {

namespace {

// The first 4 KiB of the volume hold the boot sector whatever its sector size.
constexpr uint32_t kBootBytes = 4096;

}  // namespace

int FatVolume::Open(const SectorSource& source, uint64_t partitionStart,
                    uint64_t partitionSectors) {
  source_ = nullptr;
  deviceSectorSize_ = source.info().sectorSize;
  if (deviceSectorSize_ < 512 || deviceSectorSize_ > kBootBytes ||
      (deviceSectorSize_ & (deviceSectorSize_ - 1)) != 0)
    return err::kInvalidParameter;
  if (partitionStart >= source.totalSectors()) return err::kInvalidParameter;
  const uint64_t available = source.totalSectors() - partitionStart;
  partitionStart_ = partitionStart;
  partitionSectors_ = partitionSectors == 0 ? available : std::min(partitionSectors, available);
  if (partitionSectors_ * deviceSectorSize_ < 512) return err::kInvalidData;

  const uint32_t bootBytes = static_cast<uint32_t>(
      std::min<uint64_t>(kBootBytes, partitionSectors_ * deviceSectorSize_));
  boot_.assign(kBootBytes, 0);
  uint32_t sectorsRead = 0;
  if (int rc = source.ReadSectors(bootBytes / deviceSectorSize_, boot_.data(), partitionStart,
                                  deviceSectorSize_, &sectorsRead);
      rc != 0)
    return rc;
  if (int rc = ParseFatBootSector(boot_.data(), bootBytes, geometry_, &rootClusterDamaged_); rc != 0)
    return rc;
  // Regions are addressed in the volume's sector unit and read in the
  // device's; the first must be a whole number of the second.
  if (geometry_.bytesPerSector % deviceSectorSize_ != 0) return err::kInvalidData;
  source_ = &source;
  // A volume cut short may hold only part of its FAT: what is there is read,
  // entries past it count as unreadable.
  const uint64_t fatStart = geometry_.FatOffset();
  const uint64_t volumeBytes = partitionBytes();
  const uint64_t readable =
      fatStart >= volumeBytes ? 0 : (volumeBytes - fatStart) / deviceSectorSize_ * deviceSectorSize_;
  table_.Reset(geometry_.FatBytes(), readable,
               [this, fatStart](uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got) {
                 return ReadBytes(fatStart + offset, length, out, got);
               });
  return err::kSuccess;
}

int FatVolume::ReadBytes(uint64_t offset, uint32_t length, uint8_t* buffer, uint32_t& got) const {
  got = 0;
  if (source_ == nullptr) return err::kInvalidHandle;
  if (offset % deviceSectorSize_ != 0 || length % deviceSectorSize_ != 0)
    return err::kInvalidParameter;
  const uint64_t volumeBytes = partitionBytes();
  if (offset > volumeBytes || length > volumeBytes - offset) return err::kInvalidParameter;
  uint32_t sectorsRead = 0;
  const int rc = source_->ReadSectors(length / deviceSectorSize_, buffer, AbsoluteSector(offset),
                                      deviceSectorSize_, &sectorsRead);
  got = sectorsRead * deviceSectorSize_;
  return rc;
}

int FatVolume::Entry(uint32_t cluster, uint32_t& value) const {
  value = 0;
  if (source_ == nullptr) return err::kInvalidHandle;
  if (!geometry_.IsDataCluster(cluster)) return err::kInvalidParameter;
  uint64_t offset;
  uint32_t width;
  switch (geometry_.type) {
    case FatType::kFat12: offset = uint64_t{cluster} * 3 / 2; width = 2; break;
    case FatType::kFat16: offset = uint64_t{cluster} * 2; width = 2; break;
    default: offset = uint64_t{cluster} * 4; width = 4; break;
  }
  uint8_t p[4] = {};
  if (int rc = table_.Copy(offset, width, p); rc != 0)
    return rc == err::kInvalidParameter ? err::kReadFault : rc;
  switch (geometry_.type) {
    case FatType::kFat12: {
      // Two 12-bit entries share three bytes: an even cluster takes the low
      // 12 bits of its little-endian word, an odd one the high 12.
      const uint32_t word = uint32_t{p[0]} | uint32_t{p[1]} << 8;
      value = (cluster & 1) ? word >> 4 : word & 0x0FFF;
      break;
    }
    case FatType::kFat16:
      value = uint32_t{p[0]} | uint32_t{p[1]} << 8;
      break;
    default:
      // The top four bits of a FAT32 entry are reserved.
      value = (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
               uint32_t{p[3]} << 24) & 0x0FFFFFFF;
      break;
  }
  return err::kSuccess;
}

bool FatVolume::IsEndMarker(uint32_t value) const {
  switch (geometry_.type) {
    case FatType::kFat12: return value >= 0xFF8;
    case FatType::kFat16: return value >= 0xFFF8;
    default: return value >= 0x0FFFFFF8;
  }
}

bool FatVolume::NextInChain(uint32_t cluster, uint32_t& next) const {
  uint32_t entry = 0;
  if (Entry(cluster, entry) != 0) entry = 0;
  if (entry == 0) {
    if (!geometry_.IsDataCluster(uint64_t{cluster} + 1)) return false;
    uint32_t following = 0;
    if (Entry(cluster + 1, following) != 0) following = 0;
    if (following != 0) return false;
    next = cluster + 1;
    return true;
  }
  if (IsEndMarker(entry) || !geometry_.IsDataCluster(entry)) return false;
  next = entry;
  return true;
}

bool FatVolume::NextFreeAfter(uint32_t cluster, uint32_t& next) const {
  for (uint64_t c = uint64_t{cluster} + 1; c <= geometry_.LastCluster(); ++c) {
    uint32_t entry = 0;
    if (Entry(static_cast<uint32_t>(c), entry) == 0 && entry == 0) {
      next = static_cast<uint32_t>(c);
      return true;
    }
  }
  return false;
}

}  // namespace qm
