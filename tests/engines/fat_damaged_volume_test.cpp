// The FAT quick scan on volumes that are damaged or unusual on purpose: a
// cleared FAT32 high word, live files under a deleted folder, a folder that
// lost its "." entry, the longest long names, looping chains and folders,
// cancel, the free-space map, and boot sectors out of range.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "engines/engine_test_context.h"
#include "engines/fat/fast_fat_recovery.h"
#include "fat_test_image.h"
#include "platform/errors.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "support/jpeg_fixture.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::FatImageBuilder;
using test::FatTestImage;

using Found = test::ListedRecord;

std::vector<std::string> Paths(const std::vector<Found>& all) {
  std::vector<std::string> paths;
  for (const Found& f : all) paths.push_back(f.path);
  return paths;
}

const Found* Find(const std::vector<Found>& all, const std::string& path) {
  for (const Found& f : all)
    if (f.path == path) return &f;
  return nullptr;
}

// Scans the image with a fresh engine into a scan folder of its own, as the
// front ends do; the engine stays open for recovery.
std::vector<Found> ScanImage(CFastFatRecovery& engine, const fs::path& image) {
  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  EXPECT_EQ(engine.OpenImage(image.string(), 1), 0);
  EXPECT_EQ(engine.Scan(nullptr), 0);
  return test::ListTree(engine);
}

std::string Recover(CFastFatRecovery& engine, const FoundFileRecord& r, const fs::path& to,
                    int expected = 0) {
  EXPECT_EQ(engine.RecoverItem(r, to.string(), 0), expected) << r.Name();
  return fs::exists(to) ? test::ReadBytes(to) : std::string("<missing>");
}

class FatDamagedVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
  }
  test::TempDir dir_;
};

TEST_F(FatDamagedVolume, ClearedFat32HighWordIsGuessedFromTheSignature) {
  FatImageBuilder b(dir_ / "f32.img", 32, 40960, 1);
  ASSERT_TRUE(b.Create());
  // 34 MB of zeros push the photo past cluster 65,536.
  ASSERT_TRUE(b.AddFile("FILLER.BIN", std::string(34000000, '\0')));
  const std::string jpeg = test::JpegLike(3020, 21, {.endOfImage = false});
  ASSERT_TRUE(b.AddFile("A.JPG", jpeg));
  ASSERT_TRUE(b.Delete("A.JPG"));
  uint32_t cluster = 0;
  {
    FatTestImage image(b.image());
    const size_t entry = image.FindEntry("\xE5       JPG");
    ASSERT_NE(entry, std::string::npos);
    cluster = image.EntryCluster(entry);
    ASSERT_GE(cluster, 65536u);
    image.SetEntryCluster(entry, cluster & 0xFFFF);  // as a driver that clears the high word leaves it
    image.Save();
  }
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  const auto all = ScanImage(engine, b.image());
  const Found* photo = Find(all, "!.jpg");
  ASSERT_NE(photo, nullptr) << ::testing::PrintToString(Paths(all));
  EXPECT_EQ(uint32_t{photo->record.entryId}, cluster);
  EXPECT_EQ(uint32_t{photo->record.contentOk}, 1u);
  EXPECT_TRUE(Recover(engine, photo->record, dir_ / "a.jpg") == jpeg);
}

class FatDeletedFolders : public FatDamagedVolume, public ::testing::WithParamInterface<int> {};

