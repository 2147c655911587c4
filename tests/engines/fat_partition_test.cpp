// The FAT quick scan on a partition inside a disk (an image standing in for
// drive 0 of the disk table): sector numbers carry the partition start,
// and found files come back through recovery and preview.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engines/engine_test_context.h"
#include "engines/extraction/destination_names.h"
#include "engines/fat/fast_fat_recovery.h"
#include "platform/disk_table.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(FatPartition, ScanRecoverAndPreviewAtAPartitionOffset) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
  test::TempDir dir;
  test::FatImageBuilder b(dir / "part.img", 16, 16384, 1);
  ASSERT_TRUE(b.Create());
  const std::string text = test::MakeContent(3000, 61);
  ASSERT_TRUE(b.AddFile("docs/Notes.txt", text));
  ASSERT_TRUE(b.Delete("docs/Notes.txt"));
  // The disk: 2048 empty sectors, then the volume.
  constexpr uint64_t kStart = 2048;
  const fs::path disk = dir / "disk.img";
  test::WriteBytes(disk, std::string(kStart * 512, '\0') + test::ReadBytes(b.image()));
  const uint64_t sectors = fs::file_size(b.image()) / 512;

  ::setenv("QUILLMARK_DISKS", disk.c_str(), 1);
  DiskTable::System().Reload();
  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenDisk(0, kStart, sectors, 'E'), 0);
  // A second open of an open engine changes nothing.
  EXPECT_EQ(engine.OpenDisk(5, 0, 0, 'F'), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  ::unsetenv("QUILLMARK_DISKS");
  DiskTable::System().Reload();
  EXPECT_TRUE(engine.log()->MainPath().filename().string().starts_with("Fast_2048_"));

  std::vector<FoundFileRecord> root, docs;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, root), 0);
  ASSERT_EQ(root.size(), 1u);
  ASSERT_EQ(engine.ListChildren(&root[0], 1, docs), 0);
  ASSERT_EQ(docs.size(), 1u);
  const FoundFileRecord notes = docs[0];
  EXPECT_EQ(notes.Name(), "Notes.txt");
  EXPECT_EQ(uint64_t{notes.volumeStartSector}, kStart);
  EXPECT_GT(uint64_t{notes.anchorSector}, kStart);
  EXPECT_EQ(uint32_t{notes.volumeLetter}, uint32_t{'E'});
  uint32_t count = 0;
  EXPECT_EQ(engine.CountFiles(nullptr, 0, &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(engine.ListChildren(nullptr, 1, root), err::kInvalidParameter);

  // Recovered twice into the category layout: the second copy gets "(1)".
  const fs::path out = dir / "out";
  for (const char* expected : {"Notes.txt", "Notes(1).txt"}) {
    const fs::path to = CategoryDestination(out, notes.Name());
    EXPECT_EQ(to, out / "document" / expected);
    ASSERT_EQ(engine.RecoverItem(notes, to.string(), 0), 0);
    EXPECT_TRUE(test::ReadBytes(to) == text);
  }

  // A text file previews into the memory buffer, cut to its size.
  std::vector<uint8_t> buffer(1000);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  std::string path;
  ASSERT_EQ(engine.ExtractForPreview(notes, path, buffer.data(), &size, nullptr, nullptr), 0);
  EXPECT_TRUE(path.empty());
  ASSERT_EQ(size, 1000u);
  EXPECT_TRUE(std::string(buffer.begin(), buffer.end()) == text.substr(0, 1000));
}

}  // namespace
}  // namespace qm
