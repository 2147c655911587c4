// The mounts of this process, from /proc/self/mountinfo:
//
//   36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw
//   (1)(2)(3)   (4)   (5)         (6)       (7...)   (-) (8)  (9)      (10)
//
// (3) is the device number of the mounted file system and (9) its source;
// FUSE file systems such as ntfs-3g carry a device number of their own, so
// a volume is matched by either.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qm {

struct MountEntry {
  std::string devNumber;   // "major:minor"
  std::string root;        // the mounted subtree of the file system
  std::string mountPoint;  // absolute, escapes (\040 ...) decoded
  std::string fsType;
  std::string source;
};

class MountTable {
 public:
  // Reads `mountinfo`. Returns 0 or the error of opening it.
  int Load(const std::filesystem::path& mountinfo);
  // Parses mountinfo text (lines that do not parse are skipped).
  void Parse(const std::string& text);

  // The mount point of the device with this number or path; a mount of the
  // whole file system is preferred over a bind mount of part of it. Empty
  // when the device is not mounted.
  std::string MountPointOf(const std::string& devNumber, const std::string& devicePath) const;

  const std::vector<MountEntry>& entries() const { return entries_; }

 private:
  std::vector<MountEntry> entries_;
};

}  // namespace qm
