#include "platform/disk_table.h"

#include <gtest/gtest.h>

#include "platform/user_folders.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;

TEST(DiskTable, SysfsListsWholeDisksSortedAndSkipsRamAndIdleLoops) {
  TempDir dir;
  const auto block = dir.path() / "sys" / "block";
  for (const char* name : {"sdb", "nvme0n1", "ram0", "zram0", "sda", "loop0", "loop1", "mmcblk0"})
    std::filesystem::create_directories(block / name);
  std::filesystem::create_directories(block / "loop1" / "loop");
  test::WriteBytes(block / "loop1" / "loop" / "backing_file", "/tmp/disk.img\n");
  EXPECT_EQ(ListSysfsDisks(dir.path()),
            (std::vector<std::string>{"/dev/loop1", "/dev/mmcblk0", "/dev/nvme0n1", "/dev/sda",
                                      "/dev/sdb"}));
}

TEST(DiskTable, AddKeepsIndicesAndGeometryComesFromTheLength) {
  TempDir dir;
  const auto image = dir / "disk.img";
  test::WriteBytes(image, std::string(16065 * 512 * 2 + 1000, '\0'));
  DiskTable table({"/dev/null-not-there"});
  EXPECT_EQ(table.Add(image.string()), 1);
  EXPECT_EQ(table.Add(image.string()), 1);
  EXPECT_EQ(table.PathOf(1), image.string());
  EXPECT_EQ(table.PathOf(7), "");
  // Only what Add appended counts as added, not a disk the table was built
  // from and then named again.
  EXPECT_EQ(table.Add("/dev/null-not-there"), 0);
  EXPECT_FALSE(table.IsAdded(0));
  EXPECT_TRUE(table.IsAdded(1));
  EXPECT_FALSE(table.IsAdded(7));
  FileHandle handle;
  ASSERT_EQ(handle.OpenReadOnly(image), 0);
  DiskInfo info;
  ASSERT_EQ(QueryDiskInfo(handle, info), 0);
  EXPECT_EQ(info.sectorSize, 512u);
  EXPECT_EQ(info.geometry.cylinders, 2u);
  EXPECT_EQ(info.geometry.tracksPerCylinder, 255u);
  EXPECT_EQ(info.geometry.sectorsPerTrack, 63u);
}

TEST(UserFolders, DataDirOverridesTheScanLogFolder) {
  TempDir dir;  // sets QUILLMARK_DATA_DIR
  EXPECT_EQ(ScanLogFolder(), dir.path() / "ScanLog");
}

}  // namespace
}  // namespace qm
