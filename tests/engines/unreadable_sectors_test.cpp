// Scans and recoveries on sources with unreadable sectors: a bad directory
// block or MFT record costs only the entries in it, and a file with bad
// sectors in its content comes back with zeros there and is reported
// damaged. The faults are put at chosen sectors of real images.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engines/engine_test_context.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "platform/errors.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Every file record the scan listed, by name, walking the whole tree.
std::vector<FoundFileRecord> AllFiles(IFileRecoveryParse& engine) {
  std::vector<FoundFileRecord> files;
  for (const test::ListedRecord& item : test::ListTree(engine))
    if (!item.record.isDirectory) files.push_back(item.record);
  return files;
}

std::set<std::string> Names(const std::vector<FoundFileRecord>& files) {
  std::set<std::string> names;
  for (const FoundFileRecord& f : files) names.insert(f.Name());
  return names;
}

const FoundFileRecord* Named(const std::vector<FoundFileRecord>& files, const std::string& name) {
  for (const FoundFileRecord& f : files)
    if (f.Name() == name) return &f;
  return nullptr;
}

const SectorSource& SourceOf(const CFastFatRecovery& engine) { return engine.source(); }
const SectorSource& SourceOf(const CFastNtfsRecovery& engine) { return *engine.volume().source(); }

// Opens and scans with a scan folder of its own; `bad` sectors are made
// unreadable after the open, before the scan.
template <typename Engine>
std::vector<FoundFileRecord> Scan(Engine& engine, const fs::path& image,
                                  const std::vector<uint64_t>& bad = {}) {
  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  EXPECT_EQ(engine.OpenImage(image.string(), 1), 0);
  for (uint64_t sector : bad) SourceOf(engine).MarkUnreadable(sector, 1, 512);
  EXPECT_EQ(engine.Scan(nullptr), 0);
  return AllFiles(engine);
}

// The 512-byte sector of the image holding `piece` (which must be unique).
uint64_t SectorHolding(const fs::path& image, const std::string& piece) {
  const std::string bytes = test::ReadBytes(image);
  const size_t at = bytes.find(piece);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.find(piece, at + 1), std::string::npos);
  return at / 512;
}

std::string WithZeros(std::string bytes, size_t offset, size_t length) {
  return bytes.replace(offset, length, length, '\0');
}

// "R120.TXT": 8.3 names, so that every entry is one directory slot.
std::string ShortName(char letter, int number) {
  std::string name(1, letter);
  name += std::to_string(number);
  name += ".TXT";
  return name;
}

class UnreadableFat : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
    // FAT16 with one sector per cluster: every directory block is a sector.
    test::FatImageBuilder fat(dir_ / "fat16.img", 16, 16384, 1);
    ASSERT_TRUE(fat.Create());
    for (int i = 0; i < 40; ++i) {
      const std::string name = ShortName('R', 100 + i);
      ASSERT_TRUE(fat.AddFile(name, "root file " + name));
      rootNames_.insert(name);
    }
    for (int i = 0; i < 50; ++i) {
      const std::string name = ShortName('S', 200 + i);
      ASSERT_TRUE(fat.AddFile("SUB/" + name, "sub file " + name));
      subNames_.insert(name);
    }
    big_ = test::MakeContent(6000, 77);
    ASSERT_TRUE(fat.AddFile("BIG.BIN", big_));
    ASSERT_TRUE(fat.Delete("R*.TXT"));
    ASSERT_TRUE(fat.Delete("BIG.BIN"));
    ASSERT_TRUE(fat.Delete("SUB/S*.TXT"));
    image_ = fat.image();
  }

  test::TempDir dir_;
  fs::path image_;
  std::set<std::string> rootNames_, subNames_;
  std::string big_;
};

