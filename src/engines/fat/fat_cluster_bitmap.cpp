#include "engines/fat/fat_cluster_bitmap.h"

#include <algorithm>

namespace qm {

void FatClusterBitmap::Build(const FatVolume& volume) {
  const FatGeometry& g = volume.geometry();
  // Only the clusters the source holds get a bit and have their entries
  // looked at: a boot sector that claims more (a volume cut short, or a
  // forged one) costs nothing past them.
  const uint64_t presentSectors = volume.partitionBytes() / g.bytesPerSector;
  const uint64_t presentClusters =
      presentSectors > g.dataStart ? (presentSectors - g.dataStart + g.sectorsPerCluster - 1) / g.sectorsPerCluster : 0;
  clusters_ = static_cast<uint32_t>(std::min<uint64_t>(g.clusterCount, presentClusters));
  bits_.assign((uint64_t{clusters_} + 7) / 8, 0);
  auto mark = [&](uint32_t c) {
    const uint32_t bit = c - 2;
    if (bit < clusters_) bits_[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  };
  for (uint64_t c = 2; c <= uint64_t{clusters_} + 1; ++c) {
    uint32_t entry = 0;
    if (volume.Entry(static_cast<uint32_t>(c), entry) != 0 || entry == 0) continue;
    mark(static_cast<uint32_t>(c));
    if (!volume.IsEndMarker(entry) && g.IsDataCluster(entry)) mark(entry);
  }
  built_ = true;
}

bool FatClusterBitmap::IsAllocated(uint32_t cluster) const {
  if (cluster < 2 || cluster - 2 >= clusters_) return true;
  const uint32_t bit = cluster - 2;
  return (bits_[bit / 8] >> (bit % 8)) & 1;
}

void FatClusterBitmap::NextFreeExtent(const FatVolume& volume, uint64_t& start,
                                      uint64_t& length) const {
  length = 0;
  const uint64_t partitionSectors = volume.partitionSectors();
  if (start >= partitionSectors) {
    start = partitionSectors;
    return;
  }
  const FatGeometry& g = volume.geometry();
  const uint64_t perVolumeSector = g.bytesPerSector / volume.deviceSectorSize();
  const uint64_t dataStart = uint64_t{g.dataStart} * perVolumeSector;
  const uint64_t clusterSectors = uint64_t{g.sectorsPerCluster} * perVolumeSector;
  const uint64_t relative = start > dataStart ? start - dataStart : 0;
  uint64_t k = relative / clusterSectors;

  // Whole bytes of allocated clusters are skipped at once.
  while (k < clusters_) {
    if (k % 8 == 0 && bits_[k / 8] == 0xFF) {
      k += 8;
      continue;
    }
    if (!((bits_[k / 8] >> (k % 8)) & 1)) break;
    ++k;
  }
  if (k >= clusters_) return;
  uint64_t end = k;
  while (end < clusters_ && !((bits_[end / 8] >> (end % 8)) & 1)) ++end;

  const uint64_t runStart = dataStart + k * clusterSectors;
  const uint64_t newStart = std::max(start, runStart);
  const uint64_t runEnd = std::min(dataStart + end * clusterSectors, partitionSectors);
  if (newStart >= runEnd) return;
  start = newStart;
  length = runEnd - newStart;
}

}  // namespace qm
