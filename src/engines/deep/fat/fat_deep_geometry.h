// One candidate layout of a FAT volume whose boot sector may be gone: how
// many sectors a cluster has and where cluster 2 begins. A deep scan learns
// it from two sub-directories whose first clusters it has seen: their "."
// entries name the clusters, their places on disk give two equations.
#pragma once

#include <cstdint>

namespace qm {

struct FatDeepGeometry {
  uint32_t sectorsPerCluster = 1;
  uint32_t dataStart = 0;    // sectors from the volume start to cluster 2
  uint64_t volumeStart = 0;  // absolute sector of the volume start

  uint64_t DataArea() const { return volumeStart + dataStart; }
  // Absolute first sector of cluster `c`. Cluster 0 stands for a FAT12/16
  // root of 512 entries, 32 sectors before the data area; false when that
  // would lie before the disk.
  bool ClusterSector(uint32_t c, uint64_t& sector) const;
  // The cluster (or 0 for the FAT12/16 root) whose first sector is `sector`.
  bool ClusterStartingAt(uint64_t sector, uint32_t& cluster) const;
  // The cluster whose extent holds `sector`, and that cluster's first sector.
  bool ClusterHolding(uint64_t sector, uint32_t& cluster, uint64_t& first) const;
  bool operator==(const FatDeepGeometry&) const = default;
};

// From sightings (c1, s1) and (c2, s2) of clusters at sectors: the layout
// they imply, when the cluster size is a power of two up to 128 sectors and
// the data area starts at or after `volumeStart`.
bool SolveFatGeometry(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2, uint64_t volumeStart,
                      FatDeepGeometry& out);

}  // namespace qm
