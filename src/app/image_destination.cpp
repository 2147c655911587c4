#include "app/image_destination.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include "disk/volumes/mount_table.h"
#include "session/same_disk.h"

namespace fs = std::filesystem;

namespace qm {

namespace {

constexpr uint64_t kFat32Limit = 4294967296ull;  // a FAT32 file stays below 4 GiB
constexpr uint64_t kFatLimit = 2147483648ull;    // FAT12/16: below 2 GiB
// Fewer clusters than this make a FAT volume FAT12 or FAT16.
constexpr uint64_t kFat32MinClusters = 65525;

fs::path ExistingFolder(const fs::path& imagePath) {
  std::error_code ec;
  fs::path folder = fs::absolute(imagePath, ec).parent_path();
  while (!folder.empty() && !fs::exists(folder, ec) && folder != folder.root_path()) folder = folder.parent_path();
  return folder;
}

// The type of the mount that holds `folder`: the longest mount point that
// is a prefix of it.
std::string MountTypeOf(const fs::path& folder) {
  MountTable mounts;
  if (mounts.Load("/proc/self/mountinfo") != 0) return {};
  const std::string path = folder.lexically_normal().string();
  std::string type;
  size_t longest = 0;
  for (const MountEntry& entry : mounts.entries()) {
    const std::string& point = entry.mountPoint;
    const bool holds = path == point || point == "/" ||
                       (path.size() > point.size() && path.compare(0, point.size(), point) == 0 && path[point.size()] == '/');
    if (holds && point.size() >= longest) {
      longest = point.size();
      type = entry.fsType;
    }
  }
  return type;
}

}  // namespace

DestinationFacts InspectDestination(const fs::path& imagePath, const std::string& sourceDevice, bool wholeDisk) {
  DestinationFacts facts;
  const fs::path folder = ExistingFolder(imagePath);
  struct stat folderStat {}, sourceStat {};
  if (::stat(folder.c_str(), &folderStat) == 0) {
    if (wholeDisk) {
      facts.onSource = !session::SharedDisk(sourceDevice, folder).empty();
    } else if (::stat(sourceDevice.c_str(), &sourceStat) == 0 && S_ISBLK(sourceStat.st_mode)) {
      facts.onSource = folderStat.st_dev == sourceStat.st_rdev;
    }
  }
  struct statvfs space {};
  if (::statvfs(folder.c_str(), &space) == 0) {
    facts.freeBytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    if (MountTypeOf(folder) == "vfat") {
      // For FAT the kernel counts blocks in clusters, which tell FAT32
      // from its smaller kin.
      facts.fileSystem = static_cast<uint64_t>(space.f_blocks) >= kFat32MinClusters ? "FAT32" : "FAT";
    }
  }
  return facts;
}

QString RefuseImageDestination(uint64_t sourceBytes, const DestinationFacts& facts) {
  if (facts.onSource) return "MSG0218";
  const QString type = QString::fromStdString(facts.fileSystem).toUpper();
  if (type.contains("FAT32") && sourceBytes > kFat32Limit) return "MSG0220";
  if (type.contains("FAT") && !type.contains("FAT32") && sourceBytes > kFatLimit) return "MSG0219";
  if (facts.freeBytes && *facts.freeBytes <= sourceBytes) return "MSG0221";
  return {};
}

QString ProposedImageName(const std::string& devicePath) {
  const size_t at = devicePath.rfind('@');
  if (at == std::string::npos) {
    const fs::path path(devicePath);
    if (devicePath.starts_with("/dev/")) return QString::fromStdString(path.filename().string());
    // A copy of an image file: never the name of the file itself.
    return QString::fromStdString(path.stem().string() + "-copy");
  }
  const std::string image = fs::path(devicePath.substr(0, at)).stem().string();
  return QString::fromStdString(image + "-partition" + devicePath.substr(at + 1));
}

}  // namespace qm
