// The scan log while a scan writes it: other threads list, count and read
// what is finished, never write to the files, and can be stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <stop_token>
#include <thread>

#include "platform/errors.h"
#include "results/categories.h"
#include "results/store_fixture.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::AddFiled;
using test::TempDir;

const uint64_t kRoot = DirectoryKey(0, 5);

TEST(ScanLogStoreThreads, ReadersOnOtherThreadsSeeFinishedRecordsAndWriteNothing) {
  TempDir temp;
  const fs::path folder = temp.path() / "ScanLog" / "1";
  ScanLogStore store;
  ASSERT_EQ(store.OpenScanLogIn(folder, "log"), 0);
  AddFiled(store, kRoot, {"Docs", true, 40});
  for (int i = 0; i < 50; ++i) AddFiled(store, DirectoryKey(1, 40), {"f" + std::to_string(i) + ".txt"});
  const auto sizes = [&] {
    return std::vector<uintmax_t>{fs::file_size(store.MainPath()),
                                  fs::file_size(folder / "log_Relation"),
                                  fs::file_size(folder / "log_DirInfo")};
  };
  const auto before = sizes();
  EXPECT_EQ(before, (std::vector<uintmax_t>{0, 0, 0}));  // all still in the write buffer

  std::vector<FoundFileRecord> root, docs, listed;
  uint32_t count = 0;
  std::thread reader([&] {
    store.ListChildren(kRoot, root);
    store.ListChildren(DirectoryKey(1, 40), docs);
    store.CountFiles(0, count);
    store.ListByCategory("*.txt", listed);
  });
  reader.join();
  EXPECT_EQ(root.size(), 1u);
  EXPECT_EQ(docs.size(), 50u);
  EXPECT_EQ(count, 50u);
  EXPECT_EQ(listed.size(), 50u);
  EXPECT_EQ(sizes(), before) << "a read call wrote to the log";
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_GT(fs::file_size(store.MainPath()), 0u);
}

TEST(ScanLogStoreThreads, ListingsRunWhileTheWriterAddsAndStopWhenAsked) {
  TempDir temp;
  ScanLogStore store;
  ASSERT_EQ(store.OpenScanLogIn(temp.path() / "ScanLog" / "1", "log"), 0);
  constexpr int kFiles = 3000;  // several write-buffer flushes
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kFiles; ++i) AddFiled(store, kRoot, {"f" + std::to_string(i) + ".jpg"});
    store.FlushScanLog();
    done = true;
  });
  size_t last = 0;
  bool grew = true;
  while (!done) {
    std::vector<FoundFileRecord> now;
    ASSERT_EQ(store.ListChildren(kRoot, now), 0);
    for (const auto& r : now) ASSERT_EQ(r.Name().rfind("f", 0), 0u) << "a half-written record";
    grew = grew && now.size() >= last;
    last = now.size();
  }
  writer.join();
  EXPECT_TRUE(grew);
  std::vector<FoundFileRecord> all;
  ASSERT_EQ(store.ListChildren(kRoot, all), 0);
  EXPECT_EQ(all.size(), static_cast<size_t>(kFiles));

  std::stop_source stop;
  stop.request_stop();
  std::vector<FoundFileRecord> out;
  uint32_t count = 0;
  EXPECT_EQ(store.ListByCategory("*.jpg", out, stop.get_token()),
            err::kCancelled);
  EXPECT_EQ(store.CountFiles(0, count, stop.get_token()), err::kCancelled);
  EXPECT_EQ(store.ListChildren(kRoot, out, stop.get_token()), err::kCancelled);
}

}  // namespace
}  // namespace qm
