// What a source names: an image file, a whole disk or a partition.
#pragma once

#include <cstdint>
#include <string>

namespace qm {
class DiskTable;
}

namespace qm::session {

struct ScanSource {
  enum class Kind { kImage, kDisk };
  Kind kind = Kind::kImage;
  std::string text;      // as the user gave it
  std::string path;      // image path, or the disk's device path
  int driveIndex = -1;   // disk table entry (kDisk)
  uint64_t startSector = 0;  // volume start in the disk's logical sectors
  uint64_t sectorCount = 0;  // 0 = to the end of the disk
  uint32_t sectorSize = 512;
  bool isBlockDevice = false;
  std::string devicePath;  // the partition's own device, when there is one
  // The source is a whole disk or an image of one, so it may hold a
  // partition table (a partition or IMAGE@N does not).
  bool wholeDisk = false;
};

// Accepts an image path, a block device (/dev/sdb, /dev/sdb1: a partition
// becomes its disk's entry in `disks` plus start and count from sysfs),
// disk:N of `disks`, or IMAGE@N (partition N of a partition table inside an
// image). Returns 0 or an error code; `message` explains a failure and,
// where permission was missing, how to get it.
int ParseSource(const std::string& text, DiskTable& disks, ScanSource& source,
                std::string& message);

// "cannot open PATH: REASON", with how to get access when it was refused
// (for a disk: sudo or the disk group; for a file: its permissions).
std::string CannotOpenText(const std::string& path, int error);

}  // namespace qm::session
