// Volume classification and the FAT and NTFS boot sectors: the first bytes
// of a volume decide which engine reads it and with which geometry, so every
// field the decoders accept must leave a geometry the readers can trust.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engines/fat/fat_boot_sector.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/volume_classifier.h"

namespace {

// Crashes on purpose (a finding) when a decoded geometry breaks what its
// readers rely on.
void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckFatGeometry(const qm::FatGeometry& g) {
  Require(g.bytesPerSector >= 512 && g.bytesPerSector <= 4096);
  Require(g.sectorsPerCluster != 0);
  Require(g.clusterBytes == g.bytesPerSector * g.sectorsPerCluster);
  Require(g.numberOfFats != 0 && g.fatSectors != 0);
  Require(g.dataStart <= g.totalSectors);
  Require(uint64_t{g.clusterCount} * g.sectorsPerCluster <= g.totalSectors);
  if (g.clusterCount != 0) (void)g.ClusterOffset(g.LastCluster());
}

void CheckNtfsGeometry(const qm::ntfs::NtfsGeometry& g) {
  Require(g.bytesPerSector >= 512 && g.bytesPerSector <= 4096);
  Require(g.sectorsPerCluster > 0 && g.ClusterBytes() <= 2u * 1024 * 1024);
  // 1024 or 4096 bytes, or one sector where the field says neither.
  Require(g.recordSize == 1024 || g.recordSize == 4096 || g.recordSize == g.bytesPerSector);
  Require(g.recordSize >= g.bytesPerSector && g.sectorsPerRecord > 0);
  Require(g.fixupCount == g.recordSize / 512);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const qm::VolumeKind kind = qm::ClassifyVolume(data, size);
  Require(qm::VolumeKindName(kind) != nullptr);
  qm::IsBitLockerVolume(data, size);
  qm::IsExtSuperblock(data, size);
  qm::VolumeKind fatKind = qm::VolumeKind::kUnknown;
  const bool fat = qm::IsFatBootSector(data, size, &fatKind);
  const bool ntfs = qm::IsNtfsBootSector(data, size);
  Require(ntfs == qm::ntfs::IsNtfsBootSector({data, size}));

  if (size >= 512) {
    qm::FatGeometry fatGeometry;
    bool rootDamaged = false;
    if (qm::ParseFatBootSector(data, size, fatGeometry, &rootDamaged) == 0) {
      CheckFatGeometry(fatGeometry);
      if (!rootDamaged && fatGeometry.IsFat32()) {
        Require(fatGeometry.IsDataCluster(fatGeometry.rootCluster));
      }
    }
    qm::FatGeometry strict;
    if (qm::ParseFatBootSector(data, size, strict) == 0) CheckFatGeometry(strict);

    qm::ntfs::NtfsGeometry ntfsGeometry;
    if (qm::ntfs::ParseNtfsGeometry({data, size}, 2048, ntfsGeometry)) {
      CheckNtfsGeometry(ntfsGeometry);
    }
  }
  (void)fat;
  return 0;
}
