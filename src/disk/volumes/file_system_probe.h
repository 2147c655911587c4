// File-system name, label and UUID of a stretch of a disk, through libblkid.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

struct FileSystemInfo {
  std::string name;  // "NTFS", "FAT32", "FAT", "exFAT", or libblkid's type ("ext4")
  std::string label;
  std::string uuid;
};

// Probes `length` bytes at `offset` of the open file or device `fd`.
// Returns true when exactly one file system was recognised.
bool ProbeFileSystem(int fd, uint64_t offset, uint64_t length, FileSystemInfo& info);

// The type code that stands for a file-system name: 7 for NTFS, 11 for
// FAT32, 6 for FAT (compared without case); 0 for any other name.
uint8_t TypeCodeForFileSystem(const std::string& name);

}  // namespace qm
