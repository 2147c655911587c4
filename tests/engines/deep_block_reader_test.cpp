// The deep pass's read-ahead: blocks come in range order with the bytes of
// the image, start where a resumed pass starts, leave out what a carved file
// passed over, survive unreadable sectors and stop when asked.
#include "engines/deep/deep_block_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "disk/sector_source.h"
#include "platform/errors.h"
#include "support/faulty_device.h"
#include "support/test_support.h"

namespace qm {
namespace {

constexpr uint32_t kSector = 512;

// An image whose every sector carries its own number in its first 8 bytes.
std::string NumberedSectors(uint64_t sectors) {
  std::string bytes = test::MakeContent(sectors * kSector, 7);
  for (uint64_t s = 0; s < sectors; ++s) std::memcpy(&bytes[s * kSector], &s, sizeof s);
  return bytes;
}

DeepRangeSource RangesOf(std::vector<DeepRange> ranges) {
  return [ranges = std::move(ranges), next = size_t{0}](DeepRange& range) mutable {
    if (next == ranges.size()) return false;
    range = ranges[next++];
    return true;
  };
}

struct Seen {
  uint64_t sector;
  uint32_t sectors;
  size_t rangeIndex;
};

// Reads every block; checks each one's bytes against the image.
std::vector<Seen> ReadAll(DeepBlockReader& reader, const std::string& image,
                          std::vector<SectorRange>* unreadable = nullptr) {
  std::vector<Seen> seen;
  DeepBlock block;
  while (reader.Next(block)) {
    EXPECT_EQ(block.error, 0);
    seen.push_back({block.sector, block.sectors, block.rangeIndex});
    // A bad area may span two blocks: each lists its own part.
    if (unreadable)
      for (const SectorRange& r : block.unreadable)
        AppendSectorRange(*unreadable, r.first, r.count);
    for (uint32_t i = 0; i < block.sectors; ++i) {
      const uint64_t s = block.sector + i;
      const uint8_t* got = block.data + size_t{i} * kSector;
      bool bad = false;
      for (const SectorRange& r : block.unreadable) bad |= s >= r.first && s < r.first + r.count;
      if (bad) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), kSector),
                  std::string(kSector, '\0'))
            << "sector " << s;
      } else {
        EXPECT_EQ(std::memcmp(got, image.data() + s * kSector, kSector), 0) << "sector " << s;
      }
    }
  }
  return seen;
}

class DeepBlockReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = NumberedSectors(kSectors);
    path_ = dir_ / "numbered.img";
    test::WriteBytes(path_, bytes_);
    ASSERT_EQ(source_.OpenImageSource(path_), 0);
  }
  static constexpr uint64_t kSectors = 1000;
  test::TempDir dir_;
  std::filesystem::path path_;
  std::string bytes_;
  SectorSource source_;
};

TEST_F(DeepBlockReaderTest, BlocksFollowTheRangesInOrder) {
  // Blocks of 16 sectors, depth 2: a range of 40 gives 16 + 16 + 8; an
  // empty range gives nothing but still counts; the last range runs past
  // the image and is cut at its end.
  DeepBlockReader reader(source_, kSector, 16 * kSector, 2);
  reader.Start(RangesOf({{3, 40}, {50, 0}, {60, 5}, {990, 100}}));
  const std::vector<Seen> seen = ReadAll(reader, bytes_);
  const std::vector<Seen> expected = {
      {3, 16, 0}, {19, 16, 0}, {35, 8, 0}, {60, 5, 2}, {990, 10, 3}};
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].sector, expected[i].sector);
    EXPECT_EQ(seen[i].sectors, expected[i].sectors);
    EXPECT_EQ(seen[i].rangeIndex, expected[i].rangeIndex);
  }
  DeepBlock block;
  EXPECT_FALSE(reader.Next(block));
}

