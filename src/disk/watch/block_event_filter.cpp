#include "disk/watch/block_event_filter.h"

#include <fstream>

namespace qm {

namespace fs = std::filesystem;

bool BlockEventFilter::IsDiskDeviceName(const std::string& name) {
  for (const char* prefix : {"sd", "nvme", "mmcblk", "vd", "xvd", "hd", "loop"})
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

void BlockEventFilter::Prime(const fs::path& sysRoot) {
  withMedium_.clear();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysRoot / "sys" / "block", ec)) {
    const std::string name = entry.path().filename().string();
    if (!IsDiskDeviceName(name)) continue;
    std::ifstream in(entry.path() / "size");
    uint64_t sectors = 0;
    in >> sectors;
    if (sectors > 0) withMedium_.insert(name);
  }
}

std::optional<DeviceChange> BlockEventFilter::Classify(const std::string& action,
                                                       const std::string& devType,
                                                       const std::string& sysName,
                                                       uint64_t sectors) {
  if (!IsDiskDeviceName(sysName)) return std::nullopt;
  const bool disk = devType == "disk";
  if (action == "add") {
    if (disk && sectors > 0) withMedium_.insert(sysName);
    return DeviceChange::kArrival;
  }
  if (action == "remove") {
    if (disk) withMedium_.erase(sysName);
    return DeviceChange::kRemoval;
  }
  if (action == "change" && disk) {
    const bool known = withMedium_.count(sysName) != 0;
    if (sectors > 0 && !known) {
      withMedium_.insert(sysName);
      return DeviceChange::kArrival;
    }
    if (sectors == 0 && known) {
      withMedium_.erase(sysName);
      return DeviceChange::kRemoval;
    }
  }
  return std::nullopt;
}

}  // namespace qm
