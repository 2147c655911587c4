// The enumerator on a fake root: sysfs, /dev, mountinfo and mount points
// built in a temporary folder, so every rule can be set up exactly.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstring>
#include <fstream>

#include "disk/volumes/removable_disk.h"
#include "disk/volumes/volume_enumerator.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr uint64_t kCyl = VolumeEnumerator::kSectorsPerCylinder;

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text << "\n";
}

struct FakePart {
  uint64_t start;
  uint64_t count;
  uint8_t type;  // 0: the kernel lists it, the MBR does not
};

struct FakeDisk {
  std::string name;
  uint64_t sectors;
  std::vector<FakePart> parts;
  bool devFile = true;
};

// sys/block/NAME with its partitions, and dev/NAME as a sparse file holding
// an MBR with the parts' type bytes.
void AddFakeDisk(const fs::path& root, const FakeDisk& d, int minor) {
  const fs::path sys = root / "sys/block" / d.name;
  WriteText(sys / "size", std::to_string(d.sectors));
  WriteText(sys / "queue/logical_block_size", "512");
  WriteText(sys / "dev", "8:" + std::to_string(minor));
  WriteText(sys / "removable", "0");
  std::string mbr(512, '\0');
  for (size_t i = 0; i < d.parts.size(); ++i) {
    const std::string part = d.name + std::to_string(i + 1);
    WriteText(sys / part / "partition", std::to_string(i + 1));
    WriteText(sys / part / "start", std::to_string(d.parts[i].start));
    WriteText(sys / part / "size", std::to_string(d.parts[i].count));
    WriteText(sys / part / "dev", "8:" + std::to_string(minor + 1 + i));
    if (d.parts[i].type != 0 && i < 4) {
      char* e = mbr.data() + 446 + i * 16;
      e[4] = static_cast<char>(d.parts[i].type);
      const auto start = static_cast<uint32_t>(d.parts[i].start);
      const auto count = static_cast<uint32_t>(d.parts[i].count);
      std::memcpy(e + 8, &start, 4);
      std::memcpy(e + 12, &count, 4);
    }
  }
  mbr[510] = 0x55;
  mbr[511] = static_cast<char>(0xAA);
  if (!d.devFile) return;
  const fs::path dev = root / "dev" / d.name;
  fs::create_directories(dev.parent_path());
  {
    std::ofstream out(dev, std::ios::binary);
    if (!d.parts.empty()) out.write(mbr.data(), 512);
  }
  fs::resize_file(dev, d.sectors * 512);
}

class FakeRoot {
 public:
  FakeRoot() { WriteText(dir_ / "proc/self/mountinfo", ""); }
  const fs::path& path() const { return dir_.path(); }
  void Add(const FakeDisk& d) {
    AddFakeDisk(path(), d, minor_);
    minor_ += 16;
  }
  void Mounts(const std::string& text) { WriteText(path() / "proc/self/mountinfo", text); }
  DiskTable Table() const { return DiskTable(ListSysfsDisks(path())); }

 private:
  TempDir dir_;
  int minor_ = 0;
};

std::vector<VolumeRecord> All(VolumeEnumerator& e) {
  EXPECT_EQ(e.EnumerateVolumes(), 1);
  std::vector<VolumeRecord> list;
  e.GetAllVolumes(list);
  return list;
}