TEST_P(FatDeletedFolders, InheritedDeletionLiveFilesAndLostDotEntries) {
  FatImageBuilder b(dir_ / "vol.img", GetParam(), GetParam() == 12 ? 2048 : 16384, 1);
  ASSERT_TRUE(b.Create());
  const std::string keep = test::MakeContent(1500, 31);  // three clusters, chain left intact
  ASSERT_TRUE(b.AddFile("GONEDIR/KEEP.TXT", keep));
  ASSERT_TRUE(b.AddFile("LIVEDIR/LIVE.TXT", test::MakeContent(700, 32)));
  ASSERT_TRUE(b.AddFile("ROOT.TXT", test::MakeContent(100, 33)));
  ASSERT_TRUE(b.AddFile("DOTLESS/INNER.TXT", test::MakeContent(100, 34)));
  ASSERT_TRUE(b.DeleteTree("DOTLESS"));
  {
    FatTestImage image(b.image());
    // Only the folder's own entry is marked: its files stay live entries.
    const size_t gone = image.FindEntry("GONEDIR    ");
    ASSERT_NE(gone, std::string::npos);
    image.Byte(gone) = 0xE5;
    // The deleted folder's cluster no longer opens with ".": not a folder.
    const size_t dotless = image.FindEntry("\xE5OTLESS    ");
    ASSERT_NE(dotless, std::string::npos);
    const size_t first = image.ClusterOffset(image.EntryCluster(dotless));
    ASSERT_EQ(image.Byte(first), '.');
    image.Byte(first) = 'X';
    image.Save();
  }
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  const auto all = ScanImage(engine, b.image());
  EXPECT_EQ(Paths(all), (std::vector<std::string>{"!onedir", "!onedir/keep.txt"}));
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(uint32_t{all[0].record.isDeleted}, 1u);
  EXPECT_TRUE(Recover(engine, all[1].record, dir_ / "keep.txt") == keep);
}

