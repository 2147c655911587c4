// Whether a disk counts as removable: the kernel's "removable" flag (media
// that can be taken out of the drive), or a disk that hangs off a USB bus or
// an MMC/SD host, told by its sysfs device path or by udev's ID_BUS.
#pragma once

#include <filesystem>
#include <string>

namespace qm {

// `sysName` is the name under sysRoot/sys/block (sdb, mmcblk0). A disk that
// sysfs does not know counts as not removable.
bool IsRemovableDisk(const std::filesystem::path& sysRoot, const std::string& sysName);

}  // namespace qm
