#include "disk/sector_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "platform/errors.h"
#include "support/faulty_device.h"
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

// Bad sectors at the start and inside a 64 KiB piece, and a run crossing
// from one piece into the next. Whole 4 KiB pages: a block device read
// through the page cache fails a page at a time.
const std::vector<SectorRange> kBadRanges = {{0, 8}, {72, 8}, {120, 16}, {296, 8}};

std::string WithZeros(std::string bytes, const std::vector<SectorRange>& ranges) {
  for (const SectorRange& r : ranges)
    bytes.replace(r.first * 512, r.count * 512, std::string(r.count * 512, '\0'));
  return bytes;
}

// What every source with those bad sectors must give, whether the faults
// come from the device or were marked.
void ExpectReadsAroundBadSectors(const SectorSource& source, const std::string& bytes) {
  std::vector<uint8_t> buffer(400 * 512, 0xAA);
  uint32_t got = 99;
  // The sectors before a bad one arrive, and `got` points at the bad one.
  EXPECT_EQ(source.ReadSectors(100, buffer.data(), 20, 512, &got), err::kReadFault);
  EXPECT_EQ(got, 52u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 52 * 512), bytes.substr(20 * 512, 52 * 512));
  EXPECT_EQ(source.ReadSectors(1, buffer.data(), 0, 512, &got), err::kReadFault);
  EXPECT_EQ(got, 0u);
  // Reads next to a bad sector are not harmed by it.
  EXPECT_EQ(source.ReadSectors(40, buffer.data(), 80, 512, &got), 0);
  EXPECT_EQ(got, 40u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 40 * 512), bytes.substr(80 * 512, 40 * 512));

  std::vector<SectorRange> unreadable;
  std::fill(buffer.begin(), buffer.end(), 0xAA);
  EXPECT_EQ(source.ReadSectorsFilling(400, buffer.data(), 0, 512, unreadable), err::kReadFault);
  EXPECT_EQ(unreadable, kBadRanges);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), WithZeros(bytes.substr(0, 400 * 512), kBadRanges));

  unreadable.clear();
  EXPECT_EQ(source.ReadSectorsFilling(60, buffer.data(), 200, 512, unreadable), 0);
  EXPECT_TRUE(unreadable.empty());
  // 4096-byte sectors over the same source: a bad 512-byte sector spoils
  // the whole larger sector.
  EXPECT_EQ(source.ReadSectorsFilling(50, buffer.data(), 0, 4096, unreadable), err::kReadFault);
  EXPECT_EQ(unreadable, (std::vector<SectorRange>{{0, 1}, {9, 1}, {15, 2}, {37, 1}}));
}

TEST(SectorSource, MarkedSectorsFailAloneAndAreFilledWithZeros) {
  TempDir dir;
  const auto image = dir / "disk.img";
  const std::string bytes = test::MakeContent(512 * 512, 11);
  test::WriteBytes(image, bytes);
  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(image), 0);
  for (const SectorRange& r : kBadRanges) source.MarkUnreadable(r.first, r.count, 512);
  ExpectReadsAroundBadSectors(source, bytes);
  EXPECT_EQ(source.KnownUnreadable(), kBadRanges);

  // A lone marked sector costs only itself.
  SectorSource lone;
  ASSERT_EQ(lone.OpenImageSource(image), 0);
  lone.MarkUnreadable(5, 1, 512);
  std::vector<uint8_t> buffer(16 * 512);
  uint32_t got = 0;
  EXPECT_EQ(lone.ReadSectors(16, buffer.data(), 0, 512, &got), err::kReadFault);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(lone.ReadSectors(10, buffer.data(), 6, 512, &got), 0);
  std::vector<SectorRange> unreadable;
  EXPECT_EQ(lone.ReadSectorsFilling(16, buffer.data(), 0, 512, unreadable), err::kReadFault);
  EXPECT_EQ(unreadable, (std::vector<SectorRange>{{5, 1}}));
}

TEST(SectorSource, DeviceErrorsFailAloneAndAreRemembered) {
  TempDir dir;
  const auto image = dir / "disk.img";
  const std::string bytes = test::MakeContent(512 * 512, 12);
  test::WriteBytes(image, bytes);
  test::FaultyDevice device;
  std::vector<test::FaultyDevice::Range> bad;
  for (const SectorRange& r : kBadRanges) bad.push_back({r.first, r.count});
  std::string why;
  if (!device.Create(image, bad, why)) GTEST_SKIP() << why;

  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(device.path()), 0);
  ExpectReadsAroundBadSectors(source, bytes);
  // Every bad sector met was remembered, so a failing disk is asked once.
  EXPECT_EQ(source.KnownUnreadable(), kBadRanges);
}

}  // namespace
}  // namespace qm
