// The map of allocated clusters of a FAT volume, and the runs of free
// clusters it leaves: the deep scan visits only those.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/fat/fat_volume.h"

namespace qm {

class FatClusterBitmap {
 public:
  // Bit (c - 2) is set for every cluster c whose FAT entry is in use, and
  // for every cluster an entry points to. Unreadable entries leave clusters
  // free. Only clusters that begin inside the source have a bit; the rest
  // count as allocated.
  void Build(const FatVolume& volume);
  bool IsBuilt() const { return built_; }
  uint64_t bitmapBytes() const { return bits_.size(); }
  bool IsAllocated(uint32_t cluster) const;

  // Sector numbers are device sectors from the partition start. Moves *start
  // to the first free cluster at or after it (the data area when it lies
  // before it) and gives the length of the free run there, cut at the
  // partition end. Past the partition: start = partitionSectors, length 0.
  // No free cluster further on: start unchanged, length 0.
  void NextFreeExtent(const FatVolume& volume, uint64_t& start, uint64_t& length) const;

 private:
  bool built_ = false;
  uint32_t clusters_ = 0;
  std::vector<uint8_t> bits_;
};

}  // namespace qm
