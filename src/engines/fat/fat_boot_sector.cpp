#include "engines/fat/fat_boot_sector.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/errors.h"

namespace qm {

namespace {

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Cluster counts that decide the FAT width.
constexpr uint32_t kFat12MaxClusters = 4084;
constexpr uint32_t kFat32MaxClusters = 0x0FFFFFF5;

}  // namespace

int ParseFatBootSector(const uint8_t* boot, size_t length, FatGeometry& g,
                       bool* rootClusterDamaged) {
  if (rootClusterDamaged) *rootClusterDamaged = false;
  if (boot == nullptr || length < 512) return err::kInvalidData;
  g = FatGeometry{};
  g.bytesPerSector = Le16(boot + 11);
  g.sectorsPerCluster = boot[13];
  g.reservedSectors = Le16(boot + 14);
  g.numberOfFats = boot[16];
  g.rootEntries = Le16(boot + 17);
  const uint32_t total16 = Le16(boot + 19);
  const uint32_t fat16Size = Le16(boot + 22);
  const uint32_t total32 = Le32(boot + 32);

  if (g.bytesPerSector < 512 || !IsPowerOfTwo(g.bytesPerSector)) return err::kInvalidData;
  // Larger sectors are valid FAT (up to 32 KiB) but no driver writes them and
  // this reader does not take them: say so rather than call the volume damaged.
  if (g.bytesPerSector > 4096) return err::kNotSupported;
  if (g.sectorsPerCluster > 128 || !IsPowerOfTwo(g.sectorsPerCluster)) return err::kInvalidData;
  if (g.reservedSectors == 0 || g.numberOfFats == 0) return err::kInvalidData;
  g.clusterBytes = g.sectorsPerCluster * g.bytesPerSector;
  g.totalSectors = total32 != 0 ? total32 : total16;
  if (g.totalSectors == 0) return err::kInvalidData;

  const bool fat32 = fat16Size == 0;
  g.fatSectors = fat32 ? Le32(boot + 36) : fat16Size;
  if (g.fatSectors == 0) return err::kInvalidData;
  if (fat32) {
    g.rootEntries = 0;
    g.rootCluster = Le32(boot + 44) & 0x0FFFFFFF;
  } else {
    if (g.rootEntries == 0) return err::kInvalidData;
    // The FAT12/16 root directory sits between the FATs and cluster 2 and is
    // exactly as long as its entry count says.
    g.rootDirSectors = (g.rootEntries * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
  }
  const uint64_t fatArea = uint64_t{g.numberOfFats} * g.fatSectors;
  const uint64_t rootStart = uint64_t{g.reservedSectors} + fatArea;
  const uint64_t dataStart = rootStart + g.rootDirSectors;
  if (dataStart >= g.totalSectors || dataStart > 0xFFFFFFFFu) return err::kInvalidData;
  g.rootDirStart = static_cast<uint32_t>(rootStart);
  g.dataStart = static_cast<uint32_t>(dataStart);

  uint64_t clusters = (g.totalSectors - dataStart) / g.sectorsPerCluster;
  if (clusters == 0) return err::kInvalidData;
  if (fat32) {
    g.type = FatType::kFat32;
  } else {
    g.type = clusters <= kFat12MaxClusters ? FatType::kFat12 : FatType::kFat16;
  }
  // A FAT cannot describe more clusters than it has entries for (2 entries
  // are reserved); clusters beyond that are not part of the volume.
  const uint64_t entryBits = g.type == FatType::kFat12 ? 12 : g.type == FatType::kFat16 ? 16 : 32;
  const uint64_t fatEntries = g.FatBytes() * 8 / entryBits;
  if (fatEntries <= 2) return err::kInvalidData;
  clusters = std::min<uint64_t>(clusters, fatEntries - 2);
  if (g.type == FatType::kFat32) clusters = std::min<uint64_t>(clusters, kFat32MaxClusters);
  if (g.type == FatType::kFat16) clusters = std::min<uint64_t>(clusters, 0xFFF5);
  g.clusterCount = static_cast<uint32_t>(clusters);
  if (fat32 && !g.IsDataCluster(g.rootCluster)) {
    if (rootClusterDamaged == nullptr) return err::kInvalidData;
    *rootClusterDamaged = true;
  }
  return err::kSuccess;
}

}  // namespace qm
