// Two scans at once in two threads while a third lists, counts and reads
// both, the way the desktop application's window does during a scan.
#include <gtest/gtest.h>

#include <atomic>
#include <stop_token>
#include <thread>

#include "platform/user_folders.h"
#include "session/scan_session.h"
#include "session/session_fixture.h"
#include "session/tree_walk.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(ConcurrentScans, TwoScansAndAListerShareNothingButTheHistory) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
  test::TempDir dir;
  const fs::path images[2] = {dir / "one.img", dir / "two.img"};
  // More files than one write buffer holds, so listings meet flushes.
  ASSERT_TRUE(test::MakeImageWithDeletedFiles(images[0], 16, 16384, "One", "one-", 450));
  ASSERT_TRUE(test::MakeImageWithDeletedFiles(images[1], 32, 40960, "Two", "two-", 300));

  ScanHistory history(ScanLogFolder());
  DiskTable disks(std::vector<std::string>{});
  session::ScanSession sessions[2] = {{history, disks}, {history, disks}};
  for (int i = 0; i < 2; ++i) {
    std::string message;
    ASSERT_EQ(sessions[i].Open(images[i].string(), false, message), 0) << message;
  }
  IFileRecoveryParse* engines[2] = {sessions[0].volumes()[0].engine.get(),
                                    sessions[1].volumes()[0].engine.get()};

  std::atomic<int> running{2};
  int results[2] = {-1, -1};
  std::thread scanners[2];
  for (int i = 0; i < 2; ++i) {
    scanners[i] = std::thread([&, i] {
      std::string message;
      results[i] = sessions[i].Scan(0, nullptr, nullptr, message);
      --running;
    });
  }
  // The lister: everything it sees is whole and belongs to its own image.
  uint64_t rounds = 0;
  bool mixed = false;
  std::thread lister([&] {
    do {
      for (int i = 0; i < 2; ++i) {
        // Deleted short names lose their first letter.
        const std::string own = i == 0 ? "ne-1" : "wo-1";
        std::vector<FoundFileRecord> records;
        engines[i]->ListByCategory("*.txt", records);
        for (const auto& r : records) mixed = mixed || r.Name().find(own) == std::string::npos;
        uint32_t count = 0;
        engines[i]->CountFiles(nullptr, 0, &count);
        engines[i]->RecordCount();
        session::WalkTree(*engines[i], [&](const FoundFileRecord& r, uint32_t, const std::string&) {
          if (!r.isDirectory) mixed = mixed || r.Name().find(own) == std::string::npos;
        });
      }
      ++rounds;
    } while (running > 0);
  });
  for (auto& t : scanners) t.join();
  lister.join();

  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 0);
  EXPECT_FALSE(mixed) << "a listing showed another scan's file";
  EXPECT_GT(rounds, 0u);
  const fs::path folders[2] = {sessions[0].volumes()[0].scanFolder,
                               sessions[1].volumes()[0].scanFolder};
  EXPECT_NE(folders[0], folders[1]);
  const size_t expected[2] = {450, 300};
  for (int i = 0; i < 2; ++i) {
    uint32_t count = 0;
    ASSERT_EQ(engines[i]->CountFiles(nullptr, 0, &count), 0);
    EXPECT_EQ(count, expected[i]) << images[i];
    EXPECT_EQ(sessions[i].volumes()[0].info.filesFound, expected[i]);
  }
  // A listing the user gave up on stops.
  std::stop_source stop;
  engines[0]->SetReadStop(stop.get_token());
  stop.request_stop();
  std::vector<FoundFileRecord> records;
  uint32_t count = 0;
  EXPECT_EQ(engines[0]->ListByCategory("*.txt", records), err::kCancelled);
  EXPECT_EQ(engines[0]->CountFiles(nullptr, 0, &count), err::kCancelled);
}

}  // namespace
}  // namespace qm
