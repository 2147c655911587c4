// The disk table: what "physical drive N" means on this system.
//
// Entry N is the N-th whole-disk block device of /sys/block (sd*, nvme*,
// mmcblk*, vd*, xvd*, hd*, and loop devices that have a backing file; never
// ram or zram), sorted by name. QUILLMARK_DISKS (paths joined with ':')
// replaces the table, so image files or loop devices can stand in for drives.
// Images holding a partition table can be appended at run time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file_handle.h"

namespace qm {

// Geometry as Windows reports it for LBA disks.
struct DiskGeometry {
  uint64_t cylinders = 0;
  uint32_t tracksPerCylinder = 255;
  uint32_t sectorsPerTrack = 63;
  uint32_t bytesPerSector = 512;
};

struct DiskInfo {
  uint32_t sectorSize = 512;
  uint64_t lengthBytes = 0;
  DiskGeometry geometry;
};

// Queries sector size and length of an open device (BLKSSZGET, BLKGETSIZE64)
// or regular file (512 and its size) and derives the geometry. 0 or error.
int QueryDiskInfo(const FileHandle& handle, DiskInfo& info);

// Lists whole disks under sysRoot/sys/block, as device paths (/dev/NAME),
// sorted by name.
std::vector<std::string> ListSysfsDisks(const std::filesystem::path& sysRoot = "/");

class DiskTable {
 public:
  // A table built on first use from the environment (QUILLMARK_DISKS) or
  // sysfs, for a front end that keeps one for the whole process. Code below
  // the front ends is always handed its table.
  static DiskTable& System();

  explicit DiskTable(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  // QUILLMARK_DISKS as the environment gave it, else the disks in sysfs.
  static DiskTable FromEnvironment(const Environment& env);

  // Device or image path of drive `index`; empty when there is none.
  std::string PathOf(int index) const;
  // Index of a path (compared after resolving symlinks), -1 when absent.
  int IndexOf(const std::string& path) const;
  size_t Size() const;
  std::vector<std::string> Paths() const;
  // Appends a path (an image holding a partition table) and returns its
  // index; a path already present keeps its index.
  int Add(const std::string& path);
  // Whether entry `index` was appended with Add (an image being scanned)
  // rather than being one of the disks the table was built from.
  bool IsAdded(int index) const;
  // Rebuilds the table from the environment or sysfs (after a device change).
  void Reload();
  // Brings the table up to date after a device change without moving any
  // disk to another index (an engine open on disk N keeps reading the same
  // disk): a device that went away leaves an empty entry (PathOf gives ""),
  // new devices are appended, and images added with Add stay. Nothing
  // changes when QUILLMARK_DISKS fixes the table. True when anything changed.
  bool Rescan(const std::filesystem::path& sysRoot = "/");

 private:
  static std::vector<std::string> FromEnvironmentOrSysfs();
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
  std::set<int> added_;  // indices appended with Add
};

}  // namespace qm
