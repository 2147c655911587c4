// Decides which kernel block events are disk arrivals or removals.
//
// "add" and "remove" of a disk or partition are what they say. Loop devices
// and card readers exist before and after their medium, so for them the
// kernel sends "change": a disk whose size turns non-zero has arrived, one
// whose size drops to zero has gone. Devices that never enter the disk
// table (ram, zram, device-mapper, ...) are ignored.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "disk/watch/device_change_debouncer.h"

namespace qm {

class BlockEventFilter {
 public:
  // Learns which disks hold a medium now (sysRoot/sys/block/*/size > 0).
  void Prime(const std::filesystem::path& sysRoot);

  // action: "add", "remove", "change", ...; devType: "disk" or "partition";
  // sectors: the device's size now (0 when unknown or gone).
  std::optional<DeviceChange> Classify(const std::string& action, const std::string& devType,
                                       const std::string& sysName, uint64_t sectors);

  static bool IsDiskDeviceName(const std::string& sysName);

 private:
  std::set<std::string> withMedium_;
};

}  // namespace qm
