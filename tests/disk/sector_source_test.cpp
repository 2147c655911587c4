#include "disk/sector_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "platform/errors.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;

TEST(SectorSource, ReadsUpToTheEndAndRefusesOneSectorMore) {
  TempDir dir;
  const auto image = dir / "disk.img";
  const std::string bytes = test::MakeContent(100 * 512 + 300, 1);  // tail is unreadable
  test::WriteBytes(image, bytes);
  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(image), 0);
  EXPECT_EQ(source.totalSectors(), 100u);

  // 200 sectors span several 64 KiB pieces.
  std::vector<uint8_t> buffer(100 * 512, 0xAA);
  uint32_t got = 7;
  ASSERT_EQ(source.ReadSectors(100, buffer.data(), 0, 512, &got), 0);
  EXPECT_EQ(got, 100u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), bytes.substr(0, 100 * 512));

  ASSERT_EQ(source.ReadSectors(1, buffer.data(), 99, 512, &got), 0);
  EXPECT_EQ(got, 1u);

  std::fill(buffer.begin(), buffer.end(), 0xAA);
  EXPECT_EQ(source.ReadSectors(2, buffer.data(), 99, 512, &got), err::kInvalidParameter);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buffer[0], 0xAA);  // nothing was read
  EXPECT_EQ(source.ReadSectors(1, buffer.data(), ~0ull, 512, &got), err::kInvalidParameter);
  EXPECT_EQ(source.ReadSectors(1, buffer.data(), 0, 0, &got), err::kInvalidParameter);
}

TEST(SectorSource, AShortReadIsAFaultThatStillReportsWholeSectors) {
  TempDir dir;
  const auto image = dir / "disk.img";
  test::WriteBytes(image, std::string(300 * 512, 'x'));
  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(image), 0);
  // The file shrinks under the open source, as a failing or removed disk would.
  ASSERT_EQ(::truncate(image.c_str(), 150 * 512 + 100), 0);
  std::vector<uint8_t> buffer(300 * 512);
  uint32_t got = 0;
  EXPECT_EQ(source.ReadSectors(300, buffer.data(), 0, 512, &got), err::kReadFault);
  EXPECT_EQ(got, 150u);
}

TEST(SectorSource, BadSourcesGiveClearCodes) {
  TempDir dir;
  SectorSource source;
  EXPECT_EQ(source.OpenImageSource(dir / "missing.img"), err::kFileNotFound);
  EXPECT_EQ(source.OpenImageSource(dir.path()), err::kDirectory);
  test::WriteBytes(dir / "empty.img", "");
  ASSERT_EQ(source.OpenImageSource(dir / "empty.img"), 0);
  EXPECT_EQ(source.totalSectors(), 0u);
  uint8_t sector[512];
  uint32_t got = 1;
  EXPECT_EQ(source.ReadSectors(1, sector, 0, 512, &got), err::kInvalidParameter);
  EXPECT_EQ(got, 0u);
  DiskTable table({(dir / "missing.img").string()});
  EXPECT_EQ(source.OpenPhysicalDriveSource(table, 0), err::kFileNotFound);
  EXPECT_EQ(source.OpenPhysicalDriveSource(table, 3), err::kFileNotFound);
}

TEST(SectorSource, DriveEntriesAreOpenedReadOnly) {
  TempDir dir;
  const auto image = dir / "disk.img";
  test::WriteBytes(image, std::string(4096, 'd'));
  DiskTable table({image.string()});
  SectorSource source;
  ASSERT_EQ(source.OpenPhysicalDriveSource(table, 0), 0);
  EXPECT_EQ(source.totalSectors(), 8u);
  // A write through the source's descriptor must be refused by the kernel.
  EXPECT_EQ(::pwrite(source.handle().fd(), "x", 1, 0), -1);
  EXPECT_EQ(test::ReadBytes(image), std::string(4096, 'd'));
}

}  // namespace
}  // namespace qm
