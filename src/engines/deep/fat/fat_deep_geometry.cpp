#include "engines/deep/fat/fat_deep_geometry.h"

#include <utility>

namespace qm {

namespace {
constexpr uint32_t kRootSectors = 32;
}  // namespace

bool FatDeepGeometry::ClusterSector(uint32_t c, uint64_t& sector) const {
  if (c == 0) {
    if (DataArea() < kRootSectors) return false;
    sector = DataArea() - kRootSectors;
    return true;
  }
  if (c < 2) return false;
  sector = DataArea() + uint64_t{c - 2} * sectorsPerCluster;
  return true;
}

bool FatDeepGeometry::ClusterStartingAt(uint64_t sector, uint32_t& cluster) const {
  if (sectorsPerCluster == 0) return false;
  if (DataArea() >= kRootSectors && sector == DataArea() - kRootSectors) {
    cluster = 0;
    return true;
  }
  if (sector < DataArea()) return false;
  const uint64_t offset = sector - DataArea();
  if (offset % sectorsPerCluster != 0) return false;
  const uint64_t n = offset / sectorsPerCluster + 2;
  if (n > UINT32_MAX) return false;
  cluster = static_cast<uint32_t>(n);
  return true;
}

bool FatDeepGeometry::ClusterHolding(uint64_t sector, uint32_t& cluster, uint64_t& first) const {
  if (sectorsPerCluster == 0 || sector < DataArea()) return false;
  const uint64_t n = (sector - DataArea()) / sectorsPerCluster + 2;
  if (n > UINT32_MAX) return false;
  cluster = static_cast<uint32_t>(n);
  first = DataArea() + (n - 2) * sectorsPerCluster;
  return true;
}

bool SolveFatGeometry(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2, uint64_t volumeStart,
                      FatDeepGeometry& out) {
  if (c1 < 2 || c2 < 2 || c1 == c2) return false;
  if (c1 < c2) {
    std::swap(c1, c2);
    std::swap(s1, s2);
  }
  if (s1 <= s2) return false;
  const uint64_t clusters = c1 - c2;
  const uint64_t sectors = s1 - s2;
  if (sectors % clusters != 0) return false;
  const uint64_t spc = sectors / clusters;
  if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return false;
  const uint64_t before = spc * (c2 - 2);
  if (before > s2 || s2 - before < volumeStart) return false;
  const uint64_t start = s2 - before;
  if (start - volumeStart > UINT32_MAX) return false;
  out.sectorsPerCluster = static_cast<uint32_t>(spc);
  out.dataStart = static_cast<uint32_t>(start - volumeStart);
  out.volumeStart = volumeStart;
  return true;
}

}  // namespace qm
