#include "disk/volume_flush.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;

// A fake sysfs tree with disk "qmz" and its partition "qmz1" (device 259:77)
// starting at 512-byte sector 2048, mounted at a folder with a space in it.
TEST(VolumeFlush, FindsThePartitionByStartAndSyncsItsMountedFileSystem) {
  TempDir dir;
  const auto part = dir.path() / "sys" / "class" / "block" / "qmz" / "qmz1";
  std::filesystem::create_directories(part);
  test::WriteBytes(part / "partition", "1\n");
  test::WriteBytes(part / "start", "2048\n");
  test::WriteBytes(part / "dev", "259:77\n");
  const auto mountPoint = dir.path() / "mnt point";
  std::filesystem::create_directories(mountPoint);
  std::string escaped = mountPoint.string();
  escaped.replace(escaped.find(' '), 1, "\\040");
  test::WriteBytes(dir / "mountinfo",
                   "22 1 259:77 / " + escaped + " rw,relatime - vfat /dev/qmz1 rw\n");

  EXPECT_TRUE(FlushVolumeAt("/dev/qmz", 2048, 512, dir.path(), dir / "mountinfo"));
  // 4 KiB sectors: sysfs still counts 512-byte units.
  EXPECT_TRUE(FlushVolumeAt("/dev/qmz", 256, 4096, dir.path(), dir / "mountinfo"));
  EXPECT_FALSE(FlushVolumeAt("/dev/qmz", 4096, 512, dir.path(), dir / "mountinfo"));
  EXPECT_FALSE(FlushVolumeAt("/dev/unknown", 2048, 512, dir.path(), dir / "mountinfo"));
}

}  // namespace
}  // namespace qm
