#include "engines/volume_classifier.h"

#include <cstring>
#include <initializer_list>

#include "engines/ntfs/ntfs_geometry.h"
#include "platform/byte_order.h"

namespace qm {

namespace {

bool HasBootSignature(const uint8_t* d) { return d[510] == 0x55 && d[511] == 0xAA; }
bool IsPowerOfTwoUpTo128(uint8_t v) { return v != 0 && v <= 128 && (v & (v - 1)) == 0; }

// FAT32 BPB: "FAT32   " at 82, FAT size in the 32-bit field at 36.
bool PassesFat32Test(const uint8_t* d) {
  return std::memcmp(d + 82, "FAT32   ", 8) == 0 && d[16] != 0 && Le32(d + 32) != 0 &&
         IsPowerOfTwoUpTo128(d[13]) && Le32(d + 36) != 0 && HasBootSignature(d);
}

// FAT12/16 BPB: FAT size in the 16-bit field at 22.
bool PassesFat16Test(const uint8_t* d) {
  return d[16] != 0 && (Le16(d + 19) != 0 || Le32(d + 32) != 0) && IsPowerOfTwoUpTo128(d[13]) &&
         Le16(d + 22) != 0 && HasBootSignature(d);
}
}  // namespace

bool IsNtfsBootSector(const uint8_t* d, size_t length) {
  if (length < 512) return false;
  if (std::memcmp(d + 3, "NTFS    ", 8) != 0) return false;
  if ((Le16(d + 11) & 0x1FF) != 0) return false;
  if (Le16(d + 14) != 0) return false;
  if (Le64(d + 40) == 0) return false;
  // Every cluster size the engine reads is taken, from one sector up to the
  // 2 MiB written as a negative shift count; the geometry reader decides.
  ntfs::NtfsGeometry geometry;
  if (!ntfs::ParseNtfsGeometry(ntfs::Bytes(d, length), 0, geometry)) return false;
  for (int offset : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35})
    if (d[offset] != 0) return false;
  return HasBootSignature(d);
}

bool IsBitLockerVolume(const uint8_t* d, size_t length) {
  if (length < 512) return false;
  if (std::memcmp(d + 3, "-FVE-FS-", 8) == 0) return true;
  // BitLocker To Go: eight 0x78, nineteen 0xFF, then 00 1F 2C at 480..509.
  for (int i = 480; i < 488; ++i)
    if (d[i] != 0x78) return false;
  for (int i = 488; i < 507; ++i)
    if (d[i] != 0xFF) return false;
  return d[507] == 0x00 && d[508] == 0x1F && d[509] == 0x2C;
}

bool IsFatBootSector(const uint8_t* d, size_t length, VolumeKind* kind) {
  if (length < 512 || IsBitLockerVolume(d, length)) return false;
  const uint16_t bytesPerSector = Le16(d + 11);
  if (bytesPerSector == 0 || bytesPerSector % 512 != 0) return false;
  const uint8_t sectorsPerCluster = d[13];
  if (sectorsPerCluster == 0) return false;
  uint32_t fatSize = Le16(d + 22);
  if (fatSize == 0) fatSize = Le32(d + 36);
  uint32_t totalSectors = Le32(d + 32);
  if (totalSectors == 0) totalSectors = Le16(d + 19);
  // Unsigned arithmetic as the FAT specification computes it: a hostile BPB
  // wraps around to a huge count, which the range test below refuses.
  const uint32_t rootSectors = Le16(d + 17) * 32u / bytesPerSector;
  const uint32_t clusters =
      (totalSectors - rootSectors - fatSize * d[16] - Le16(d + 14)) / sectorsPerCluster;
  if (clusters > 0xFFF4) {
    if (clusters > 0xFFFFFEF) return false;
    if (PassesFat32Test(d)) {
      if (kind) *kind = VolumeKind::kFat32;
      return true;
    }
    if (PassesFat16Test(d)) {
      if (kind) *kind = VolumeKind::kFat12_16;
      return true;
    }
    return false;
  }
  if (PassesFat16Test(d)) {
    if (kind) *kind = VolumeKind::kFat12_16;
    return true;
  }
  if (PassesFat32Test(d)) {
    if (kind) *kind = VolumeKind::kFat32;
    return true;
  }
  return false;
}

bool IsExtSuperblock(const uint8_t* data, size_t length) {
  if (length < 1024 + 88) return false;
  const uint8_t* sb = data + 1024;
  if (Le16(sb + 56) != 0xEF53) return false;
  const uint32_t inodes = Le32(sb + 0), blocks = Le32(sb + 4);
  const uint32_t blocksPerGroup = Le32(sb + 32), inodesPerGroup = Le32(sb + 40);
  if (inodes == 0 || blocks == 0 || blocksPerGroup == 0 || inodesPerGroup == 0) return false;
  const uint32_t firstInode = Le32(sb + 84);
  if (firstInode <= 2 || firstInode >= inodes) return false;
  const uint32_t firstDataBlock = Le32(sb + 20);
  if (firstDataBlock > blocks - 1) return false;
  if ((blocks - firstDataBlock - 1) / blocksPerGroup != (inodes - 1) / inodesPerGroup)
    return false;
  const uint32_t logBlockSize = Le32(sb + 24);
  const bool oneKiB = logBlockSize == 0;
  return firstDataBlock == (oneKiB ? 1u : 0u);
}

VolumeKind ClassifyVolume(const uint8_t* data, size_t length) {
  if (data == nullptr) return VolumeKind::kUnknown;
  if (IsNtfsBootSector(data, length)) return VolumeKind::kNtfs;
  VolumeKind fat = VolumeKind::kUnknown;
  if (IsFatBootSector(data, length, &fat)) return fat;
  if (IsExtSuperblock(data, length)) return VolumeKind::kExt;
  return VolumeKind::kUnknown;
}

const char* VolumeKindName(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::kNtfs: return "NTFS";
    case VolumeKind::kFat12_16: return "FAT12/16";
    case VolumeKind::kFat32: return "FAT32";
    case VolumeKind::kExt: return "EXT";
    default: return "unknown";
  }
}

}  // namespace qm
