// The list of places that can be scanned: every volume on a disk of the disk
// table, every stretch of a disk that no volume covers and that is larger
// than one cylinder, and every disk without any volume (one record for the
// whole disk). Records are grouped by disk number and sorted by start sector.
//
// Sources on Linux: sysfs for disks and the kernel's partitions (start,
// size, number); our own MBR/GPT reader for the type byte and for disks the
// kernel has not split (image files, kernels without partition support);
// libblkid for file-system name, label and UUID; mountinfo and statvfs for
// mount point and free space.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "disk/volumes/disk_record.h"
#include "disk/volumes/volume_record.h"
#include "platform/disk_table.h"

namespace qm {

struct VolumeCursor {
  int diskNumber = 0;
  size_t index = 0;
};

class VolumeEnumerator {
 public:
  // Disks above this number never get an empty-disk record.
  static constexpr int kMaxProbedDisk = 127;
  // 255 tracks of 63 sectors: the cylinder of an LBA disk.
  static constexpr uint64_t kSectorsPerCylinder = 255 * 63;
  // Gaps are measured from here, the classic start of the first partition.
  static constexpr uint64_t kFirstPartitionSector = 63;

  // `root` stands for "/" when reading sysfs, /dev, /proc/self/mountinfo,
  // /run/udev and mount points, so that tests can run on a fake tree.
  explicit VolumeEnumerator(DiskTable& table, std::filesystem::path root = "/");

  // Rebuilds the lists. 1 on success; 0 when the mount table cannot be read
  // (the lists are then empty).
  int EnumerateVolumes();
  // Empties `list` and appends every record, disk by disk. Returns 1.
  int GetAllVolumes(std::vector<VolumeRecord>& list) const;
  // Copies the record at `cursor` and advances it; 0 after the last record.
  int NextVolume(VolumeCursor& cursor, VolumeRecord& record) const;
  // Enumerates again and appends to `removed` every record of `previous`
  // that no longer has a record with the same disk number and start sector.
  // Returns 1 when at least one record was appended, else 0 (also when the
  // new enumeration failed: a failed look is no proof that anything left).
  int FindRemovedVolumes(const std::vector<VolumeRecord>& previous,
                         std::vector<VolumeRecord>& removed);

  const std::map<int, std::vector<VolumeRecord>>& volumes() const { return volumes_; }
  // Every disk of the table that was looked at, with or without records.
  const std::map<int, DiskRecord>& disks() const { return disks_; }

 private:
  void AddDisk(int number, const std::string& path, const class MountTable& mounts);
  void AddGaps(const DiskRecord& disk, std::vector<VolumeRecord>& records) const;
  void FillCapacity(VolumeRecord& record, uint32_t sectorSize) const;
  std::filesystem::path UnderRoot(const std::string& absolutePath) const;

  DiskTable& table_;
  std::filesystem::path root_;
  std::map<int, std::vector<VolumeRecord>> volumes_;
  std::map<int, DiskRecord> disks_;
};

}  // namespace qm
