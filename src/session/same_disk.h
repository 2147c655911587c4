// Writing recovered files onto the disk being recovered could overwrite the
// very data being recovered; this tells whether a folder lies on that disk,
// also when a device-mapper device (LVM, an encrypted volume) or a software
// RAID stands between the folder's file system and the disk.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace qm::session {

// The whole disks (e.g. "sdb") under a block device's sysfs folder
// (/sys/dev/block/MAJ:MIN resolved): a partition gives its disk, a device
// with slaves gives the disks under every slave, followed down.
std::set<std::string> WholeDisksUnder(const std::filesystem::path& sysDeviceFolder);

// The whole disks holding `path` (or its nearest existing parent); empty
// when it cannot be told (tmpfs, FUSE...).
std::set<std::string> DisksHoldingPath(const std::filesystem::path& path);
// The whole disks under a block device path (/dev/sdb1 -> {"sdb"}).
std::set<std::string> DisksOfDevice(const std::string& devicePath);
// A disk that both the source device and the folder lie on; "" when none.
std::string SharedDisk(const std::string& sourceDevice, const std::filesystem::path& folder);

}  // namespace qm::session