TEST_F(UnreadableFat, ABadDirectoryBlockCostsOnlyTheEntriesInIt) {
  CFastFatRecovery clean;
  clean.SetContext(test::TestContext());
  const std::vector<FoundFileRecord> all = Scan(clean, image_);
  ASSERT_EQ(all.size(), rootNames_.size() + subNames_.size() + 1);
  EXPECT_TRUE(clean.ScanWarnings().empty());

  // A sector in the middle of the FAT16 root region, and one in the middle
  // of the sub-folder's cluster chain: the entries before and after each
  // are still found.
  // A deleted short name has lost its first letter.
  for (const char* victim : {"!120.txt", "!225.txt"}) {
    SCOPED_TRACE(victim);
    const FoundFileRecord* record = Named(all, victim);
    ASSERT_NE(record, nullptr);
    const uint64_t bad = record->anchorSector;
    std::set<std::string> expected;
    for (const FoundFileRecord& f : all)
      if (f.anchorSector != bad) expected.insert(f.Name());
    ASSERT_LT(expected.size(), all.size());
    ASSERT_GT(expected.size(), all.size() - 17);

    CFastFatRecovery engine;
    engine.SetContext(test::TestContext());
    EXPECT_EQ(Names(Scan(engine, image_, {bad})), expected);
    const std::vector<std::string> warnings = engine.ScanWarnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("1 directory block could not be read (sector " + std::to_string(bad) + ")"),
              std::string::npos)
        << warnings[0];
  }
}

TEST_F(UnreadableFat, ARecoveryWritesWhatItCanReadAndReportsTheRest) {
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  const uint64_t badSector = SectorHolding(image_, big_.substr(2048, 64));
  const std::vector<FoundFileRecord> all = Scan(engine, image_, {badSector});
  const FoundFileRecord* big = Named(all, "!ig.bin");
  ASSERT_NE(big, nullptr);

  const fs::path out = dir_ / "out" / "BIG.BIN";
  EXPECT_EQ(engine.RecoverItem(*big, out.string(), 0), err::kCrc);
  EXPECT_EQ(test::ReadBytes(out), WithZeros(big_, 2048, 512));
  const std::vector<RecoveryProblem> problems = engine.RecoveryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].damaged());
  EXPECT_EQ(problems[0].keptPath, out.string());
  EXPECT_EQ(problems[0].unreadable, (std::vector<ByteRange>{{2048, 512}}));

  // A file with nothing unreadable is a clean success with no problems.
  const FoundFileRecord* small = Named(all, "!100.txt");
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(engine.RecoverItem(*small, (dir_ / "out" / "R100.TXT").string(), 0), 0);
  EXPECT_TRUE(engine.RecoveryProblems().empty());
}

TEST(UnreadableNtfs, ABadMftRecordIsSkippedAndBadContentIsZeros) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  test::TempDir dir;
  test::NtfsImageBuilder ntfs(dir / "ntfs.img", 8);
  ASSERT_TRUE(ntfs.Create());
  ASSERT_TRUE(ntfs.Mount());
  std::vector<std::string> contents;
  for (int i = 0; i < 6; ++i) {
    contents.push_back(test::MakeContent(9000, 300 + i));
    ASSERT_TRUE(ntfs.AddFile("file" + std::to_string(i) + ".bin", contents.back()));
  }
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(ntfs.Delete("file" + std::to_string(i) + ".bin"));
  ASSERT_TRUE(ntfs.Unmount());

  CFastNtfsRecovery clean;
  clean.SetContext(test::TestContext());
  const std::vector<FoundFileRecord> all = Scan(clean, ntfs.image());
  ASSERT_EQ(all.size(), 6u);
  const FoundFileRecord* victim = Named(all, "file2.bin");
  ASSERT_NE(victim, nullptr);

  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  const uint64_t badContent = SectorHolding(ntfs.image(), contents[4].substr(5000, 64));
  const std::vector<FoundFileRecord> found =
      Scan(engine, ntfs.image(), {victim->anchorSector, badContent});
  EXPECT_EQ(Names(found), (std::set<std::string>{"file0.bin", "file1.bin", "file3.bin",
                                                  "file4.bin", "file5.bin"}));
  const std::vector<std::string> warnings = engine.ScanWarnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("1 MFT record could not be read"), std::string::npos) << warnings[0];

  const FoundFileRecord* hurt = Named(found, "file4.bin");
  ASSERT_NE(hurt, nullptr);
  const fs::path out = dir / "out" / "file4.bin";
  EXPECT_EQ(engine.RecoverItem(*hurt, out.string(), 0), err::kCrc);
  const size_t badOffset = 5000 / 512 * 512;
  EXPECT_EQ(test::ReadBytes(out), WithZeros(contents[4], badOffset, 512));
  const std::vector<RecoveryProblem> problems = engine.RecoveryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].unreadable, (std::vector<ByteRange>{{badOffset, 512}}));
}

}  // namespace
}  // namespace qm
