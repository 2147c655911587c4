// What a scan folder records about its source, how a scan log is matched to
// a volume, how a refused open tells the user what to do, and which disks a
// folder lies on through device mapper and RAID layers.
#include <gtest/gtest.h>

#include "platform/errors.h"
#include "session/same_disk.h"
#include "session/scan_info.h"
#include "session/scan_source.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using session::ScanInfo;

ScanInfo Volume() {
  ScanInfo info;
  info.source = "disk.img";
  info.path = "/images/disk\nimg";  // a line break must not add a key
  info.kind = "partition 2";
  info.engine = "NTFS";
  info.started = "2026-12-10 14:03:11";
  info.startSector = 2048;
  info.sectorCount = 4096;
  info.sourceBytes = 8 << 20;
  info.imageTime = 133000000000000000ULL;
  info.filesFound = 17;
  info.finished = true;
  return info;
}

TEST(ScanInfo, RoundTripsAndTellsWhichVolumeDiffers) {
  test::TempDir dir;
  ASSERT_EQ(session::WriteScanInfo(dir.path(), Volume()), 0);
  ScanInfo read;
  ASSERT_TRUE(session::ReadScanInfo(dir.path(), read));
  EXPECT_EQ(read.path, Volume().path);
  EXPECT_EQ(read.kind, "partition 2");
  EXPECT_EQ(read.filesFound, 17u);
  EXPECT_TRUE(read.finished);
  std::string why;
  EXPECT_TRUE(read.SameVolume(Volume(), why)) << why;

  struct Case {
    void (*change)(ScanInfo&);
    std::string says;
  };
  const Case cases[] = {
      {[](ScanInfo& i) { i.path = "/images/other.img"; }, "made for disk.img"},
      {[](ScanInfo& i) { i.startSector = 63; }, "another volume"},
      {[](ScanInfo& i) { i.sectorCount = 1; }, "another volume"},
      {[](ScanInfo& i) { i.sourceBytes += 512; }, "has changed"},
      {[](ScanInfo& i) { i.imageTime += 1; }, "has changed"},
      {[](ScanInfo& i) { i.deviceId = "WD-1234|USB stick"; }, "another disk is at"},
  };
  for (const auto& c : cases) {
    ScanInfo other = Volume();
    c.change(other);
    EXPECT_FALSE(read.SameVolume(other, why)) << c.says;
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
  }
  EXPECT_FALSE(session::ReadScanInfo(dir / "missing", read));
}

TEST(CannotOpenText, SaysHowToGetPermissionOnlyWhenItWasRefused) {
  const std::string refused = session::CannotOpenText("/dev/sdb", err::kAccessDenied);
  EXPECT_NE(refused.find("sudo"), std::string::npos) << refused;
  EXPECT_NE(refused.find("disk group"), std::string::npos) << refused;
  EXPECT_EQ(session::CannotOpenText("/dev/sdz", err::kFileNotFound).find("sudo"),
            std::string::npos);
  test::TempDir dir;
  test::WriteBytes(dir / "mine.img", "x");
  const std::string file = session::CannotOpenText((dir / "mine.img").string(), err::kAccessDenied);
  EXPECT_NE(file.find("check the file's permissions"), std::string::npos) << file;
  EXPECT_EQ(file.find("disk group"), std::string::npos) << file;
}

// A fake sysfs: sda with partition sda2, sdb and sdc whole, dm-0 (LVM) on
// sda2, md0 on sdb and sdc, dm-1 (encryption) on top of md0.
TEST(SameDisk, SeesThroughDeviceMapperAndRaidToTheWholeDisks) {
  test::TempDir dir;
  const fs::path block = dir / "block";
  for (const char* d : {"sda/sda2", "sdb", "sdc", "dm-0/slaves", "md0/slaves", "dm-1/slaves"})
    fs::create_directories(block / d);
  test::WriteBytes(block / "sda" / "sda2" / "partition", "2\n");
  fs::create_directory_symlink(block / "sda" / "sda2", block / "dm-0" / "slaves" / "sda2");
  fs::create_directory_symlink(block / "sdb", block / "md0" / "slaves" / "sdb");
  fs::create_directory_symlink(block / "sdc", block / "md0" / "slaves" / "sdc");
  fs::create_directory_symlink(block / "md0", block / "dm-1" / "slaves" / "md0");
  // A loop in a damaged tree ends.
  fs::create_directory_symlink(block / "dm-1", block / "md0" / "slaves" / "dm-1");

  using Disks = std::set<std::string>;
  EXPECT_EQ(session::WholeDisksUnder(block / "sda" / "sda2"), Disks{"sda"});
  EXPECT_EQ(session::WholeDisksUnder(block / "dm-0"), Disks{"sda"});
  EXPECT_EQ(session::WholeDisksUnder(block / "dm-1"), (Disks{"sdb", "sdc"}));
  EXPECT_EQ(session::WholeDisksUnder(block / "gone"), Disks{});
}

}  // namespace
}  // namespace qm
