#include "platform/disk_table.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/sysfs_text.h"

namespace qm {

namespace fs = std::filesystem;

int QueryDiskInfo(const FileHandle& handle, DiskInfo& info) {
  info = DiskInfo{};
  if (!handle.IsOpen()) return err::kInvalidHandle;
  if (handle.IsBlockDevice()) {
    int sectorSize = 0;
    if (::ioctl(handle.fd(), BLKSSZGET, &sectorSize) != 0) return LastError();
    if (sectorSize > 0) info.sectorSize = static_cast<uint32_t>(sectorSize);
  }
  if (int rc = handle.Size(info.lengthBytes); rc != 0) return rc;
  info.geometry.bytesPerSector = info.sectorSize;
  const uint64_t sectors = info.lengthBytes / info.sectorSize;
  info.geometry.cylinders = sectors / (uint64_t{255} * 63);
  return err::kSuccess;
}

namespace {
bool IsWholeDiskName(const std::string& name) {
  auto starts = [&](const char* p) { return name.rfind(p, 0) == 0; };
  return starts("sd") || starts("nvme") || starts("mmcblk") || starts("vd") || starts("xvd") ||
         starts("hd") || starts("loop");
}

}  // namespace

std::vector<std::string> ListSysfsDisks(const fs::path& sysRoot) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysRoot / "sys" / "block", ec)) {
    std::string name = entry.path().filename().string();
    if (!IsWholeDiskName(name)) continue;
    // A loop device without a backing file holds nothing to scan.
    if (name.rfind("loop", 0) == 0 && ReadFirstLine(entry.path() / "loop" / "backing_file").empty())
      continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> paths;
  for (const auto& n : names) paths.push_back("/dev/" + n);
  return paths;
}

std::vector<std::string> DiskTable::FromEnvironmentOrSysfs() {
  Environment env = Environment::Read();
  return env.disksFixed ? std::move(env.disks) : ListSysfsDisks("/");
}

DiskTable DiskTable::FromEnvironment(const Environment& env) {
  return DiskTable(env.disksFixed ? env.disks : ListSysfsDisks("/"));
}

DiskTable& DiskTable::System() {
  static DiskTable table(FromEnvironmentOrSysfs());
  return table;
}

std::string DiskTable::PathOf(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= paths_.size()) return {};
  return paths_[static_cast<size_t>(index)];
}

int DiskTable::IndexOf(const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::error_code ec;
  const fs::path wanted = fs::weakly_canonical(path, ec);
  for (size_t i = 0; i < paths_.size(); ++i) {
    std::error_code ec2;
    if (paths_[i] == path || fs::weakly_canonical(paths_[i], ec2) == wanted)
      return static_cast<int>(i);
  }
  return -1;
}

size_t DiskTable::Size() const {
  std::lock_guard lock(mutex_);
  return paths_.size();
}

std::vector<std::string> DiskTable::Paths() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

int DiskTable::Add(const std::string& path) {
  if (int existing = IndexOf(path); existing >= 0) return existing;
  std::lock_guard lock(mutex_);
  paths_.push_back(path);
  const int index = static_cast<int>(paths_.size() - 1);
  added_.insert(index);
  return index;
}

bool DiskTable::IsAdded(int index) const {
  std::lock_guard lock(mutex_);
  return added_.count(index) != 0;
}

void DiskTable::Reload() {
  auto fresh = FromEnvironmentOrSysfs();
  std::lock_guard lock(mutex_);
  paths_ = std::move(fresh);
  added_.clear();
}

bool DiskTable::Rescan(const fs::path& sysRoot) {
  if (Environment::Read().disksFixed) return false;
  const std::vector<std::string> present = ListSysfsDisks(sysRoot);
  auto contains = [](const std::vector<std::string>& list, const std::string& path) {
    return std::find(list.begin(), list.end(), path) != list.end();
  };
  std::lock_guard lock(mutex_);
  bool changed = false;
  for (auto& path : paths_) {
    if (path.rfind("/dev/", 0) == 0 && !contains(present, path)) {
      path.clear();
      changed = true;
    }
  }
  for (const auto& path : present) {
    if (!contains(paths_, path)) {
      paths_.push_back(path);
      changed = true;
    }
  }
  return changed;
}

}  // namespace qm
