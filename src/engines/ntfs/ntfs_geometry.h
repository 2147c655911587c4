// NtfsGeometry: the sizes an NTFS volume is read with, from its boot sector.
//
//   0x03  8  OEM name "NTFS    "
//   0x0B  2  bytes per sector (0 is taken as 512)
//   0x0D  1  sectors per cluster; 0xF4..0xFF mean 2^(256 - value) sectors
//   0x28  8  total sectors
//   0x30  8  cluster number of the $MFT
//   0x40  1  clusters per file record; negative n means 2^-n bytes
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/ntfs/ntfs_layout.h"

namespace qm::ntfs {

// Bytes of the volume start read at open.
inline constexpr size_t kBootReadBytes = 4096;

struct NtfsGeometry {
  int32_t bytesPerSector = 512;
  int32_t sectorsPerCluster = 0;
  int32_t sectorsPerRecord = 2;
  int32_t recordSize = 1024;
  // 512-byte blocks in a record, each ending in a word that ApplyFixups restores.
  int32_t fixupCount = 2;
  uint64_t volumeStartSector = 0;
  uint64_t mftStartSector = 0;
  uint64_t mftCluster = 0;
  uint64_t totalSectors = 0;

  uint32_t ClusterBytes() const {
    return static_cast<uint32_t>(bytesPerSector) * static_cast<uint32_t>(sectorsPerCluster);
  }
};

// Derives the geometry from a boot sector (at least 512 bytes) of a volume
// that starts at `volumeStartSector`. Every field that later becomes a
// divisor, a size or a sector number is range-checked: bytes per sector a
// power of two from 512 to 4096, a cluster of at most 2 MiB, a record of
// 1024 or 4096 bytes no smaller than a sector (1024 or one sector when the
// boot sector's own record-size field is not one of those). Returns false for
// a boot sector that cannot be read with.
bool ParseNtfsGeometry(Bytes boot, uint64_t volumeStartSector, NtfsGeometry& out);

// The boot-sector test that the engine factory applies.
bool IsNtfsBootSector(Bytes sector);

}  // namespace qm::ntfs