INSTANTIATE_TEST_SUITE_P(Widths, FatDeletedFolders, ::testing::Values(12, 16),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

TEST_F(FatDamagedVolume, LongestLongNamesAndADamagedRunOfPieces) {
  FatImageBuilder b(dir_ / "names.img", 16, 16384, 1);
  ASSERT_TRUE(b.Create());
  const std::string longest = std::string(251, 'n') + ".txt";  // 255 characters: 20 pieces
  ASSERT_TRUE(b.AddFile("names/" + longest, "long"));
  ASSERT_TRUE(b.AddFile("names/After File.txt", "after"));
  ASSERT_TRUE(b.Delete("names/" + longest));
  ASSERT_TRUE(b.Delete("names/After File.txt"));
  {
    CFastFatRecovery engine;
    engine.SetContext(test::TestContext());
    const auto all = ScanImage(engine, b.image());
    EXPECT_NE(Find(all, "names/" + longest), nullptr) << ::testing::PrintToString(Paths(all));
    EXPECT_NE(Find(all, "names/After File.txt"), nullptr);
  }
  {
    // The long name's short entry turned into a 21st piece: the run is
    // damaged, the entries after it are still read.
    FatTestImage image(b.image());
    const size_t entry = image.FindEntry("\xE5NNNNN~1TXT");
    ASSERT_NE(entry, std::string::npos);
    image.Byte(entry + 11) = 0x0F;
    image.Byte(entry + 26) = 0;
    image.Byte(entry + 27) = 0;
    image.Save();
  }
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  const auto all = ScanImage(engine, b.image());
  EXPECT_NE(Find(all, "names/After File.txt"), nullptr) << ::testing::PrintToString(Paths(all));
}

TEST_F(FatDamagedVolume, LoopingAndRunawayChainsEndPromptly) {
  FatImageBuilder b(dir_ / "loops.img", 16, 16384, 1);
  ASSERT_TRUE(b.Create());
  const std::string loop = test::MakeContent(2048, 41), past = test::MakeContent(2048, 42);
  ASSERT_TRUE(b.AddFile("LOOP.BIN", loop));
  ASSERT_TRUE(b.AddFile("PAST.BIN", past));
  ASSERT_TRUE(b.AddFile("A/B/C/XX.TXT", std::string(512, ' ')));
  ASSERT_TRUE(b.AddFile("A/DEL.TXT", "deleted"));
  ASSERT_TRUE(b.Delete("LOOP.BIN"));
  ASSERT_TRUE(b.Delete("PAST.BIN"));
  ASSERT_TRUE(b.Delete("A/DEL.TXT"));
  {
    FatTestImage image(b.image());
    const uint32_t l = image.EntryCluster(image.FindEntry("\xE5OOP    BIN"));
    image.SetFat(l, l + 1);
    image.SetFat(l + 1, l);  // l -> l+1 -> l -> ...
    const uint32_t p = image.EntryCluster(image.FindEntry("\xE5""AST    BIN"));
    image.SetFat(p, 0xFFF0);  // past the last cluster of this volume
    // C points back at its grandparent A, and A's chain runs through a
    // cluster of blanks back to itself.
    const size_t a = image.FindEntry("A          ");
    const size_t c = image.FindEntry("C          ");
    const size_t xx = image.FindEntry("XX      TXT");
    ASSERT_TRUE(a != std::string::npos && c != std::string::npos && xx != std::string::npos);
    const uint32_t aCluster = image.EntryCluster(a), blanks = image.EntryCluster(xx);
    image.SetEntryCluster(c, aCluster);
    image.SetFat(aCluster, blanks);
    image.SetFat(blanks, aCluster);
    image.Save();
  }
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  const auto started = std::chrono::steady_clock::now();
  const auto all = ScanImage(engine, b.image());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_EQ(Paths(all), (std::vector<std::string>{"!ast.bin", "!oop.bin", "a", "a/!el.txt"}));
  ASSERT_EQ(all.size(), 4u);
  // Two clusters of the loop, then it is recognised; one cluster before the
  // chain leaves the volume. Neither file comes out longer than it was,
  // and what was read is kept aside, not under the file's own name.
  EXPECT_EQ(Recover(engine, all[1].record, dir_ / "loop.bin", err::kHandleEof), "<missing>");
  EXPECT_TRUE(test::ReadBytes(dir_ / "loop.bin.partial") == loop.substr(0, 1024));
  EXPECT_EQ(Recover(engine, all[0].record, dir_ / "past.bin", err::kHandleEof), "<missing>");
  EXPECT_TRUE(test::ReadBytes(dir_ / "past.bin.partial") == past.substr(0, 512));
  EXPECT_EQ(Recover(engine, all[3].record, dir_ / "del.txt"), "deleted");
}

TEST_F(FatDamagedVolume, CancelStopsTheScanAndKeepsTheLog) {
  FatImageBuilder b(dir_ / "cancel.img", 16, 16384, 1);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.AddFile("X.TXT", "x"));
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 1), 0);
  int calls = 0;
  auto cancel = [](void* user, int, int, int64_t, uint64_t, uint64_t, uint64_t, int) {
    ++*static_cast<int*>(user);
    return err::kCancelled;
  };
  ASSERT_EQ(engine.SetCallbacks(cancel, nullptr, &calls, 100), 0);
  EXPECT_EQ(engine.Scan(nullptr), err::kCancelled);
  EXPECT_EQ(calls, 1);
  ASSERT_NE(engine.log(), nullptr);
  EXPECT_TRUE(fs::exists(engine.log()->MainPath()));
  EXPECT_TRUE(engine.log()->MainPath().filename().string().starts_with("Fast_0_"));
}

class FatFreeSpace : public FatDamagedVolume, public ::testing::WithParamInterface<int> {};

