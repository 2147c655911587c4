// Deep scans through the session: a stopped scan goes on in its own folder
// (its scan.info updated, not replaced), starting afresh replaces it, one
// that another process is running is left alone, a
// whole disk is split by its partition table, and a deep scan's folder is
// always read with the deep engine.
#include <gtest/gtest.h>

#include "cli/deep_image.h"
#include "engines/deep/professional_recovery.h"
#include "platform/errors.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "session/scan_folders.h"
#include "session/scan_lock.h"
#include "session/scan_session.h"
#include "session/session_fixture.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using session::ScanSession;

// Stops the deep pass once it is under way.
int StopInDeepPass(void*, int, int scale, int64_t, uint64_t done, uint64_t total, uint64_t,
                   int) {
  return scale == session::kDeepPassScale && done > 0 && done < total ? err::kCancelled : 0;
}

class DeepSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_ / "card.img";
    test::WriteCarvingImage(image_, 16384, {}, 3);  // more than one read-ahead block
  }

  test::TempDir dir_;
  fs::path image_;
  ScanHistory history_{ScanLogFolder()};
  DiskTable disks_{std::vector<std::string>{}};
};

TEST_F(DeepSessionTest, AStoppedScanGoesOnInItsFolderAndAFreshStartReplacesIt) {
  std::string message;
  // Opens the image for a deep scan and scans it (every sector with
  // `whole`), stopping part-way when asked; gives the volume's earlier scan
  // and the folder scanned into.
  bool whole = true;
  auto run = [&](bool resume, bool stop, session::EarlierDeepScan& earlier, fs::path& folder) {
    ScanSession s(history_, disks_);
    s.SetWholeVolume(whole);
    ASSERT_EQ(s.Open(image_.string(), true, message), 0) << message;
    ASSERT_EQ(s.volumes().size(), 1u);
    session::ScanVolume& volume = s.volumes()[0];
    earlier = volume.earlier;
    volume.resume = resume;
    ASSERT_EQ(s.Scan(0, stop ? StopInDeepPass : nullptr, nullptr, message),
              stop ? err::kCancelled : 0)
        << message;
    folder = volume.scanFolder;
  };
  session::EarlierDeepScan earlier;
  fs::path first, second, again, third;
  run(true, true, earlier, first);
  EXPECT_FALSE(earlier.known);
  session::ScanInfo stopped;
  ASSERT_TRUE(session::ReadScanInfo(first, stopped));
  EXPECT_TRUE(stopped.deep());
  EXPECT_FALSE(stopped.finished);
  EXPECT_GT(stopped.sectorsDone, 0u);
  EXPECT_LT(stopped.sectorsDone, stopped.sectorsTotal);

  {
    // While another process scans into it, it is neither resumed, replaced
    // nor removed.
    session::ScanFolderLock other;
    ASSERT_EQ(other.Acquire(first), 0);
    for (bool resume : {true, false}) {
      ScanSession s(history_, disks_);
      ASSERT_EQ(s.Open(image_.string(), true, message), 0) << message;
      s.volumes()[0].resume = resume;
      EXPECT_EQ(s.Scan(0, nullptr, nullptr, message), err::kBusy);
      EXPECT_NE(message.find("another process"), std::string::npos) << message;
    }
    const auto kept = session::ListKeptScans(history_);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].running);
    EXPECT_EQ(session::RemoveKeptScan(history_, kept[0].number), err::kBusy);
    EXPECT_TRUE(fs::exists(first / session::kScanInfoName));
  }

  // Declined: a new folder, the stopped one deleted with its index entry.
  run(false, true, earlier, second);
  ASSERT_TRUE(earlier.known);
  EXPECT_EQ(fs::weakly_canonical(earlier.folder), fs::weakly_canonical(first));
  EXPECT_EQ(earlier.position.totalDone, stopped.sectorsDone);
  EXPECT_NE(second, first);
  EXPECT_FALSE(fs::exists(first));
  HistoryEntry entry{};
  EXPECT_FALSE(session::FindHistoryOfFolder(history_, first, entry));
  ASSERT_TRUE(session::ReadScanInfo(second, stopped));

  // Resumed: the same folder, its scan.info updated, over the same ranges
  // whatever this session asks.
  whole = false;
  run(true, false, earlier, again);
  ASSERT_TRUE(earlier.known);
  EXPECT_EQ(again, second);
  session::ScanInfo resumed;
  ASSERT_TRUE(session::ReadScanInfo(second, resumed));
  EXPECT_EQ(resumed.started, stopped.started);
  EXPECT_FALSE(resumed.resumed.empty());
  EXPECT_TRUE(resumed.wholeVolume);
  EXPECT_TRUE(resumed.finished);
  EXPECT_EQ(resumed.sectorsDone, 16384u);
  EXPECT_EQ(resumed.sectorsTotal, 16384u);

  // A finished scan is not offered; a new one keeps it.
  run(true, false, earlier, third);
  EXPECT_FALSE(earlier.known);
  EXPECT_NE(third, second);
  EXPECT_TRUE(fs::exists(second / session::kScanInfoName));
  ASSERT_TRUE(session::FindHistoryOfFolder(history_, third, entry));
  EXPECT_EQ(entry.totalDone, 16384u);
}

TEST_F(DeepSessionTest, AWholeDiskIsSplitByItsTableAndReadBackWithTheDeepEngine) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy"))
    GTEST_SKIP() << "no dosfstools/mtools";
  const fs::path a = dir_ / "a.img", b = dir_ / "b.img", disk = dir_ / "disk.img";
  ASSERT_TRUE(test::MakeImageWithDeletedFiles(a, 12, 1024, "Alpha", "a", 2));
  ASSERT_TRUE(test::MakeImageWithDeletedFiles(b, 12, 1024, "Beta", "b", 1));
  test::WriteMbrDisk(disk, {{2048, a}, {4096, b}});

  std::string message;
  {
    ScanSession s(history_, disks_);
    ASSERT_EQ(s.Open(disk.string(), true, message), 0) << message;
    ASSERT_EQ(s.volumes().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(s.volumes()[i].partitionNumber, int(i + 1));
      EXPECT_NE(session::DeepEngineOf(s.volumes()[i]), nullptr);
    }
    ASSERT_EQ(s.Scan(1, nullptr, nullptr, message), 0) << message;
  }
  {
    // Without a partition table the whole source is the one volume.
    ScanSession s(history_, disks_);
    ASSERT_EQ(s.Open(image_.string(), true, message), 0) << message;
    ASSERT_EQ(s.volumes().size(), 1u);
    EXPECT_EQ(s.volumes()[0].partitionNumber, 0);
  }
  // A quick session asked for the last scan of partition 2 gets the deep
  // scan, read by the deep engine.
  ScanSession s(history_, disks_);
  ASSERT_EQ(s.Open(disk.string(), false, message), 0) << message;
  ASSERT_EQ(s.Reopen("last", message), 0) << message;
  ASSERT_EQ(s.volumes().size(), 1u);
  EXPECT_EQ(s.volumes()[0].partitionNumber, 2);
  EXPECT_NE(session::DeepEngineOf(s.volumes()[0]), nullptr);
  uint32_t files = 0;
  s.volumes()[0].engine->CountFiles(nullptr, 0, &files);
  EXPECT_GE(files, 1u);
}

}  // namespace
}  // namespace qm
