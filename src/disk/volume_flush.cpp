#include "disk/volume_flush.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/file_handle.h"
#include "platform/sysfs_text.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

// Mount points whose device number ("major:minor") matches, with the octal
// escapes of mountinfo (\040 for a space) decoded.
std::string MountPointOf(const std::string& majorMinor, const fs::path& mountInfo) {
  std::ifstream in(mountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint;
    fields >> id >> parent >> device >> root >> mountPoint;
    if (device != majorMinor) continue;
    std::string decoded;
    for (size_t i = 0; i < mountPoint.size(); ++i) {
      if (mountPoint[i] == '\\' && i + 3 < mountPoint.size()) {
        decoded += static_cast<char>(std::stoi(mountPoint.substr(i + 1, 3), nullptr, 8));
        i += 3;
      } else {
        decoded += mountPoint[i];
      }
    }
    return decoded;
  }
  return {};
}

}  // namespace

bool FlushVolumeAt(const std::string& diskPath, uint64_t startSector, uint32_t sectorSize,
                   const fs::path& sysRoot, const fs::path& mountInfo) {
  std::error_code ec;
  const std::string diskName = fs::weakly_canonical(diskPath, ec).filename().string();
  if (ec || diskName.empty()) return false;
  const fs::path diskDir = sysRoot / "sys" / "class" / "block" / diskName;
  if (!fs::exists(diskDir, ec)) return false;

  // sysfs gives partition starts in 512-byte units whatever the sector size.
  const uint64_t start512 = startSector * (sectorSize / 512 ? sectorSize / 512 : 1);
  std::string deviceName;
  if (startSector == 0) {
    deviceName = diskName;
  } else {
    for (const auto& entry : fs::directory_iterator(diskDir, ec)) {
      if (!fs::exists(entry.path() / "partition")) continue;
      if (ReadFirstLine(entry.path() / "start") == std::to_string(start512)) {
        deviceName = entry.path().filename().string();
        break;
      }
    }
  }
  if (deviceName.empty()) return false;

  bool flushed = false;
  const fs::path deviceDir =
      deviceName == diskName ? diskDir : diskDir / deviceName;
  const std::string majorMinor = ReadFirstLine(deviceDir / "dev");
  if (!majorMinor.empty()) {
    const std::string mountPoint = MountPointOf(majorMinor, mountInfo);
    if (!mountPoint.empty()) {
      int fd = ::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) {
        flushed = ::syncfs(fd) == 0;
        ::close(fd);
      }
    }
  }
  FileHandle device;
  if (device.OpenReadOnly("/dev/" + deviceName) == 0) flushed = (::fsync(device.fd()) == 0) || flushed;
  return flushed;
}

}  // namespace qm
