// The session: scans one after another keep their own folders, an earlier
// scan is re-opened by number, "last" or path only for the volume it was
// made for, and a whole disk is scanned partition by partition.
#include "session/scan_session.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/errors.h"
#include "platform/user_folders.h"
#include "session/scan_folders.h"
#include "session/tree_walk.h"
#include "session/session_fixture.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using session::ScanSession;

std::vector<std::string> FileNames(IFileRecoveryParse& engine) {
  std::vector<std::string> names;
  session::WalkTree(engine, [&](const FoundFileRecord& r, uint32_t, const std::string& folder) {
    if (!r.isDirectory) names.push_back(folder + r.Name());
  });
  std::sort(names.begin(), names.end());
  return names;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
    a_ = dir_ / "a.img";
    b_ = dir_ / "b.img";
    ASSERT_TRUE(test::MakeImageWithDeletedFiles(a_, 16, 16384, "Alpha", "a", 3));
    ASSERT_TRUE(test::MakeImageWithDeletedFiles(b_, 12, 2048, "Beta", "b", 2));
  }

  // Opens `source` in a fresh session and scans every volume.
  std::unique_ptr<ScanSession> Scanned(const fs::path& source) {
    auto s = std::make_unique<ScanSession>(history_, disks_);
    std::string message;
    EXPECT_EQ(s->Open(source.string(), false, message), 0) << message;
    for (size_t i = 0; i < s->volumes().size(); ++i)
      EXPECT_EQ(s->Scan(i, nullptr, nullptr, message), 0) << message;
    return s;
  }

  int Reopen(const fs::path& source, const std::string& log, std::string& message,
             std::unique_ptr<ScanSession>* kept = nullptr) {
    auto s = std::make_unique<ScanSession>(history_, disks_);
    if (int rc = s->Open(source.string(), false, message); rc != 0) return rc;
    const int rc = s->Reopen(log, message);
    if (kept) *kept = std::move(s);
    return rc;
  }

  test::TempDir dir_;
  fs::path a_, b_;
  ScanHistory history_{ScanLogFolder()};
  DiskTable disks_{std::vector<std::string>{}};
};

TEST_F(SessionTest, ScansOneAfterAnotherKeepTheirOwnFoldersAndLogs) {
  auto first = Scanned(a_);
  auto second = Scanned(b_);
  const fs::path scanLog = ScanLogFolder();
  EXPECT_EQ(first->volumes()[0].scanFolder, scanLog / "1/");
  EXPECT_EQ(second->volumes()[0].scanFolder, scanLog / "2/");
  for (const char* n : {"1", "2"}) {
    EXPECT_FALSE(session::FindLogIn(scanLog / n).empty()) << n;
    EXPECT_TRUE(fs::exists(scanLog / n / "scan.info")) << n;
  }
  // A new process (a fresh history) goes on after them.
  ScanHistory later(scanLog);
  EXPECT_EQ(later.StartNewScanFolder(), scanLog / "3/");

  const auto kept = session::ListKeptScans(history_);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].info.path, fs::canonical(a_).string());
  EXPECT_EQ(kept[0].info.engine, "FAT");
  EXPECT_EQ(kept[0].info.filesFound, 3u);
  EXPECT_TRUE(kept[0].info.finished);
  EXPECT_GT(kept[0].bytesOnDisk, 0u);
  EXPECT_FALSE(kept[2].hasInfo);
}