TEST(VolumeEnumeratorTest, GapsTagsAndCapacities) {
  FakeRoot root;
  const uint64_t p1 = 2048, n1 = 100000;
  const uint64_t p2 = p1 + n1 + kCyl, n2 = 50000;       // exactly one cylinder free: no gap
  const uint64_t p3 = p2 + n2 + kCyl + 1, n3 = 60000;   // one sector more: a gap
  const uint64_t p4 = p3 + n3, n4 = 1000;               // not in the MBR: left out
  const uint64_t disk = p4 + n4 + 3 * kCyl + 7;
  root.Add({"sda", disk, {{p1, n1, 0x07}, {p2, n2, 0x0c}, {p3, n3, 0x83}, {p4, n4, 0}}});
  const fs::path mnt = root.path() / "mnt/my disk";
  fs::create_directories(mnt);
  root.Mounts("30 1 8:1 / /mnt/my\\040disk rw - ntfs3 /dev/sda1 rw\n"
              "31 1 0:44 /sub /elsewhere rw - fuseblk /dev/sda2 rw\n");
  DiskTable table = root.Table();
  VolumeEnumerator e(table, root.path());
  const auto list = All(e);

  struct Expected {
    VolumeRecord::Kind kind;
    uint64_t start;
    uint64_t count;
    uint8_t typeCode;
    int partition;
  };
  const std::vector<Expected> expected = {
      {VolumeRecord::Kind::kVolume, p1, n1, 0x07, 1},
      {VolumeRecord::Kind::kVolume, p2, n2, 0x0c, 2},
      {VolumeRecord::Kind::kGap, p2 + n2, kCyl + 1, 0, -1},
      {VolumeRecord::Kind::kVolume, p3, n3, 0x83, 3},
      {VolumeRecord::Kind::kGap, p3 + n3, disk - (p3 + n3), 0, -1},
  };
  ASSERT_EQ(list.size(), expected.size());
  for (size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].kind, expected[i].kind);
    EXPECT_EQ(list[i].letter, i + 1);
    EXPECT_EQ(list[i].diskNumber, 0);
    EXPECT_EQ(list[i].startSector, expected[i].start);
    EXPECT_EQ(list[i].sectorCount, expected[i].count);
    EXPECT_EQ(list[i].typeCode, expected[i].typeCode);
    EXPECT_EQ(list[i].partitionNumber, expected[i].partition);
    if (list[i].usageKnown) {
      EXPECT_EQ(list[i].usedBytes, list[i].totalBytes - list[i].freeBytes);
    } else {
      EXPECT_EQ(list[i].usedBytes + list[i].freeBytes, 0u);
    }
  }
  // Mounted: capacity and free space from the file system.
  struct statvfs st {};
  ASSERT_EQ(::statvfs(mnt.c_str(), &st), 0);
  EXPECT_EQ(list[0].mountPoint, "/mnt/my disk");
  EXPECT_EQ(list[0].devicePath, "/dev/sda1");
  EXPECT_EQ(list[0].totalBytes, uint64_t{st.f_blocks} * st.f_frsize);
  // A bind mount of part of a file system still names where it is reachable.
  EXPECT_EQ(list[1].mountPoint, "/elsewhere");
  EXPECT_TRUE(list[0].usageKnown);
  // Unmounted: the partition length; used and free space are not known.
  EXPECT_EQ(list[3].mountPoint, "");
  EXPECT_EQ(list[3].totalBytes, n3 * 512);
  EXPECT_FALSE(list[3].usageKnown);
  // Gaps are all free.
  EXPECT_EQ(list[2].freeBytes, (kCyl + 1) * 512);
  EXPECT_EQ(list[2].usedBytes, 0u);
}

TEST(VolumeEnumeratorTest, SpaceBeforeTheFirstPartitionCountsFromSector63) {
  FakeRoot root;
  const uint64_t disk = 40 * kCyl;
  root.Add({"sda", disk, {{63 + kCyl, 1000, 0x07}}});      // exactly a cylinder after 63
  root.Add({"sdb", disk, {{63 + kCyl + 1, 1000, 0x07}}});  // one sector more
  root.Add({"sdc", disk, {{1, 1000, 0x07}}});              // before sector 63: no negative gap
  DiskTable table = root.Table();
  VolumeEnumerator e(table, root.path());
  All(e);
  const auto& v = e.volumes();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v.at(0).front().kind, VolumeRecord::Kind::kVolume);
  ASSERT_EQ(v.at(1).front().kind, VolumeRecord::Kind::kGap);
  EXPECT_EQ(v.at(1).front().startSector, 63u);
  EXPECT_EQ(v.at(1).front().sectorCount, kCyl + 1);
  EXPECT_EQ(v.at(2).front().kind, VolumeRecord::Kind::kVolume);
  EXPECT_EQ(v.at(2).size(), 2u);  // the volume and the gap after it
}

TEST(VolumeEnumeratorTest, EmptyDisksAppearOnceAndOnlyUpToDisk127) {
  FakeRoot root;
  // 130 disks without partitions, named so that sorting keeps their order.
  for (int i = 0; i < 130; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "vd%c%c", 'a' + i / 26, 'a' + i % 26);
    root.Add({name, 5000 + static_cast<uint64_t>(i), {}, /*devFile=*/i < 2});
  }
  root.Add({"vdzz", 0, {}});  // a reader without a medium: nothing to list
  DiskTable table = root.Table();
  ASSERT_EQ(table.Size(), 131u);
  VolumeEnumerator e(table, root.path());
  const auto list = All(e);
  ASSERT_EQ(list.size(), 128u);
  for (int i = 0; i < 128; ++i) {
    SCOPED_TRACE(i);
    // Only the first two have a device node; the others cannot be read and
    // must not pass for empty disks.
    const bool readable = i < 2;
    EXPECT_EQ(list[i].kind, readable ? VolumeRecord::Kind::kEmptyDisk : VolumeRecord::Kind::kUnreadableDisk);
    EXPECT_EQ(list[i].diskNumber, i);
    EXPECT_EQ(list[i].startSector, 0u);
    EXPECT_EQ(list[i].sectorCount, 5000u + i);
    EXPECT_EQ(list[i].usageKnown, readable);
    EXPECT_EQ(list[i].freeBytes, readable ? (5000u + i) * 512 : 0u);
    EXPECT_EQ(list[i].letter, i + 1);
  }
  EXPECT_EQ(e.disks().size(), 131u);
  // Disks without a device node still show what sysfs knows about them.
  EXPECT_EQ(e.disks().at(0).openError, 0);
  EXPECT_EQ(e.disks().at(5).openError, err::kFileNotFound);
}

