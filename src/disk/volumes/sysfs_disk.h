// A whole disk as sysfs describes it: /sys/block/NAME with its size (always
// in 512-byte units), logical sector size, device number, model and the
// partitions the kernel found (NAME/NAMEpN/{partition,start,size,dev}).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm {

struct SysfsPartition {
  std::string name;       // sda1, nvme0n1p2, loop0p1
  int number = 0;
  uint64_t startSector = 0;  // in sectors of the disk
  uint64_t sectorCount = 0;
  std::string devNumber;  // "major:minor"
};

struct SysfsDisk {
  std::string name;
  uint32_t sectorSize = 512;
  uint64_t sectors = 0;
  std::string devNumber;
  std::string model;
  std::vector<SysfsPartition> partitions;  // ascending start
};

// Reads sysRoot/sys/block/`name`. Returns false when sysfs has no such disk.
bool ReadSysfsDisk(const std::filesystem::path& sysRoot, const std::string& name, SysfsDisk& disk);

}  // namespace qm
