#include "engines/ntfs/ntfs_cluster_bitmap.h"

#include <algorithm>

#include "platform/errors.h"

namespace qm::ntfs {

int NtfsClusterBitmap::Build(const NtfsVolume& volume) {
  const NtfsGeometry& g = volume.geometry();
  const auto sector = volume.RecordNumberToSector(kBitmapRecord);
  if (!sector) return kAttributeNotFound;
  std::vector<uint8_t> record;
  if (int rc = volume.ReadFileRecord(*sector, record); rc != 0) return rc;
  DataStream stream;
  if (volume.LocateData(record, stream) != 0) return kAttributeNotFound;
  claimedBytes_ = stream.dataSize;
  if (stream.resident) {
    bytes_ = stream.residentBytes;
  } else {
    const uint64_t mapped = RunListClusters(stream.runs) > UINT64_MAX / g.ClusterBytes()
                                ? UINT64_MAX
                                : RunListClusters(stream.runs) * g.ClusterBytes();
    claimedBytes_ = std::min(stream.dataSize, mapped);
    // Only the clusters the source holds are ever looked up: the bits of
    // the rest are neither read nor kept, whatever the record claims.
    const uint64_t bytes = std::min(claimedBytes_, (volume.PresentClusters() + 7) / 8);
    // A run that cannot be read leaves zeros: those clusters count as free,
    // so the deep scan looks at them rather than skipping them.
    if (volume.ReadRunBytes(stream.runs, bytes, bytes_) != 0) bytes_.assign(static_cast<size_t>(bytes), 0);
  }
  // $Bitmap's data is the declared clusters' bits, rounded up to 8 bytes.
  const uint64_t declaredBytes = (volume.DeclaredClusters() + 63) / 64 * 8;
  oversized_ = claimedBytes_ > declaredBytes;
  built_ = true;
  return 0;
}

void NtfsClusterBitmap::NextFreeExtent(uint64_t volumeSectors, uint32_t sectorsPerCluster,
                                       uint64_t& position, uint64_t& length) const {
  length = 0;
  if (position > volumeSectors) {
    position = volumeSectors;
    return;
  }
  if (sectorsPerCluster == 0) return;
  const uint64_t clusters = uint64_t{bytes_.size()} * 8;
  uint64_t c = position / sectorsPerCluster;
  uint64_t skipped = 0;
  while (c < clusters) {
    if (c % 8 == 0 && bytes_[c / 8] == 0xFF) {
      c += 8;
      skipped += 8;
    } else if (IsAllocated(c)) {
      ++c;
      ++skipped;
    } else {
      break;
    }
  }
  if (c >= clusters) return;
  uint64_t free = 0;
  while (c + free < clusters) {
    const uint64_t at = c + free;
    if (at % 8 == 0 && at + 8 <= clusters && bytes_[at / 8] == 0) {
      free += 8;
    } else if (!IsAllocated(at)) {
      ++free;
    } else {
      break;
    }
  }
  position += skipped * sectorsPerCluster;
  length = free * sectorsPerCluster;
  if (position >= volumeSectors) {
    length = 0;
  } else if (length > volumeSectors - position) {
    length = volumeSectors - position;
  }
}

}  // namespace qm::ntfs