// Clusters 2.. hold A (3 clusters), B (2, deleted) and C (1); the rest is free.
TEST_P(FatFreeSpace, ExtentsFollowTheAllocationMap) {
  const int bits = GetParam();
  FatImageBuilder b(dir_ / "free.img", bits, bits == 12 ? 2048 : bits == 16 ? 16384 : 40960, 1);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.AddFile("A.BIN", test::MakeContent(1500, 51)));
  ASSERT_TRUE(b.AddFile("B.BIN", test::MakeContent(1000, 52)));
  ASSERT_TRUE(b.AddFile("C.BIN", test::MakeContent(500, 53)));
  ASSERT_TRUE(b.Delete("B.BIN"));
  FatTestImage image(b.image());
  const uint32_t bCluster = image.EntryCluster(image.FindEntry("\xE5       BIN"));
  const uint32_t cCluster = image.EntryCluster(image.FindEntry("C       BIN"));
  ASSERT_EQ(cCluster, bCluster + 2);

  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 1), 0);
  ASSERT_EQ(engine.BuildClusterBitmap(), 0);
  const FatGeometry& g = engine.volume().geometry();
  const uint64_t dataStart = g.dataStart;
  const uint64_t partition = engine.volume().partitionSectors();
  uint64_t start = 0, length = 0;
  EXPECT_EQ(engine.NextFreeExtent(&start, &length), 1);
  EXPECT_EQ(start, dataStart + (bCluster - 2));
  EXPECT_EQ(length, 2u);
  start += length;
  engine.NextFreeExtent(&start, &length);
  EXPECT_EQ(start, dataStart + (cCluster - 1));
  // The map covers every cluster the volume has (the 16-bit sector count
  // of a small volume included), up to the last whole cluster.
  EXPECT_EQ(start + length, dataStart + g.clusterCount);
  EXPECT_LE(start + length, partition);
  start = partition + 5;
  engine.NextFreeExtent(&start, &length);
  EXPECT_EQ(start, partition);
  EXPECT_EQ(length, 0u);
}

INSTANTIATE_TEST_SUITE_P(Widths, FatFreeSpace, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

// Boot sectors laid out by hand: the FAT12/16 root directory is as long as
// its entry count, the 16-bit sector count counts, and fields out of range
// are refused before anything divides by them.
TEST(FatBootSector, GeometryAndRangeChecks) {
  auto boot = [](uint16_t bps, uint8_t spc, uint16_t reserved, uint8_t fats, uint16_t rootEntries,
                 uint16_t total16, uint16_t fatSize16, uint32_t total32) {
    std::vector<uint8_t> b(512, 0);
    std::memcpy(&b[11], &bps, 2);
    b[13] = spc;
    std::memcpy(&b[14], &reserved, 2);
    b[16] = fats;
    std::memcpy(&b[17], &rootEntries, 2);
    std::memcpy(&b[19], &total16, 2);
    std::memcpy(&b[22], &fatSize16, 2);
    std::memcpy(&b[32], &total32, 4);
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
  };
  FatGeometry g;
  // A 1.44 MB floppy: 224 root entries are 14 sectors, so cluster 2 is at 33.
  auto floppy = boot(512, 1, 1, 2, 224, 2880, 9, 0);
  ASSERT_EQ(ParseFatBootSector(floppy.data(), floppy.size(), g), 0);
  EXPECT_EQ(g.type, FatType::kFat12);
  EXPECT_EQ(g.rootDirSectors, 14u);
  EXPECT_EQ(g.dataStart, 33u);
  EXPECT_EQ(g.totalSectors, 2880u);
  EXPECT_EQ(g.clusterCount, 2847u);

  struct Bad {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Bad bad[] = {
      {"bytes per sector 0", boot(0, 1, 1, 2, 224, 2880, 9, 0)},
      {"bytes per sector 1000", boot(1000, 1, 1, 2, 224, 2880, 9, 0)},
      {"sectors per cluster 0", boot(512, 0, 1, 2, 224, 2880, 9, 0)},
      {"sectors per cluster 3", boot(512, 3, 1, 2, 224, 2880, 9, 0)},
      {"no FATs", boot(512, 1, 1, 0, 224, 2880, 9, 0)},
      {"no reserved sector", boot(512, 1, 0, 2, 224, 2880, 9, 0)},
      {"no sectors", boot(512, 1, 1, 2, 224, 0, 9, 0)},
      {"FATs past the end", boot(512, 1, 1, 2, 224, 2880, 2000, 0)},
      {"no root entries", boot(512, 1, 1, 2, 0, 2880, 9, 0)},
      {"FAT32 root cluster 0", boot(512, 1, 32, 2, 0, 0, 0, 200000)},
  };
  for (const Bad& c : bad) EXPECT_NE(ParseFatBootSector(c.bytes.data(), c.bytes.size(), g), 0) << c.what;
}

TEST_F(FatDamagedVolume, TruncatedImageOpensOrFailsCleanly) {
  FatImageBuilder b(dir_ / "cut.img", 32, 40960, 1);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.AddFile("X.TXT", "x"));
  ASSERT_TRUE(b.Delete("X.TXT"));
  // Keep the boot sector and part of the first FAT only.
  fs::resize_file(b.image(), 64 * 1024);
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 1), 0);
  // The root directory lies past the end: the scan fails instead of
  // reporting an empty volume.
  EXPECT_EQ(engine.Scan(nullptr), err::kReadFault);
  EXPECT_EQ(engine.RecordCount(), 0u);
  fs::resize_file(b.image(), 100);
  CFastFatRecovery tooShort;
  tooShort.SetContext(test::TestContext());
  EXPECT_NE(tooShort.OpenImage(b.image().string(), 1), 0);
}


