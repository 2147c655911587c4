// What the enumerator learnt about one disk of the disk table.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct DiskRecord {
  int diskNumber = -1;
  std::string path;   // as the disk table holds it
  std::string model;  // vendor and model from sysfs, or the backing file of a loop device
  uint32_t sectorSize = 512;
  uint64_t sectors = 0;  // 0 when the disk (or its medium) could not be measured
  bool removable = false;
  bool isImage = false;  // a regular file standing in for a disk
  // Why the disk's own partition table was not used, when it was refused.
  std::string tableProblem;
  // The error of opening the disk (0 when it could be read): a disk we may
  // not read still shows what sysfs knows about it.
  int openError = 0;
};

}  // namespace qm
