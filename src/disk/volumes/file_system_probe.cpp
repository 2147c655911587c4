#include "disk/volumes/file_system_probe.h"

#include <blkid/blkid.h>

#include "platform/text.h"

namespace qm {

namespace {
std::string Value(blkid_probe probe, const char* key) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, key, &data, &length) != 0 || data == nullptr) return {};
  std::string text(data, length);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// The names volume listings have always used for these file systems.
std::string DisplayName(const std::string& type, const std::string& version) {
  if (type == "ntfs") return "NTFS";
  if (type == "vfat" || type == "msdos") return version == "FAT32" ? "FAT32" : "FAT";
  if (type == "exfat") return "exFAT";
  return type;
}

struct ProbeGuard {
  blkid_probe probe;
  ~ProbeGuard() {
    if (probe) blkid_free_probe(probe);
  }
};
}  // namespace

bool ProbeFileSystem(int fd, uint64_t offset, uint64_t length, FileSystemInfo& info) {
  info = FileSystemInfo{};
  if (fd < 0 || length == 0) return false;
  ProbeGuard guard{blkid_new_probe()};
  if (!guard.probe) return false;
  if (blkid_probe_set_device(guard.probe, fd, static_cast<blkid_loff_t>(offset),
                             static_cast<blkid_loff_t>(length)) != 0)
    return false;
  blkid_probe_enable_superblocks(guard.probe, 1);
  blkid_probe_set_superblocks_flags(guard.probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL |
                                                     BLKID_SUBLKS_UUID | BLKID_SUBLKS_VERSION);
  // Ambiguous results (-2: traces of two file systems) count as unknown.
  if (blkid_do_safeprobe(guard.probe) != 0) return false;
  const std::string type = Value(guard.probe, "TYPE");
  if (type.empty()) return false;
  info.name = DisplayName(type, Value(guard.probe, "VERSION"));
  info.label = Value(guard.probe, "LABEL");
  info.uuid = Value(guard.probe, "UUID");
  return true;
}

uint8_t TypeCodeForFileSystem(const std::string& name) {
  const std::string lower = AsciiLower(name);
  if (lower == "ntfs") return 7;
  if (lower == "fat32") return 11;
  if (lower == "fat") return 6;
  return 0;
}

}  // namespace qm
