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
  if (int rc = ParseFatBootSector(boot_.data(), bootBytes, geometry_); rc != 0) return rc;
  // Regions are addressed in the volume's sector unit and read in the
  // device's; the first must be a whole number of the second.
  if (geometry_.bytesPerSector % deviceSectorSize_ != 0) return err::kInvalidData;
  source_ = &source;
  window_.clear();
  windowBytes_ = 0;
  windowStart_ = 0;
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

int FatVolume::LoadWindow(uint64_t byteOffset) {
  const uint64_t fatBytes = geometry_.FatBytes();
  const uint64_t start = byteOffset / deviceSectorSize_ * deviceSectorSize_;
  if (start >= fatBytes) return err::kInvalidParameter;
  const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kFatWindowBytes, fatBytes - start));
  if (window_.size() < length) window_.resize(length);
  windowBytes_ = 0;
  uint32_t got = 0;
  const int rc = ReadBytes(geometry_.FatOffset() + start, length, window_.data(), got);
  windowStart_ = start;
  windowBytes_ = got;
  if (got == 0) return rc != 0 ? rc : err::kReadFault;
  return err::kSuccess;
}

int FatVolume::Entry(uint32_t cluster, uint32_t& value) {
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
  if (offset < windowStart_ || offset + width > windowStart_ + windowBytes_) {
    if (int rc = LoadWindow(offset); rc != 0) return rc;
    if (offset + width > windowStart_ + windowBytes_) return err::kReadFault;
  }
  const uint8_t* p = window_.data() + (offset - windowStart_);
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

bool FatVolume::NextInChain(uint32_t cluster, uint32_t& next) {
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

bool FatVolume::NextFreeAfter(uint32_t cluster, uint32_t& next) {
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
