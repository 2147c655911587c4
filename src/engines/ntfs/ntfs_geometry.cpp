#include "engines/ntfs/ntfs_geometry.h"

#include "engines/volume_classifier.h"

namespace qm::ntfs {

namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Clusters of NTFS volumes stop at 2 MiB.
constexpr uint32_t kMaxNtfsClusterBytes = 2u << 20;

// Boot byte 0x0D: 1..128 as it stands; from 0xF4 up it is a negative shift
// count (volumes with clusters above 64 KiB).
int32_t DecodeSectorsPerCluster(uint8_t raw) {
  if (raw <= 0x80) return IsPowerOfTwo(raw) ? raw : 0;
  const int shift = 256 - raw;
  return shift <= 20 ? (1 << shift) : 0;
}

// Boot byte 0x40: clusters per record when positive, else 2^-value bytes.
uint64_t DecodeRecordSize(int8_t raw, uint32_t clusterBytes) {
  if (raw > 0) return uint64_t{static_cast<uint8_t>(raw)} * clusterBytes;
  const int shift = -raw;
  return shift < 32 ? (uint64_t{1} << shift) : 0;
}

}  // namespace

bool ParseNtfsGeometry(Bytes boot, uint64_t volumeStartSector, NtfsGeometry& out) {
  if (boot.size() < 512) return false;
  NtfsGeometry g;
  uint32_t bytesPerSector = Le16(boot.data() + 0x0B);
  if (bytesPerSector == 0) bytesPerSector = 512;
  if (!IsPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) return false;
  g.bytesPerSector = static_cast<int32_t>(bytesPerSector);

  g.sectorsPerCluster = DecodeSectorsPerCluster(boot[0x0D]);
  if (g.sectorsPerCluster == 0) return false;
  if (uint64_t{bytesPerSector} * static_cast<uint32_t>(g.sectorsPerCluster) > kMaxNtfsClusterBytes)
    return false;

  const uint64_t declared = DecodeRecordSize(static_cast<int8_t>(boot[0x40]), g.ClusterBytes());
  uint64_t recordSize = bytesPerSector <= 1024 ? 1024 : bytesPerSector;
  if ((declared == 1024 || declared == 4096) && declared >= bytesPerSector) recordSize = declared;
  g.recordSize = static_cast<int32_t>(recordSize);
  g.sectorsPerRecord = static_cast<int32_t>(recordSize / bytesPerSector);
  g.fixupCount = static_cast<int32_t>(recordSize / kFixupStride);

  g.totalSectors = Le64(boot.data() + 0x28);
  g.mftCluster = Le64(boot.data() + 0x30);
  // A $MFT cluster whose sector number would overflow cannot be on any disk.
  if (g.mftCluster > (UINT64_MAX - volumeStartSector) / static_cast<uint32_t>(g.sectorsPerCluster))
    return false;
  g.volumeStartSector = volumeStartSector;
  g.mftStartSector = volumeStartSector + g.mftCluster * static_cast<uint32_t>(g.sectorsPerCluster);
  out = g;
  return true;
}

bool IsNtfsBootSector(Bytes sector) { return qm::IsNtfsBootSector(sector.data(), sector.size()); }

}  // namespace qm::ntfs
