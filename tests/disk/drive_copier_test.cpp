#include "disk/drive_copier.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/errors.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;

TEST(DriveCopier, CopiesARangeByteExactLikeDdAndTruncatesALongerImage) {
  TempDir dir;
  const auto disk = dir / "disk.img";
  test::WriteBytes(disk, test::MakeContent(1000 * 512, 7));
  const auto out = dir / "out.img";
  test::WriteBytes(out, std::string(2000 * 512, 'S'));  // an older, longer image

  DriveCopyJob job;
  job.replaceExisting = true;
  ASSERT_EQ(CopySourceToFile(job, disk.string(), 37, 300, out, nullptr), 0);
  ASSERT_EQ(test::Run("dd if=" + test::Quote(disk.string()) + " of=" +
                      test::Quote((dir / "dd.img").string()) +
                      " bs=512 skip=37 count=300 status=none"),
            0);
  EXPECT_EQ(test::ReadBytes(out), test::ReadBytes(dir / "dd.img"));

  // Count 0 copies everything from the start sector on.
  ASSERT_EQ(CopySourceToFile(job, disk.string(), 0, 0, out, nullptr), 0);
  EXPECT_EQ(job.sectorCount, 1000u);
  EXPECT_EQ(test::ReadBytes(out), test::ReadBytes(disk));
}

TEST(DriveCopier, ACallbackStopsTheCopyAfterThePieceAndItsValueIsTheResult) {
  TempDir dir;
  const auto disk = dir / "disk.img";
  test::WriteBytes(disk, test::MakeContent(1024 * 512, 3));  // 4 pieces of 64 KiB
  struct Seen {
    int calls = 0;
    uint64_t lastDone = 0;
  } seen;
  DriveCopyJob job;
  job.progress = [](void* user, int percent, uint64_t done, uint64_t total, int64_t) {
    auto* s = static_cast<Seen*>(user);
    ++s->calls;
    s->lastDone = done;
    EXPECT_EQ(total, 1024u);
    EXPECT_EQ(percent, static_cast<int>(done * 100 / total));
    return s->calls == 2 ? -9527 : 0;
  };
  EXPECT_EQ(CopySourceToFile(job, disk.string(), 0, 0, dir / "out.img", &seen), -9527);
  EXPECT_EQ(seen.calls, 2);
  EXPECT_EQ(seen.lastDone, 256u);
  EXPECT_EQ(test::ReadBytes(dir / "out.img").size(), 256u * 512);
}

TEST(DriveCopier, ReportsReadFaultsAndRefusesBadRanges) {
  TempDir dir;
  const auto disk = dir / "disk.img";
  test::WriteBytes(disk, std::string(1024 * 512, 'z'));
  DriveCopyJob job;
  // The source shrinks during the copy: the next piece cannot be read.
  struct Shrink {
    std::string path;
  } shrink{disk.string()};
  job.progress = [](void* user, int, uint64_t done, uint64_t, int64_t) {
    if (done == 128) {
      EXPECT_EQ(::truncate(static_cast<Shrink*>(user)->path.c_str(), 200 * 512), 0);
    }
    return 0;
  };
  EXPECT_EQ(CopySourceToFile(job, disk.string(), 0, 0, dir / "out.img", &shrink), err::kReadFault);
  // The sectors that did arrive are in the image, the lost tail as zeros.
  const std::string copied = test::ReadBytes(dir / "out.img");
  EXPECT_EQ(copied, std::string(200 * 512, 'z') + std::string(824 * 512, '\0'));
  EXPECT_EQ(job.unreadable, (std::vector<SectorRange>{{200, 824}}));

  DriveCopyJob plain;
  EXPECT_EQ(CopySourceToFile(plain, disk.string(), 150, 51, dir / "o2.img", nullptr),
            err::kInvalidParameter);
  EXPECT_EQ(CopySourceToFile(plain, (dir / "none").string(), 0, 0, dir / "o3.img", nullptr),
            err::kFileNotFound);
  // Never onto the source itself.
  EXPECT_EQ(CopySourceToFile(plain, disk.string(), 0, 10, disk, nullptr), err::kInvalidParameter);
  EXPECT_EQ(test::ReadBytes(disk).size(), 200u * 512);
  EXPECT_NE(CopySourceToFile(plain, disk.string(), 0, 10, dir / "no-such-dir" / "x.img", nullptr),
            0);
}

TEST(DriveCopier, UnreadableSectorsBecomeZerosAndTheCopyGoesOn) {
  TempDir dir;
  const auto disk = dir / "disk.img";
  const std::string bytes = test::MakeContent(600 * 512, 5);
  test::WriteBytes(disk, bytes);
  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(disk), 0);
  // One lone bad sector inside a 64 KiB piece, and a run crossing two pieces.
  source.MarkUnreadable(3, 1, 512);
  source.MarkUnreadable(120, 20, 512);

  DriveCopyJob job;
  EXPECT_EQ(CopySectorsToFile(job, source, 0, 0, dir / "out.img", nullptr), err::kReadFault);
  EXPECT_EQ(job.unreadable, (std::vector<SectorRange>{{3, 1}, {120, 20}}));
  std::string expected = bytes;
  expected.replace(3 * 512, 512, std::string(512, '\0'));
  expected.replace(120 * 512, 20 * 512, std::string(20 * 512, '\0'));
  EXPECT_EQ(test::ReadBytes(dir / "out.img"), expected);

  // A range starting after the bad sectors copies cleanly.
  DriveCopyJob tail;
  EXPECT_EQ(CopySectorsToFile(tail, source, 140, 100, dir / "tail.img", nullptr), 0);
  EXPECT_TRUE(tail.unreadable.empty());
  EXPECT_EQ(test::ReadBytes(dir / "tail.img"), bytes.substr(140 * 512, 100 * 512));
}

TEST(DriveCopier, AnExistingFileOrLinkIsLeftAloneUnlessReplacing) {
  TempDir dir;
  const auto disk = dir / "disk.img";
  test::WriteBytes(disk, test::MakeContent(64 * 512, 9));
  const auto precious = dir / "notes.txt";
  test::WriteBytes(precious, "keep me");
  const auto link = dir / "link.img";
  const auto target = dir / "elsewhere.img";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

  DriveCopyJob job;
  EXPECT_EQ(CopySourceToFile(job, disk.string(), 0, 0, precious, nullptr), err::kAlreadyExists);
  EXPECT_EQ(test::ReadBytes(precious), "keep me");
  EXPECT_EQ(CopySourceToFile(job, disk.string(), 0, 0, link, nullptr), err::kAlreadyExists);
  EXPECT_FALSE(std::filesystem::exists(target));

  job.replaceExisting = true;
  EXPECT_EQ(CopySourceToFile(job, disk.string(), 0, 0, precious, nullptr), 0);
  EXPECT_EQ(test::ReadBytes(precious), test::ReadBytes(disk));
}

}  // namespace
}  // namespace qm