TEST_F(SessionTest, AnEarlierScanIsFoundByNumberLastOrPathForItsOwnSourceOnly) {
  Scanned(a_);
  Scanned(b_);
  // Deleted short names lose their first letter.
  const std::vector<std::string> aFiles{"Alpha/!1000.txt", "Alpha/!1001.txt", "Alpha/!1002.txt"};
  std::string message;
  std::unique_ptr<ScanSession> s;
  ASSERT_EQ(Reopen(a_, "1", message, &s), 0) << message;
  EXPECT_EQ(FileNames(*s->volumes()[0].engine), aFiles);

  ASSERT_EQ(Reopen(b_, "last", message, &s), 0) << message;
  EXPECT_EQ(FileNames(*s->volumes()[0].engine).size(), 2u);

  const fs::path cwd = fs::current_path();
  fs::current_path(ScanLogFolder());
  const int relative = Reopen(a_, "./1", message, &s);
  fs::current_path(cwd);
  ASSERT_EQ(relative, 0) << message;
  EXPECT_EQ(FileNames(*s->volumes()[0].engine), aFiles);

  struct Refused {
    fs::path source;
    std::string log;
    int code;
    std::string says;
  };
  const Refused cases[] = {
      {a_, "2", err::kInvalidData, "does not belong to"},
      {b_, "1", err::kInvalidData, "it was made for " + a_.string()},
      {a_, "9", err::kFileNotFound, "there is no scan 9"},
      {a_, (dir_ / "nowhere").string(), err::kFileNotFound, "holds no scan log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Reopen(c.source, c.log, message), c.code) << c.log;
    EXPECT_NE(message.find(c.says), std::string::npos) << c.log << ": " << message;
  }

  // The same image changed since its scan: the log no longer describes it.
  fs::last_write_time(a_, fs::last_write_time(a_) + std::chrono::hours(1));
  EXPECT_EQ(Reopen(a_, "1", message), err::kInvalidData);
  EXPECT_NE(message.find("has changed since"), std::string::npos) << message;
}

TEST_F(SessionTest, KeptScansAreRemovedOnlyInsideTheScanLogFolder) {
  Scanned(a_);
  Scanned(b_);
  const fs::path outside = dir_ / "precious";
  test::WriteBytes(outside / "keep.txt", "keep");
  fs::create_directory_symlink(outside, ScanLogFolder() / "7");
  ASSERT_EQ(session::ListKeptScans(history_).size(), 2u);  // the link is no scan

  EXPECT_EQ(session::RemoveKeptScan(history_, 1), 0);
  EXPECT_FALSE(fs::exists(ScanLogFolder() / "1"));
  EXPECT_EQ(session::RemoveKeptScan(history_, 1), err::kFileNotFound);
  EXPECT_NE(session::RemoveKeptScan(history_, 7), 0);
  EXPECT_TRUE(fs::exists(outside / "keep.txt"));
  std::string message;
  EXPECT_EQ(Reopen(a_, "1", message), err::kFileNotFound);
}

TEST_F(SessionTest, AWholeDiskImageIsScannedPartitionByPartition) {
  const fs::path disk = dir_ / "disk.img";
  test::WriteMbrDisk(disk, {{2048, b_}, {2048 + 4096, a_}});
  auto s = Scanned(disk);
  ASSERT_EQ(s->volumes().size(), 2u);
  EXPECT_EQ(s->volumes()[0].partitionNumber, 1);
  EXPECT_EQ(s->volumes()[1].partitionNumber, 2);
  EXPECT_NE(s->volumes()[0].scanFolder, s->volumes()[1].scanFolder);
  EXPECT_EQ(FileNames(*s->volumes()[0].engine).size(), 2u);
  EXPECT_EQ(FileNames(*s->volumes()[1].engine).size(), 3u);
  EXPECT_EQ(s->volumes()[1].info.kind, "partition 2");

  // The log of partition 2 re-opens that partition alone.
  std::string message;
  std::unique_ptr<ScanSession> again;
  ASSERT_EQ(Reopen(disk, "2", message, &again), 0) << message;
  ASSERT_EQ(again->volumes().size(), 1u);
  EXPECT_EQ(again->volumes()[0].partitionNumber, 2);
  EXPECT_EQ(FileNames(*again->volumes()[0].engine).size(), 3u);
  // A partition's log is not the other image's, though the volume is alike.
  EXPECT_EQ(Reopen(a_, "2", message), err::kInvalidData);
}

}  // namespace
}  // namespace qm
