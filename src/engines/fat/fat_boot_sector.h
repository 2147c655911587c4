// The BIOS parameter block of a FAT volume, decoded and range-checked.
//
//   volume:  | reserved | FAT 1 | ... | FAT n | root dir (FAT12/16) | cluster 2 | 3 | ...
//
// Every field that later becomes a divisor, a count, an offset or a length
// is checked here, once, so that the readers can trust the geometry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

enum class FatType { kFat12, kFat16, kFat32 };

struct FatGeometry {
  FatType type = FatType::kFat16;
  uint32_t bytesPerSector = 512;  // the volume's own sector unit
  uint32_t sectorsPerCluster = 1;
  uint32_t clusterBytes = 512;
  uint32_t reservedSectors = 0;
  uint32_t numberOfFats = 0;
  uint32_t fatSectors = 0;        // sectors of one FAT
  uint32_t rootEntries = 0;       // FAT12/16
  uint32_t rootDirSectors = 0;    // FAT12/16: rootEntries * 32 rounded up to sectors
  uint64_t totalSectors = 0;      // u32 at 32, or u16 at 19 when that is 0
  uint32_t rootDirStart = 0;      // FAT12/16 root region, in sectors from the volume start
  uint32_t dataStart = 0;         // sector of cluster 2, from the volume start
  uint32_t rootCluster = 0;       // FAT32: u32 at 44; FAT12/16: 0
  uint32_t clusterCount = 0;      // data clusters, numbered 2 .. clusterCount + 1

  bool IsFat32() const { return type == FatType::kFat32; }
  uint32_t LastCluster() const { return clusterCount + 1; }
  bool IsDataCluster(uint64_t c) const { return c >= 2 && c <= LastCluster(); }
  // Byte offset of a data cluster from the volume start.
  uint64_t ClusterOffset(uint32_t c) const {
    return (uint64_t{dataStart} + uint64_t{c - 2} * sectorsPerCluster) * bytesPerSector;
  }
  uint64_t FatOffset() const { return uint64_t{reservedSectors} * bytesPerSector; }
  uint64_t FatBytes() const { return uint64_t{fatSectors} * bytesPerSector; }
  uint64_t RootDirOffset() const { return uint64_t{rootDirStart} * bytesPerSector; }
  uint32_t RootDirBytes() const { return rootDirSectors * bytesPerSector; }
};

// Decodes the boot sector (at least 512 bytes). The type is FAT32 when the
// 16-bit FAT size is 0 (a FAT12/16 BPB always has one), else FAT12 below
// 4085 clusters and FAT16 from there, as the FAT format defines it.
// Returns 0, or 13 when a field is out of range. A FAT32 root cluster
// outside the volume leaves the rest of the volume usable (its clusters can
// still be searched): given `rootClusterDamaged`, it is reported there
// instead of refusing the boot sector.
int ParseFatBootSector(const uint8_t* boot, size_t length, FatGeometry& geometry,
                       bool* rootClusterDamaged = nullptr);

}  // namespace qm
