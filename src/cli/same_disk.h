// Writing recovered files onto the disk being recovered could overwrite the
// very data being recovered; this tells whether a folder lies on that disk.
#pragma once

#include <filesystem>
#include <string>

namespace qm::cli {

// The whole-disk block device name (e.g. "sdb") that holds `path` (or its
// nearest existing parent), or "" when it cannot be told (tmpfs, FUSE...).
std::string DiskHoldingPath(const std::filesystem::path& path);
// The whole-disk name of a block device path (/dev/sdb1 -> "sdb").
std::string DiskOfDevice(const std::string& devicePath);

}  // namespace qm::cli
