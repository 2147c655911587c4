// Keeping disk numbers stable across device changes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/disk_table.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

void AddSysfsDisk(const fs::path& root, const std::string& name) {
  fs::create_directories(root / "sys/block" / name);
  std::ofstream(root / "sys/block" / name / "size") << "1000\n";
}

TEST(DiskTableRescanTest, DisksKeepTheirNumbersWhenOthersComeAndGo) {
  if (std::getenv("QUILLMARK_DISKS")) GTEST_SKIP() << "QUILLMARK_DISKS fixes the table";
  test::TempDir dir;
  const fs::path root = dir.path();
  AddSysfsDisk(root, "sda");
  AddSysfsDisk(root, "sdc");
  DiskTable table(ListSysfsDisks(root));
  const int image = table.Add("/tmp/some-disk.img");
  ASSERT_EQ(table.Paths(), (std::vector<std::string>{"/dev/sda", "/dev/sdc", "/tmp/some-disk.img"}));

  EXPECT_FALSE(table.Rescan(root));

  // sdb arrives (sorting would put it before sdc) and sda goes.
  AddSysfsDisk(root, "sdb");
  fs::remove_all(root / "sys/block/sda");
  EXPECT_TRUE(table.Rescan(root));
  EXPECT_EQ(table.PathOf(0), "");
  EXPECT_EQ(table.PathOf(1), "/dev/sdc");
  EXPECT_EQ(table.PathOf(image), "/tmp/some-disk.img");
  EXPECT_EQ(table.IndexOf("/dev/sdb"), 3);

  // sda comes back: a new number, the old one stays empty.
  AddSysfsDisk(root, "sda");
  EXPECT_TRUE(table.Rescan(root));
  EXPECT_EQ(table.IndexOf("/dev/sda"), 4);
  EXPECT_EQ(table.PathOf(0), "");
}

}  // namespace
}  // namespace qm
