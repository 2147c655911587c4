#include "disk/volumes/removable_disk.h"

#include <fstream>

#include "platform/sysfs_text.h"

namespace qm {

namespace fs = std::filesystem;

namespace {
// /sys/block/sdb links to the device's place in the device tree, e.g.
// ../devices/pci0000:00/0000:00:14.0/usb2/2-1/.../block/sdb or
// ../devices/platform/.../mmc_host/mmc0/mmc0:aaaa/block/mmcblk0.
bool OnUsbOrMmcBus(const fs::path& blockEntry) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(blockEntry, ec);
  if (ec) return false;
  for (const auto& part : target) {
    const std::string name = part.string();
    if (name.rfind("usb", 0) == 0 || name == "mmc_host") return true;
  }
  return false;
}

// udev's record of the device: /run/udev/data/b<major>:<minor>, one
// "E:KEY=VALUE" line per property.
bool UdevSaysUsbOrMmc(const fs::path& sysRoot, const std::string& devNumber) {
  if (devNumber.empty()) return false;
  std::ifstream in(sysRoot / "run" / "udev" / "data" / ("b" + devNumber));
  for (std::string line; std::getline(in, line);) {
    if (line == "E:ID_BUS=usb" || line == "E:ID_BUS=mmc" || line == "E:ID_DRIVE_FLASH_SD=1")
      return true;
  }
  return false;
}
}  // namespace

bool IsRemovableDisk(const fs::path& sysRoot, const std::string& sysName) {
  if (sysName.empty() || sysName.find('/') != std::string::npos) return false;
  const fs::path entry = sysRoot / "sys" / "block" / sysName;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(entry, ec))) return false;
  if (ReadFirstLine(entry / "removable") == "1") return true;
  if (sysName.rfind("mmcblk", 0) == 0) return true;
  if (OnUsbOrMmcBus(entry)) return true;
  return UdevSaysUsbOrMmc(sysRoot, ReadFirstLine(entry / "dev"));
}

}  // namespace qm
