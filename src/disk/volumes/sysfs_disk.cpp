#include "disk/volumes/sysfs_disk.h"

#include <algorithm>
#include <charconv>

#include "platform/sysfs_text.h"

namespace qm {

namespace fs = std::filesystem;

namespace {
uint64_t Number(const fs::path& path) {
  const std::string text = ReadFirstLine(path);
  uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string Model(const fs::path& entry, const std::string& name) {
  if (name.rfind("loop", 0) == 0) return ReadFirstLine(entry / "loop" / "backing_file");
  const fs::path device = entry / "device";
  std::string vendor = ReadFirstLine(device / "vendor");
  // virtio devices give their PCI vendor number here, which names nobody.
  if (vendor.rfind("0x", 0) == 0) vendor.clear();
  std::string model = ReadFirstLine(device / "model");
  if (model.empty()) model = ReadFirstLine(device / "name");  // MMC/SD cards
  if (vendor.empty()) return model;
  return model.empty() ? vendor : vendor + " " + model;
}
}  // namespace

bool ReadSysfsDisk(const fs::path& sysRoot, const std::string& name, SysfsDisk& disk) {
  disk = SysfsDisk{};
  if (name.empty() || name.find('/') != std::string::npos) return false;
  const fs::path entry = sysRoot / "sys" / "block" / name;
  std::error_code ec;
  if (!fs::is_directory(entry, ec)) return false;
  disk.name = name;
  const uint64_t logical = Number(entry / "queue" / "logical_block_size");
  if (logical >= 512 && logical <= 65536 && (logical & (logical - 1)) == 0)
    disk.sectorSize = static_cast<uint32_t>(logical);
  const uint64_t ratio = disk.sectorSize / 512;
  disk.sectors = Number(entry / "size") / ratio;
  disk.devNumber = ReadFirstLine(entry / "dev");
  disk.model = Model(entry, name);
  for (const auto& sub : fs::directory_iterator(entry, ec)) {
    std::error_code subEc;
    if (!fs::exists(sub.path() / "partition", subEc)) continue;
    SysfsPartition part;
    part.name = sub.path().filename().string();
    part.number = static_cast<int>(Number(sub.path() / "partition"));
    part.startSector = Number(sub.path() / "start") / ratio;
    part.sectorCount = Number(sub.path() / "size") / ratio;
    part.devNumber = ReadFirstLine(sub.path() / "dev");
    disk.partitions.push_back(part);
  }
  std::sort(disk.partitions.begin(), disk.partitions.end(),
            [](const SysfsPartition& a, const SysfsPartition& b) { return a.startSector < b.startSector; });
  return true;
}

}  // namespace qm
