#include "cli/same_disk.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace qm::cli {

namespace fs = std::filesystem;

namespace {
// /sys/dev/block/MAJ:MIN links to the device's sysfs folder; a partition's
// folder sits inside its disk's.
std::string DiskOfDevNumber(dev_t dev) {
  std::error_code ec;
  const fs::path link = "/sys/dev/block/" + std::to_string(major(dev)) + ":" +
                        std::to_string(minor(dev));
  fs::path dir = fs::canonical(link, ec);
  if (ec) return {};
  if (fs::exists(dir / "partition")) dir = dir.parent_path();
  return dir.filename().string();
}
}  // namespace

std::string DiskHoldingPath(const fs::path& path) {
  std::error_code ec;
  fs::path probe = fs::absolute(path, ec);
  while (!probe.empty() && !fs::exists(probe, ec)) {
    if (probe == probe.parent_path()) break;
    probe = probe.parent_path();
  }
  struct stat st {};
  if (::stat(probe.c_str(), &st) != 0) return {};
  return DiskOfDevNumber(st.st_dev);
}

std::string DiskOfDevice(const std::string& devicePath) {
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  return DiskOfDevNumber(st.st_rdev);
}

}  // namespace qm::cli
