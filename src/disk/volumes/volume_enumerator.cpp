#include "disk/volumes/volume_enumerator.h"

#include <sys/statvfs.h>

#include <algorithm>

#include "disk/partitions/partition_table.h"
#include "disk/sector_source.h"
#include "disk/volumes/file_system_probe.h"
#include "disk/volumes/mount_table.h"
#include "disk/volumes/removable_disk.h"
#include "disk/volumes/sysfs_disk.h"
#include "platform/errors.h"

namespace qm {

namespace fs = std::filesystem;

VolumeEnumerator::VolumeEnumerator(DiskTable& table, fs::path root)
    : table_(table), root_(std::move(root)) {}

fs::path VolumeEnumerator::UnderRoot(const std::string& absolutePath) const {
  const fs::path p(absolutePath);
  if (root_.empty() || root_ == "/" || !p.is_absolute()) return p;
  return root_ / p.relative_path();
}

namespace {

// The sysfs name of a disk path: /dev/sdb, or a link to it such as
// /dev/disk/by-id/usb-..., gives "sdb". Image files have none.
std::string SysfsNameOf(const fs::path& hostPath, const std::string& tablePath) {
  if (tablePath.rfind("/dev/", 0) != 0) return {};
  std::error_code ec;
  const fs::path resolved = fs::canonical(hostPath, ec);
  return (ec ? fs::path(tablePath) : resolved).filename().string();
}

VolumeRecord NewVolume(int disk, int partition, uint64_t start, uint64_t count) {
  VolumeRecord r;
  r.diskNumber = disk;
  r.partitionNumber = partition;
  r.startSector = start;
  r.sectorCount = count;
  return r;
}

VolumeRecord NewFreeSpace(VolumeRecord::Kind kind, int disk, uint64_t start, uint64_t count,
                          uint32_t sectorSize) {
  VolumeRecord r = NewVolume(disk, -1, start, count);
  r.kind = kind;
  r.totalBytes = count * sectorSize;
  if (kind != VolumeRecord::Kind::kUnreadableDisk) {
    r.freeBytes = r.totalBytes;
    r.usageKnown = true;
  }
  return r;
}

// Applies what the file system says: name, label, UUID, and the type code
// 7/11/6 that NTFS/FAT32/FAT stand for.
void ApplyFileSystem(const SectorSource& source, uint32_t sectorSize, VolumeRecord& r) {
  if (!source.IsOpen()) return;
  FileSystemInfo info;
  if (!ProbeFileSystem(source.handle().fd(), r.startSector * sectorSize,
                       r.sectorCount * sectorSize, info))
    return;
  r.fileSystemName = info.name;
  r.label = info.label;
  r.uuid = info.uuid;
  if (uint8_t code = TypeCodeForFileSystem(info.name); code != 0) r.typeCode = code;
}

// The entries that cannot be used and what the reader worked around, in one
// line for the disk's row; empty for a sound table.
std::string TableProblems(const PartitionTable& table) {
  std::string text;
  for (const auto& e : table.entries)
    if (!e.usable())
      text += (text.empty() ? "" : "; ") + ("partition " + std::to_string(e.number) + ": " + e.problem);
  if (!table.note.empty()) text += (text.empty() ? "" : "; ") + table.note;
  return text;
}

const PartitionEntry* EntryStartingAt(const PartitionTable& table, uint64_t start) {
  for (const auto& e : table.entries)
    if (e.usable() && e.startSector == start) return &e;
  return nullptr;
}

}  // namespace

void VolumeEnumerator::FillCapacity(VolumeRecord& r, uint32_t sectorSize) const {
  r.totalBytes = r.sectorCount * sectorSize;
  r.freeBytes = r.usedBytes = 0;
  r.usageKnown = false;
  // Only a mounted file system knows its free space; an unmounted one would
  // need its allocation map read, which listing disks must not do.
  struct statvfs st {};
  if (!r.mountPoint.empty() && ::statvfs(UnderRoot(r.mountPoint).c_str(), &st) == 0) {
    r.totalBytes = uint64_t{st.f_blocks} * st.f_frsize;
    r.freeBytes = uint64_t{st.f_bfree} * st.f_frsize;
    r.usedBytes = r.totalBytes >= r.freeBytes ? r.totalBytes - r.freeBytes : 0;
    r.usageKnown = true;
  }
}

void VolumeEnumerator::AddDisk(int number, const std::string& path, const MountTable& mounts) {
  DiskRecord disk;
  disk.diskNumber = number;
  disk.path = path;
  // Device paths live under the root; image files are wherever they are.
  const fs::path hostPath = path.rfind("/dev/", 0) == 0 ? UnderRoot(path) : fs::path(path);
  const std::string sysName = SysfsNameOf(hostPath, path);
  SysfsDisk sys;
  const bool inSysfs = !sysName.empty() && ReadSysfsDisk(root_, sysName, sys);

  // One open per disk: the table, the file systems and the image length all
  // come through this source. A disk we may not read still shows what sysfs
  // knows about it.
  DiskTable single({hostPath.string()});
  SectorSource source;
  disk.openError = source.OpenPhysicalDriveSource(single, 0);
  const bool open = disk.openError == 0;
  if (inSysfs) {
    disk.sectorSize = sys.sectorSize;
    disk.sectors = sys.sectors;
    disk.model = sys.model;
    disk.removable = IsRemovableDisk(root_, sysName);
  } else if (open) {
    disk.sectorSize = source.info().sectorSize;
    disk.sectors = source.totalSectors();
    disk.isImage = !source.handle().IsBlockDevice();
  }

  PartitionTable table;
  bool haveTable = false;
  if (open && disk.sectors > 0) {
    std::string why;
    const int rc = ReadPartitionTable(source, table, why);
    if (rc != 0) {
      disk.tableProblem = why.empty() ? ErrorText(rc) : why;
    } else {
      disk.tableProblem = TableProblems(table);
      // A table none of whose entries can be used is no better than none:
      // the disk is offered whole.
      haveTable = std::any_of(table.entries.begin(), table.entries.end(),
                              [](const PartitionEntry& e) { return e.usable(); });
    }
  }

  std::vector<VolumeRecord> records;
  const uint32_t ss = disk.sectorSize;
  if (inSysfs && !sys.partitions.empty()) {
    for (const auto& p : sys.partitions) {
      VolumeRecord r = NewVolume(number, p.number, p.startSector, p.sectorCount);
      r.devicePath = "/dev/" + p.name;
      if (const PartitionEntry* e = haveTable ? EntryStartingAt(table, p.startSector) : nullptr)
        r.typeCode = e->typeByte;
      ApplyFileSystem(source, ss, r);
      r.mountPoint = mounts.MountPointOf(p.devNumber, r.devicePath);
      records.push_back(r);
    }
  } else if (haveTable) {
    for (const auto& e : table.entries) {
      if (!e.usable()) continue;
      VolumeRecord r = NewVolume(number, e.number, e.startSector, e.sectorCount);
      r.devicePath = path + "@" + std::to_string(e.number);
      r.typeCode = e.typeByte;
      ApplyFileSystem(source, ss, r);
      records.push_back(r);
    }
  } else if (open && disk.sectors > 0) {
    // A file system on the whole disk (a stick formatted without a table).
    VolumeRecord r = NewVolume(number, 0, 0, disk.sectors);
    r.devicePath = inSysfs ? "/dev/" + sysName : path;
    ApplyFileSystem(source, ss, r);
    if (!r.fileSystemName.empty()) {
      r.mountPoint = mounts.MountPointOf(inSysfs ? sys.devNumber : "", r.devicePath);
      records.push_back(r);
    }
  }

  // Partitions whose type neither the table nor the file system gives are
  // left out; their space shows up as unallocated. A file system on the
  // whole disk has no table to give a type, so being recognised is enough.
  std::erase_if(records, [](const VolumeRecord& r) {
    return r.typeCode == 0 && r.partitionNumber != 0;
  });
  for (auto& r : records) FillCapacity(r, ss);
  if (!records.empty()) volumes_[number] = std::move(records);
  disks_[number] = std::move(disk);
}

void VolumeEnumerator::AddGaps(const DiskRecord& disk, std::vector<VolumeRecord>& records) const {
  std::stable_sort(records.begin(), records.end(), [](const VolumeRecord& a, const VolumeRecord& b) {
    return a.startSector < b.startSector;
  });
  // Signed, so that a volume starting before sector 63 gives no gap.
  const auto spc = static_cast<int64_t>(kSectorsPerCylinder);
  int64_t previousEnd = kFirstPartitionSector;
  std::vector<VolumeRecord> gaps;
  for (const auto& r : records) {
    const auto start = static_cast<int64_t>(r.startSector);
    if (start - previousEnd > spc)
      gaps.push_back(NewFreeSpace(VolumeRecord::Kind::kGap, disk.diskNumber, previousEnd,
                                  start - previousEnd, disk.sectorSize));
    // A volume nested in the one before must not pull the end back, or the
    // next gap would lie over a volume.
    previousEnd = std::max(previousEnd, start + static_cast<int64_t>(r.sectorCount));
  }
  // The last stretch runs to the true end of the disk: a whole number of
  // cylinders would leave the disk's tail out of every record.
  const auto end = static_cast<int64_t>(disk.sectors);
  if (disk.sectors > 0 && end - previousEnd > spc)
    gaps.push_back(NewFreeSpace(VolumeRecord::Kind::kGap, disk.diskNumber, previousEnd, end - previousEnd,
                                disk.sectorSize));
  records.insert(records.end(), gaps.begin(), gaps.end());
  std::stable_sort(records.begin(), records.end(), [](const VolumeRecord& a, const VolumeRecord& b) {
    return a.startSector < b.startSector;
  });
}

int VolumeEnumerator::EnumerateVolumes() {
  volumes_.clear();
  disks_.clear();
  MountTable mounts;
  if (mounts.Load(UnderRoot("/proc/self/mountinfo")) != 0) return 0;

  const std::vector<std::string> paths = table_.Paths();
  for (size_t i = 0; i < paths.size(); ++i) {
    if (paths[i].empty()) continue;
    AddDisk(static_cast<int>(i), paths[i], mounts);
  }
  for (auto& [number, records] : volumes_) AddGaps(disks_[number], records);
  for (const auto& [number, disk] : disks_) {
    if (number > kMaxProbedDisk) break;
    if (volumes_.count(number) || disk.sectors == 0) continue;
    // A disk we could not open may hold anything: it must not pass for empty.
    const auto kind = disk.openError != 0 ? VolumeRecord::Kind::kUnreadableDisk
                                          : VolumeRecord::Kind::kEmptyDisk;
    volumes_[number].push_back(NewFreeSpace(kind, number, 0, disk.sectors, disk.sectorSize));
    volumes_[number].back().devicePath = disk.path;
  }
  uint16_t position = 1;
  for (auto& [number, records] : volumes_) {
    for (auto& r : records) {
      if (r.letter == VolumeRecord::kNoLetter) r.letter = position;
      ++position;
    }
  }
  return 1;
}

int VolumeEnumerator::GetAllVolumes(std::vector<VolumeRecord>& list) const {
  list.clear();
  for (const auto& [number, records] : volumes_) list.insert(list.end(), records.begin(), records.end());
  return 1;
}

int VolumeEnumerator::NextVolume(VolumeCursor& cursor, VolumeRecord& record) const {
  for (auto it = volumes_.lower_bound(cursor.diskNumber); it != volumes_.end(); ++it) {
    if (it->first != cursor.diskNumber) {
      cursor.diskNumber = it->first;
      cursor.index = 0;
    }
    if (cursor.index < it->second.size()) {
      record = it->second[cursor.index++];
      return 1;
    }
  }
  if (!volumes_.empty()) cursor.diskNumber = volumes_.rbegin()->first + 1;
  cursor.index = 0;
  return 0;
}

int VolumeEnumerator::FindRemovedVolumes(const std::vector<VolumeRecord>& previous,
                                         std::vector<VolumeRecord>& removed) {
  if (EnumerateVolumes() == 0) return 0;
  int anyRemoved = 0;
  for (const auto& old : previous) {
    bool present = false;
    if (auto it = volumes_.find(old.diskNumber); it != volumes_.end()) {
      present = std::any_of(it->second.begin(), it->second.end(), [&](const VolumeRecord& r) {
        return r.startSector == old.startSector;
      });
    }
    if (!present) {
      removed.push_back(old);
      anyRemoved = 1;
    }
  }
  return anyRemoved;
}

}  // namespace qm
