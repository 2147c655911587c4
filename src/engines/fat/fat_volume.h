// Reading one FAT volume: whole sectors of its regions through the sector
// source, FAT entries through a small cache of blocks of the first FAT, and
// the rule by which a chain of clusters goes on (also across clusters that a
// deletion freed). After Open, every read is safe to make from several
// threads at once.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/sector_source.h"
#include "engines/fat/fat_boot_sector.h"
#include "engines/fat/fat_table_cache.h"

namespace qm {

class FatVolume {
 public:
  FatVolume() = default;
  FatVolume(const FatVolume&) = delete;
  FatVolume& operator=(const FatVolume&) = delete;

  // `source` must outlive the volume. The partition is `partitionSectors`
  // device sectors from `partitionStart`; reads never leave it. The boot
  // sector's sector size must be a multiple of the device's.
  int Open(const SectorSource& source, uint64_t partitionStart, uint64_t partitionSectors);

  bool IsOpen() const { return source_ != nullptr; }
  const FatGeometry& geometry() const { return geometry_; }
  // FAT32 only: the boot sector's root cluster is not a cluster of the
  // volume, so the folder tree has no known start.
  bool rootClusterDamaged() const { return rootClusterDamaged_; }
  uint32_t deviceSectorSize() const { return deviceSectorSize_; }
  uint64_t partitionStart() const { return partitionStart_; }
  uint64_t partitionSectors() const { return partitionSectors_; }
  uint64_t partitionBytes() const { return partitionSectors_ * deviceSectorSize_; }
  const uint8_t* bootData() const { return boot_.data(); }
  // The size the boot sector gives the volume, and how much of it lies past
  // the end of the source (0 when the source holds all of it).
  uint64_t declaredBytes() const { return geometry_.totalSectors * geometry_.bytesPerSector; }
  uint64_t missingBytes() const {
    return declaredBytes() > partitionBytes() ? declaredBytes() - partitionBytes() : 0;
  }
  // The FAT blocks read so far, for measuring what a scan or recovery costs.
  const FatTableCache& tableCache() const { return table_; }

  // Reads `length` bytes at byte `offset` from the volume start; both are
  // whole device sectors. 87 for a range outside the partition, 30 or an
  // error code when the read fails; `got` holds the bytes that arrived.
  int ReadBytes(uint64_t offset, uint32_t length, uint8_t* buffer, uint32_t& got) const;
  // Absolute device sector holding the byte at `offset` from the volume start.
  uint64_t AbsoluteSector(uint64_t offset) const {
    return partitionStart_ + offset / deviceSectorSize_;
  }

  // The FAT entry of data cluster c: 12, 16 or 28 significant bits. 0 or an
  // error (87 for a cluster outside the volume).
  int Entry(uint32_t cluster, uint32_t& value) const;
  bool IsEndMarker(uint32_t value) const;

  // Chain rule. An entry that points on gives that cluster. A free entry
  // (its file was deleted) goes on at c + 1 when that cluster is free as
  // well. An end marker, a bad or out-of-range value, or a free cluster
  // followed by a used one ends the chain: false. Unreadable entries count
  // as free.
  bool NextInChain(uint32_t cluster, uint32_t& next) const;

  // First free cluster after `cluster` (the next piece of a deleted file that
  // was laid around live data); false when there is none.
  bool NextFreeAfter(uint32_t cluster, uint32_t& next) const;

 private:
  const SectorSource* source_ = nullptr;
  uint64_t partitionStart_ = 0;
  uint64_t partitionSectors_ = 0;
  uint32_t deviceSectorSize_ = 512;
  FatGeometry geometry_;
  bool rootClusterDamaged_ = false;
  std::vector<uint8_t> boot_;
  FatTableCache table_;
};

}  // namespace qm
