#include "session/same_disk.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qm::session {

namespace fs = std::filesystem;

namespace {

// Stacks of device mappers are shallow; the limit only stops a looping
// (damaged or fake) sysfs tree.
constexpr int kMaxDepth = 16;

void Collect(const fs::path& device, int depth, std::set<std::string>& disks) {
  std::error_code ec;
  fs::path dir = fs::canonical(device, ec);
  if (ec || depth > kMaxDepth) return;
  // A partition's folder sits inside its disk's.
  if (fs::exists(dir / "partition", ec)) dir = dir.parent_path();
  bool hasSlaves = false;
  for (const auto& slave : fs::directory_iterator(dir / "slaves", ec)) {
    hasSlaves = true;
    Collect(slave.path(), depth + 1, disks);
  }
  if (!hasSlaves) disks.insert(dir.filename().string());
}

std::set<std::string> DisksOfDevNumber(dev_t dev) {
  return WholeDisksUnder("/sys/dev/block/" + std::to_string(major(dev)) + ":" +
                         std::to_string(minor(dev)));
}

}  // namespace

std::set<std::string> WholeDisksUnder(const fs::path& sysDeviceFolder) {
  std::set<std::string> disks;
  Collect(sysDeviceFolder, 0, disks);
  return disks;
}

std::set<std::string> DisksHoldingPath(const fs::path& path) {
  std::error_code ec;
  fs::path probe = fs::absolute(path, ec);
  while (!probe.empty() && !fs::exists(probe, ec)) {
    if (probe == probe.parent_path()) break;
    probe = probe.parent_path();
  }
  struct stat st {};
  if (::stat(probe.c_str(), &st) != 0) return {};
  return DisksOfDevNumber(st.st_dev);
}

std::set<std::string> DisksOfDevice(const std::string& devicePath) {
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  return DisksOfDevNumber(st.st_rdev);
}

std::string SharedDisk(const std::string& sourceDevice, const fs::path& folder) {
  const std::set<std::string> source = DisksOfDevice(sourceDevice);
  if (source.empty()) return {};
  for (const std::string& disk : DisksHoldingPath(folder))
    if (source.count(disk)) return disk;
  return {};
}

}  // namespace qm::session
