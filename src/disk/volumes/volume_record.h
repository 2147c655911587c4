// One place on a disk: a volume, a stretch of unallocated space between
// volumes, a disk that holds no volume at all, or a disk that cannot be read
// (shown so that it does not pass for an empty one). Copied by value to the
// front ends.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct VolumeRecord {
  enum class Kind { kVolume, kGap, kEmptyDisk, kUnreadableDisk };

  // The placeholder every record starts with; the enumerator replaces it by
  // the record's 1-based position in the full list (Linux has no letters).
  static constexpr uint16_t kNoLetter = 42;

  uint16_t letter = kNoLetter;
  // Partition type byte; 7 / 11 / 6 when the file system is NTFS / FAT32 /
  // FAT; 0 for gaps and empty disks.
  uint8_t typeCode = 0;
  int32_t diskNumber = -1;
  int32_t partitionNumber = -1;
  // File-system capacity when mounted, else the partition length. Used and
  // free space are known only where a mounted file system reports them, and
  // for gaps and empty disks (all free); elsewhere both are 0 and
  // usageKnown is false.
  uint64_t totalBytes = 0;
  uint64_t usedBytes = 0;
  uint64_t freeBytes = 0;
  bool usageKnown = false;
  uint64_t startSector = 0;  // in sectors of the disk
  uint64_t sectorCount = 0;
  std::string fileSystemName;  // "NTFS", "FAT32", "FAT", "exFAT", "ext4", ...
  std::string label;
  std::string uuid;
  // The block device of the volume (/dev/sdb1); for a partition the kernel
  // does not list (inside an image), the disk path followed by "@N".
  std::string devicePath;
  std::string mountPoint;  // empty when not mounted
  Kind kind = Kind::kVolume;
};

}  // namespace qm
