// What the FAT reader costs and whether it can be shared: entries come from
// a small cache of aligned blocks, so scattered look-ups read only the blocks
// that hold them, and two threads reading the same volume get the right
// values.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engines/engine_test_context.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/fat/fat_volume.h"
#include "fat_test_image.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::FatImageBuilder;
using test::FatTestImage;

// Bytes this process has read through read(2) and pread(2) so far.
uint64_t ProcessReadBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

class FatTableReads : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
  }
  test::TempDir dir_;
};

// A FAT32 whose every entry holds a different value, read from both ends at
// once by two threads, and in a scattered order by one: every value is the
// one on disk, and scattered look-ups read one block each, never the table.
TEST_F(FatTableReads, ScatteredAndConcurrentLookUpsGetTheirOwnBlocks) {
  FatImageBuilder b(dir_ / "f32.img", 32, 40960, 1);
  ASSERT_TRUE(b.Create());
  std::vector<uint32_t> expected;
  {
    FatTestImage image(b.image());
    const FatGeometry& g = image.geometry();
    ASSERT_GT(g.FatBytes(), 4u * FatTableCache::kBlockBytes);
    expected.assign(g.LastCluster() + 1, 0);
    for (uint32_t c = 2; c <= g.LastCluster(); ++c) {
      expected[c] = (c * 2654435761u) % g.LastCluster() + 2;
      image.SetFat(c, expected[c]);
    }
    image.Save();
  }
  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(b.image().string()), 0);
  FatVolume volume;
  ASSERT_EQ(volume.Open(source, 0, source.totalSectors()), 0);
  const uint32_t last = volume.geometry().LastCluster();

  // End, start, end, middle, start: three blocks, each read once.
  for (uint32_t c : {last, 2u, last - 1, last / 2, 3u}) {
    uint32_t value = 0;
    ASSERT_EQ(volume.Entry(c, value), 0);
    EXPECT_EQ(value, expected[c]) << c;
  }
  EXPECT_EQ(volume.tableCache().blockReads(), 3u);
  EXPECT_LE(volume.tableCache().bytesRead(), 3u * FatTableCache::kBlockBytes);

  auto walk = [&](bool forward, int& wrong) {
    for (int round = 0; round < 3; ++round) {
      for (uint32_t i = 2; i <= last; ++i) {
        const uint32_t c = forward ? i : last + 2 - i;
        uint32_t value = 0;
        if (volume.Entry(c, value) != 0 || value != expected[c]) ++wrong;
      }
    }
  };
  int wrongForward = 0, wrongBackward = 0;
  std::thread other(walk, false, std::ref(wrongBackward));
  walk(true, wrongForward);
  other.join();
  EXPECT_EQ(wrongForward, 0);
  EXPECT_EQ(wrongBackward, 0);
}

// Recovering small deleted files scattered over a FAT32 reads a few times
// what it writes plus at most the FAT once, not a window of the table per
// file.
TEST_F(FatTableReads, ScatteredRecoveryReadsAboutWhatItWrites) {
  FatImageBuilder b(dir_ / "scattered.img", 32, 65536, 1);
  ASSERT_TRUE(b.Create());
  const std::string filler = test::MakeContent(1500000, 3);
  std::vector<std::string> names;
  for (int i = 0; i < 24; ++i) {
    const std::string name = "S" + std::to_string(i) + ".BIN";
    ASSERT_TRUE(b.AddFile(name, test::MakeContent(700 + 97 * i, 100 + i)));
    ASSERT_TRUE(b.AddFile("FILL" + std::to_string(i) + ".BIN", filler));
    names.push_back(name);
  }
  for (const std::string& name : names) ASSERT_TRUE(b.Delete(name));
  uint64_t fatBytes = 0;
  {
    FatTestImage image(b.image());
    fatBytes = image.geometry().FatBytes();
  }

  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 1), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  std::vector<FoundFileRecord> files;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, files), 0);
  ASSERT_EQ(files.size(), names.size());

  const uint64_t before = ProcessReadBytes();
  uint64_t written = 0;
  for (const FoundFileRecord& f : files) {
    const fs::path to = dir_ / ("out" + std::to_string(f.recordIndex));
    ASSERT_EQ(engine.RecoverItem(f, to.string(), 0), 0) << f.Name();
    written += fs::file_size(to);
  }
  const uint64_t read = ProcessReadBytes() - before;
  EXPECT_GT(written, 24u * 700);
  // Each file costs the sectors it fills and at most one block of the FAT;
  // reading the table from each file's entry onwards costs many times that.
  EXPECT_LE(read, 4 * written + fatBytes) << "read " << read << " to write " << written;
}

}  // namespace
}  // namespace qm