TEST(VolumeEnumeratorTest, NextVolumeWalksTheSameListAsGetAllVolumes) {
  FakeRoot root;
  root.Add({"sda", 10 * kCyl, {{2048, 5000, 0x07}}});
  root.Add({"sdb", 5000, {}});
  root.Add({"sdc", 10 * kCyl, {{2048, 5000, 0x0b}, {2048 + 5000 + 2 * kCyl, 100, 0x06}}});
  DiskTable table = root.Table();
  VolumeEnumerator e(table, root.path());
  const auto list = All(e);
  std::vector<VolumeRecord> walked;
  VolumeCursor cursor;
  VolumeRecord r;
  while (e.NextVolume(cursor, r) == 1) walked.push_back(r);
  ASSERT_EQ(walked.size(), list.size());
  ASSERT_GE(list.size(), 6u);
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(walked[i].diskNumber, list[i].diskNumber);
    EXPECT_EQ(walked[i].startSector, list[i].startSector);
  }
  EXPECT_EQ(e.NextVolume(cursor, r), 0);
}

TEST(VolumeEnumeratorTest, FindRemovedVolumesSaysWhetherAnythingWent) {
  FakeRoot root;
  root.Add({"sda", 10 * kCyl, {{2048, 5000, 0x07}}});
  root.Add({"sdb", 10 * kCyl, {{2048, 5000, 0x07}, {9000, 5000, 0x0c}}});
  DiskTable table = root.Table();
  VolumeEnumerator e(table, root.path());
  const auto before = All(e);

  std::vector<VolumeRecord> removed;
  EXPECT_EQ(e.FindRemovedVolumes(before, removed), 0);
  EXPECT_TRUE(removed.empty());

  // The first partition of sdb goes; the comparison is on disk and start, so
  // the second (compared last) is still there.
  fs::remove_all(root.path() / "sys/block/sdb/sdb1");
  EXPECT_EQ(e.FindRemovedVolumes(before, removed), 1);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].diskNumber, 1);
  EXPECT_EQ(removed[0].startSector, 2048u);

  // A failed enumeration is no proof of removal.
  fs::remove(root.path() / "proc/self/mountinfo");
  removed.clear();
  EXPECT_EQ(e.FindRemovedVolumes(before, removed), 0);
  EXPECT_TRUE(removed.empty());
  EXPECT_EQ(e.EnumerateVolumes(), 0);
}

