// The volume's allocation bitmap ($Bitmap, MFT record 6): bit b of byte b/8
// (least significant first) is set when cluster b is allocated. The combined
// deep scan asks it for the runs of free clusters, so that it reads
// unallocated space only.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/ntfs/ntfs_volume.h"

namespace qm::ntfs {

class NtfsClusterBitmap {
 public:
  // Loads the bitmap through the $DATA runs of record 6. Only the bits of
  // the clusters the source holds are read and kept, whatever the record
  // or the boot sector claims. 0, or the code of the record lookup (a run
  // that cannot be read leaves its clusters marked free).
  int Build(const NtfsVolume& volume);
  bool IsBuilt() const { return built_; }
  uint64_t bitmapBytes() const { return bytes_.size(); }
  // The bytes the record says the bitmap has, and whether that is more than
  // the clusters the boot sector declares need (a damaged or forged record).
  uint64_t claimedBytes() const { return claimedBytes_; }
  bool oversized() const { return oversized_; }

  // Moves `position` (sectors from the volume start) to the next free
  // cluster and gives the length of the free run in sectors, cut at
  // `volumeSectors`. A position past the volume becomes volumeSectors with
  // length 0; when no free cluster follows, position stays and length is 0.
  void NextFreeExtent(uint64_t volumeSectors, uint32_t sectorsPerCluster, uint64_t& position,
                      uint64_t& length) const;

 private:
  bool IsAllocated(uint64_t cluster) const { return (bytes_[cluster / 8] >> (cluster % 8)) & 1; }

  bool built_ = false;
  bool oversized_ = false;
  uint64_t claimedBytes_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace qm::ntfs