// All warnings of the engine as one text, for looking up what they say.
std::string WarningText(const IFileRecoveryParse& engine) {
  std::string text;
  for (const std::string& w : engine.ScanWarnings()) text += w + "\n";
  return text;
}

// A FAT32 boot sector whose root cluster is 0: the volume opens (its
// clusters can still be searched), and the scan fails with a code and says
// what is damaged and where to go on, instead of reporting an empty volume.
TEST_F(FatDamagedVolume, RootClusterZeroIsReportedWithTheWayOn) {
  FatImageBuilder b(dir_ / "noroot.img", 32, 40960, 1);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.AddFile("A.TXT", "a"));
  ASSERT_TRUE(b.Delete("A.TXT"));
  {
    FatTestImage image(b.image());
    for (int i = 0; i < 4; ++i) image.Byte(44 + i) = 0;
    image.Save();
  }
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  ASSERT_EQ(engine.OpenImage(b.image().string(), 1), 0);
  EXPECT_EQ(engine.Scan(nullptr), err::kDiskCorrupt);
  EXPECT_EQ(engine.RecordCount(), 0u);
  const std::string text = WarningText(engine);
  EXPECT_NE(text.find("root folder"), std::string::npos) << text;
  EXPECT_NE(text.find("deep scan"), std::string::npos) << text;
  // The free space a deep scan would search is still handed out.
  uint64_t start = 0, length = 0;
  engine.NextFreeExtent(&start, &length);
  EXPECT_GT(length, 0u);
}

// A 16 MiB FAT16 image cut to 300 KB: what lies in the part that is left is
// listed as before, and the scan says how much of the volume is missing.
TEST_F(FatDamagedVolume, ImageCutShortSaysHowMuchIsMissing) {
  FatImageBuilder b(dir_ / "cut16.img", 16, 16384, 4);
  ASSERT_TRUE(b.Create());
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(b.AddFile("F" + std::to_string(i) + ".TXT", test::MakeContent(1000, 70 + i)));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(b.Delete("F" + std::to_string(i) + ".TXT"));
  fs::resize_file(b.image(), 300 * 1024);
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  const auto all = ScanImage(engine, b.image());
  EXPECT_EQ(all.size(), 4u) << ::testing::PrintToString(Paths(all));
  const std::string text = WarningText(engine);
  EXPECT_NE(text.find("past the end"), std::string::npos) << text;
  EXPECT_NE(text.find("16.0 MiB"), std::string::npos) << text;
  EXPECT_NE(text.find("300 KiB"), std::string::npos) << text;
  EXPECT_NE(text.find("15.7 MiB are missing"), std::string::npos) << text;

  // The whole image says nothing of the kind.
  FatImageBuilder whole(dir_ / "whole.img", 16, 16384, 4);
  ASSERT_TRUE(whole.Create());
  CFastFatRecovery intact;
  intact.SetContext(test::TestContext());
  ScanImage(intact, whole.image());
  EXPECT_TRUE(intact.ScanWarnings().empty()) << WarningText(intact);
}

}  // namespace
}  // namespace qm