TEST(VolumeEnumeratorTest, WholeDiskFileSystemAndImagesInTheTable) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("sfdisk")) GTEST_SKIP() << "tools missing";
  FakeRoot root;
  const uint64_t sectors = 80000;
  root.Add({"sda", sectors, {}});
  std::string out;
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.fat -F 32 -n STICK " +
                          test::Quote((root.path() / "dev/sda").string()),
                      &out),
            0)
      << out;
  // A file system the partition types have no byte for, on a whole disk.
  root.Add({"sdb", 20000, {}});
  const bool haveExt4 = test::HaveTool("mkfs.ext4");
  if (haveExt4) {
    ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F -L ROOTFS " +
                            test::Quote((root.path() / "dev/sdb").string()),
                        &out),
              0)
        << out;
  }
  root.Mounts("40 1 8:0 / /media/stick rw - vfat /dev/sda rw\n");
  fs::create_directories(root.path() / "media/stick");

  // An image of a partitioned disk, and one whose table is damaged.
  const fs::path image = root.path() / "disk.img";
  const fs::path bad = root.path() / "bad.img";
  for (const fs::path& p : {image, bad}) {
    std::ofstream(p).close();
    fs::resize_file(p, 90000 * 512);
  }
  ASSERT_EQ(test::Run("printf 'label: dos\\nstart=2048, size=70000, type=c\\n' | PATH=$PATH:/sbin:/usr/sbin sfdisk -q " +
                          test::Quote(image.string()) + " && PATH=$PATH:/sbin:/usr/sbin mkfs.fat -F 32 -n INNER --offset 2048 " +
                          test::Quote(image.string()) + " 70000",
                      &out),
            0)
      << out;
  {
    // Two primary entries that overlap: sfdisk refuses to write that.
    std::string mbr(512, '\0');
    const uint32_t entries[2][2] = {{2048, 80000}, {40000, 1000}};
    for (int i = 0; i < 2; ++i) {
      mbr[446 + i * 16 + 4] = 0x07;
      std::memcpy(mbr.data() + 446 + i * 16 + 8, &entries[i][0], 4);
      std::memcpy(mbr.data() + 446 + i * 16 + 12, &entries[i][1], 4);
    }
    mbr[510] = 0x55;
    mbr[511] = static_cast<char>(0xAA);
    std::fstream f(bad, std::ios::binary | std::ios::in | std::ios::out);
    f.write(mbr.data(), 512);
  }

  DiskTable table = root.Table();
  const int imageDisk = table.Add(image.string());
  const int badDisk = table.Add(bad.string());
  VolumeEnumerator e(table, root.path());
  All(e);
  const auto& v = e.volumes();

  ASSERT_EQ(v.at(0).size(), 1u);
  const VolumeRecord& stick = v.at(0)[0];
  EXPECT_EQ(stick.kind, VolumeRecord::Kind::kVolume);
  EXPECT_EQ(stick.partitionNumber, 0);
  EXPECT_EQ(stick.sectorCount, sectors);
  EXPECT_EQ(stick.fileSystemName, "FAT32");
  EXPECT_EQ(stick.typeCode, 11);
  EXPECT_EQ(stick.label, "STICK");
  EXPECT_EQ(stick.mountPoint, "/media/stick");

  if (haveExt4) {
    ASSERT_EQ(v.at(1).size(), 1u);
    EXPECT_EQ(v.at(1)[0].kind, VolumeRecord::Kind::kVolume);
    EXPECT_EQ(v.at(1)[0].fileSystemName, "ext4");
    EXPECT_EQ(v.at(1)[0].label, "ROOTFS");
    EXPECT_EQ(v.at(1)[0].typeCode, 0);
  }

  const auto& inner = v.at(imageDisk);
  ASSERT_GE(inner.size(), 1u);
  EXPECT_EQ(inner[0].startSector, 2048u);
  EXPECT_EQ(inner[0].sectorCount, 70000u);
  EXPECT_EQ(inner[0].fileSystemName, "FAT32");
  EXPECT_EQ(inner[0].label, "INNER");
  EXPECT_EQ(inner[0].devicePath, image.string() + "@1");
  EXPECT_TRUE(e.disks().at(imageDisk).isImage);

  // The overlapping table is refused; the image is offered whole instead.
  EXPECT_NE(e.disks().at(badDisk).tableProblem.find("overlaps"), std::string::npos)
      << e.disks().at(badDisk).tableProblem;
  ASSERT_EQ(v.at(badDisk).size(), 1u);
  EXPECT_EQ(v.at(badDisk)[0].kind, VolumeRecord::Kind::kEmptyDisk);
  EXPECT_EQ(v.at(badDisk)[0].sectorCount, 90000u);
}

TEST(RemovableDiskTest, FlagTransportOrUdevBus) {
  TempDir dir;
  const fs::path root = dir.path();
  auto disk = [&](const std::string& name, const std::string& removable, const std::string& link) {
    const fs::path target = root / "sys/devices" / link / "block" / name;
    WriteText(target / "removable", removable);
    WriteText(target / "dev", "8:" + std::to_string(name.size() * 16 + name.back()));
    fs::create_directories(root / "sys/block");
    fs::create_symlink(fs::path("../devices") / link / "block" / name, root / "sys/block" / name);
  };
  disk("sda", "0", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0");
  disk("sdb", "1", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0");
  disk("sdc", "0", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0");
  disk("mmcblk0", "0", "platform/soc/mmc_host/mmc0/mmc0:0001");
  disk("sdd", "0", "pci0000:00/0000:00:1f.0/virtio3/host2/target2:0:0/2:0:0:0");
  disk("sde", "0", "pci0000:00/0000:00:1f.0/virtio4/host3/target3:0:0/3:0:0:0");
  // udev knows sde came over USB even though its path does not show it.
  std::ifstream devFile(root / "sys/block/sde/dev");
  std::string devNumber;
  std::getline(devFile, devNumber);
  WriteText(root / "run/udev/data" / ("b" + devNumber), "S:disk/by-id/usb-x\nE:ID_BUS=usb");

  const std::vector<std::pair<std::string, bool>> cases = {
      {"sda", false}, {"sdb", true}, {"sdc", true}, {"mmcblk0", true},
      {"sdd", false}, {"sde", true}, {"missing", false}, {"../sda", false}};
  for (const auto& [name, want] : cases) EXPECT_EQ(IsRemovableDisk(root, name), want) << name;
}

}  // namespace
}  // namespace qm