TEST_F(DeepBlockReaderTest, ResumesAtTheFirstSectorAndSkipsWhatACarvedFileCovers) {
  {
    // A resumed pass: sectors before the first one are not read.
    DeepBlockReader reader(source_, kSector, 16 * kSector, 3);
    reader.Start(RangesOf({{0, 100}, {200, 50}}), 210);
    const std::vector<Seen> seen = ReadAll(reader, bytes_);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].sector, 210u);
    EXPECT_EQ(seen[0].rangeIndex, 1u);
    EXPECT_EQ(seen.back().sector + seen.back().sectors, 250u);
  }
  {
    // A skip from inside the first block: every later block that lies
    // wholly before the skip point is left out, whether it was read ahead
    // already or not; the next block starts at the skip point or holds it.
    DeepBlockReader reader(source_, kSector, 16 * kSector, 3);
    reader.Start(RangesOf({{0, 500}, {600, 100}}));
    DeepBlock block;
    ASSERT_TRUE(reader.Next(block));
    EXPECT_EQ(block.sector, 0u);
    reader.SkipTo(301);
    ASSERT_TRUE(reader.Next(block));
    EXPECT_LE(block.sector, 301u);
    EXPECT_GT(block.sector + block.sectors, 301u);
    reader.SkipTo(650);
    ASSERT_TRUE(reader.Next(block));
    EXPECT_EQ(block.sector, 650u);
    EXPECT_EQ(block.rangeIndex, 1u);
    // A skip backwards changes nothing.
    reader.SkipTo(10);
    uint64_t end = block.sector + block.sectors;
    while (reader.Next(block)) {
      EXPECT_EQ(block.sector, end);
      end = block.sector + block.sectors;
    }
    EXPECT_EQ(end, 700u);
  }
}

TEST_F(DeepBlockReaderTest, StopEndsThePassPromptly) {
  // A generator that never ends (its ranges lie past the image soon): only
  // Stop ends the pass, and the destructor joins the reader thread.
  DeepBlockReader reader(source_, kSector, 8 * kSector, 2);
  reader.Start([n = uint64_t{0}](DeepRange& range) mutable {
    range = {n, 50};
    n += 50;
    return true;
  });
  DeepBlock block;
  ASSERT_TRUE(reader.Next(block));
  ASSERT_TRUE(reader.Next(block));
  reader.Stop();
  EXPECT_FALSE(reader.Next(block));
}

TEST_F(DeepBlockReaderTest, UnreadableSectorsComeBackAsZerosAndThePassGoesOn) {
  const std::vector<test::FaultyDevice::Range> bad = {{100, 3}, {131, 1}, {700, 20}};
  test::FaultyDevice device;
  std::string why;
  if (!device.Create(path_, bad, why)) GTEST_SKIP() << why;
  SectorSource faulty;
  ASSERT_EQ(faulty.OpenImageSource(device.path()), 0);

  DeepBlockReader reader(faulty, kSector, 64 * kSector, 3);
  reader.Start(RangesOf({{0, kSectors}}));
  std::vector<SectorRange> unreadable;
  const std::vector<Seen> seen = ReadAll(reader, bytes_, &unreadable);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().sector + seen.back().sectors, kSectors);
  const std::vector<SectorRange> expected = {{100, 3}, {131, 1}, {700, 20}};
  EXPECT_EQ(unreadable, expected);
}

TEST_F(DeepBlockReaderTest, ASourceThatIsGoneEndsThePassWithItsError) {
  // The source closes (a disk unplugged) while the reader is at its third
  // range: the blocks before come whole, then one block carries the error.
  DeepBlockReader reader(source_, kSector, 16 * kSector, 2);
  reader.Start([this, n = 0](DeepRange& range) mutable {
    if (n == 2) source_.Close();
    range = {uint64_t(n) * 100, 10};
    return ++n < 10;
  });
  DeepBlock block;
  std::vector<int> errors;
  while (reader.Next(block)) errors.push_back(block.error);
  EXPECT_EQ(errors, (std::vector<int>{0, 0, err::kInvalidHandle}));
}

}  // namespace
}  // namespace qm
