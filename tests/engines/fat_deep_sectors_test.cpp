// The deep FAT engine fed directory sectors by hand: the layout it solves
// from sub-directory sightings, long names cut by a sector's end, what it
// lists and how it files folders, and what it holds on hostile input.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engines/deep/fat/fat_deep_geometry.h"
#include "engines/deep/fat/professional_fat_recovery.h"
#include "engines/fat/fat_directory_entry.h"
#include "platform/errors.h"
#include "results/log_names.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr size_t kSector = 512;
// 2020-05-10 10:31.
constexpr uint16_t kDate = ((2020 - 1980) << 9) | (5 << 5) | 10;
constexpr uint16_t kTime = (10 << 11) | (31 << 5);

TEST(FatDeepGeometryTest, SolvesOnlyRealLayoutsFromTwoSightings) {
  struct Case {
    uint32_t c1;
    uint64_t s1;
    uint32_t c2;
    uint64_t s2;
    bool solved;
    uint32_t spc, dataStart;
  };
  const Case cases[] = {
      {5, 10000, 9, 10032, true, 8, 9976},
      {9, 10032, 5, 10000, true, 8, 9976},
      {5, 10000, 6, 10003, false, 0, 0},  // 3 sectors per cluster
      {100, 50, 101, 58, false, 0, 0},    // data area before sector 0
      {5, 10032, 9, 10000, false, 0, 0},  // higher cluster at a lower sector
      {5, 10000, 5, 10064, false, 0, 0},
      {3, 1000, 4, 1256, false, 0, 0},    // 256 sectors per cluster
  };
  for (const Case& c : cases) {
    FatDeepGeometry g;
    EXPECT_EQ(SolveFatGeometry(c.c1, c.s1, c.c2, c.s2, 0, g), c.solved) << c.c1 << "@" << c.s1;
    if (!c.solved) continue;
    EXPECT_EQ(g.sectorsPerCluster, c.spc);
    EXPECT_EQ(g.dataStart, c.dataStart);
    uint32_t cluster = 0;
    ASSERT_TRUE(g.ClusterStartingAt(10016, cluster));
    EXPECT_EQ(cluster, 7u);
  }
}

std::vector<uint8_t> Short(const char name11[12], uint8_t attributes, uint32_t cluster,
                           uint32_t size) {
  std::vector<uint8_t> e(32, 0);
  std::memcpy(e.data(), name11, 11);
  e[11] = attributes;
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(e.data() + at, &v, 2); };
  put16(14, kTime);
  put16(16, kDate);
  put16(18, kDate);
  put16(20, static_cast<uint16_t>(cluster >> 16));
  put16(22, kTime);
  put16(24, kDate);
  put16(26, static_cast<uint16_t>(cluster));
  std::memcpy(e.data() + 28, &size, 4);
  return e;
}

// The long-name entries of `name` for the short name, last piece first.
std::vector<std::vector<uint8_t>> LongName(const std::u16string& name, const char name11[12]) {
  const uint8_t sum = ShortNameChecksum(reinterpret_cast<const uint8_t*>(name11));
  std::u16string units = name;
  units.push_back(u'\0');
  while (units.size() % 13) units.push_back(u'\xFFFF');
  const size_t pieces = units.size() / 13;
  std::vector<std::vector<uint8_t>> out;
  for (size_t k = pieces; k-- > 0;) {
    std::vector<uint8_t> e(32, 0);
    e[0] = static_cast<uint8_t>((k + 1) | (k + 1 == pieces ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = sum;
    const size_t at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (size_t i = 0; i < 13; ++i) std::memcpy(e.data() + at[i], &units[k * 13 + i], 2);
    out.push_back(e);
  }
  return out;
}

class FatDeepSectorsTest : public ::testing::Test {
 protected:
  static constexpr uint64_t kImageSectors = 10200;

  void SetUp() override { image_.assign(kImageSectors * kSector, 0); }

  // Entries laid from `sector` on, 16 to a sector.
  void Put(uint64_t sector, const std::vector<std::vector<uint8_t>>& entries) {
    size_t at = sector * kSector;
    for (const auto& e : entries) {
      std::memcpy(image_.data() + at, e.data(), 32);
      at += 32;
    }
  }
  static std::vector<std::vector<uint8_t>> DotPair(uint32_t self, uint32_t parent) {
    return {Short(".          ", 0x10, self, 0), Short("..         ", 0x10, parent, 0)};
  }
  const uint8_t* At(uint64_t sector) const { return image_.data() + sector * kSector; }

  std::unique_ptr<CProfessionalFatRecovery> Open(const std::string& resumeLog = "") {
    const fs::path path = dir_ / "disk.img";
    if (resumeLog.empty()) test::WriteBytes(path, std::string(image_.begin(), image_.end()));
    auto engine = std::make_unique<CProfessionalFatRecovery>();
    EngineContext context;
    context.scanFolder = dir_ / "scan";
    fs::create_directories(context.scanFolder);
    engine->SetContext(context);
    EXPECT_EQ(engine->OpenImage(path.string(), 1), 0);
    EXPECT_EQ(engine->BeginDeepScan(resumeLog), 0);
    return engine;
  }

  // Path -> record of everything listed; a folder's path ends in '/'.
  static std::map<std::string, FoundFileRecord> Listed(CProfessionalFatRecovery& engine) {
    std::map<std::string, FoundFileRecord> out;
    for (const test::ListedRecord& item : test::ListTree(engine, {.maxDepth = 8}))
      out[item.path + (item.record.isDirectory ? "/" : "")] = item.record;
    return out;
  }

  test::TempDir dir_;
  std::vector<uint8_t> image_;
};

TEST_F(FatDeepSectorsTest, RebuildsFoldersNamesAndContentFromStraySectors) {
  // Cluster 5 at sector 10,000: a folder no entry names any more.
  std::vector<std::vector<uint8_t>> first = DotPair(5, 0);
  std::vector<uint8_t> gone = Short("?EMO    TXT", 0x20, 30, 10);
  gone[0] = 0xE5;
  first.push_back(gone);
  first.push_back(Short("RO      TXT", 0x01, 31, 10));  // not an archived file
  first.push_back(Short("SUB        ", 0x10, 9, 0));
  for (int i = 0; i < 8; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "F%d      TXT", i);
    first.push_back(Short(name, 0x20, 40 + i, 1));
  }
  // A long name whose short entry opens the next sector.
  const char* straddler = "ALONGN~1TXT";
  for (auto& e : LongName(u"A long name straddling.txt", straddler)) first.push_back(e);
  ASSERT_EQ(first.size(), 16u);
  Put(10000, first);
  Put(10001, {Short(straddler, 0x20, 50, 3)});
  // Cluster 9 at 10,032: "SUB" inside cluster 5, holding a file at cluster 20.
  auto sub = DotPair(9, 5);
  sub.push_back(Short("INNER   TXT", 0x20, 20, 600));
  Put(10032, sub);
  // Cluster 7 at 10,016: another unnamed folder.
  auto other = DotPair(7, 0);
  other.push_back(Short("LOST    TXT", 0x20, 60, 5));
  Put(10016, other);
  const std::string content = test::MakeContent(600, 9);
  std::memcpy(image_.data() + (9976 + 18 * 8) * kSector, content.data(), content.size());

  auto engine = Open();
  engine->OnDotClusterSector(At(10000), kSector, 10000);
  engine->OnDirectorySector(At(10001), kSector, 10001);
  engine->OnDotClusterSector(At(10032), kSector, 10032);
  ASSERT_EQ(engine->geometries().size(), 1u);
  EXPECT_EQ(engine->geometries()[0].sectorsPerCluster, 8u);
  EXPECT_EQ(engine->geometries()[0].dataStart, 9976u);
  engine->OnDotClusterSector(At(10016), kSector, 10016);
  EXPECT_EQ(engine->geometries().size(), 1u);  // placed by the layout already solved
  ASSERT_EQ(engine->FinishDeepScan(), 0);

  std::map<std::string, FoundFileRecord> listed = Listed(*engine);
  for (const char* path : {"LostFolder5/", "LostFolder5/!emo.txt", "LostFolder5/f0.txt",
                           "LostFolder5/f7.txt", "LostFolder5/A long name straddling.txt",
                           "LostFolder5/sub/", "LostFolder5/sub/inner.txt", "LostFolder7/",
                           "LostFolder7/lost.txt"})
    EXPECT_TRUE(listed.count(path)) << path;
  EXPECT_FALSE(listed.count("LostFolder5/ro.txt"));
  EXPECT_EQ(listed.size(), 15u);

  const FoundFileRecord& inner = listed["LostFolder5/sub/inner.txt"];
  const uint32_t firstCluster = inner.entryId, clusterBytes = inner.clusterBytes;
  EXPECT_EQ(firstCluster, 20u);
  EXPECT_EQ(clusterBytes, 8 * kSector);
  uint64_t at1031 = 0;
  ASSERT_TRUE(FatDateTimeToFileTime(kDate, kTime, 0, at1031));
  EXPECT_EQ(uint64_t{inner.writeTime}, at1031);
  const fs::path out = dir_ / "inner.txt";
  ASSERT_EQ(engine->RecoverItem(inner, out.string(), 0), 0);
  EXPECT_EQ(test::ReadBytes(out), content);
}

// Two folders, at clusters 5 and 7, each with a full first cluster, and two
// later clusters 12 and 14 that open no folder and that no long name or
// ".." ties to one. Clusters were handed out in rising order, so a later
// cluster grew from a folder whose files all lie before its own. Where
// that leaves one folder, or a short name tells them apart, each later
// cluster is listed in its folder; where nothing does, it is a lost folder
// of its own, never dropped.
TEST_F(FatDeepSectorsTest, LaterClustersOfAFolderAreJoinedWhereTheEvidenceAllows) {
  struct Case {
    const char* what;
    bool secondFull;              // folder 7's first cluster is full too
    const char* nameIn12;         // a short name in cluster 12
    const char* nameInFolder5;    // the last name of folder 5's cluster
    const char* nameInFolder7;
    const char* expect12, *expect14;  // where their files are listed
  };
  const Case cases[] = {
      {"one folder full", false, "NEW     TXT", "LAST5   TXT", "LAST7   TXT", "LostFolder5/new.txt",
       nullptr},
      {"a ~2 name whose ~1 is in one folder", true, "REPORT~2TXT", "REPORT~1TXT", "LAST7   TXT",
       "LostFolder5/report~2.txt", "LostFolder7/later.txt"},
      {"a name the other folder holds", true, "NOTES   TXT", "LAST5   TXT", "NOTES   TXT",
       "LostFolder5/notes.txt", "LostFolder7/later.txt"},
      {"nothing tells them apart", true, "NEW     TXT", "LAST5   TXT", "LAST7   TXT",
       "LostFolder12/new.txt", "LostFolder14/later.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    fs::remove_all(dir_ / "scan");  // the previous case's logs
    // Clusters 3 and 4 give the layout (8 sectors a cluster, cluster 2 at
    // sector 9976) before the folders that matter are met.
    Put(9984, DotPair(3, 0));
    Put(9992, DotPair(4, 0));
    auto fill = [&](uint64_t first, uint32_t self, uint32_t fileCluster, const char* last, bool full) {
      auto entries = DotPair(self, 0);
      entries.push_back(Short("FIRST   TXT", 0x20, fileCluster, 10));
      Put(first, entries);
      std::vector<std::vector<uint8_t>> end(full ? 16 : 1, Short("PAD     TXT", 0x20, 0, 0));
      for (size_t i = 0; i < end.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "P%02d%u    TXT", static_cast<int>(i), self);
        end[i] = Short(name, 0x20, fileCluster, 10);
      }
      end.back() = Short(last, 0x20, fileCluster + 1, 10);
      Put(first + 7, end);
    };
    fill(10000, 5, 8, c.nameInFolder5, true);
    fill(10016, 7, 10, c.nameInFolder7, c.secondFull);
    Put(10056, {Short(c.nameIn12, 0x20, 13, 10)});          // cluster 12
    Put(10072, {Short("LATER   TXT", 0x20, 15, 10)});       // cluster 14

    auto engine = Open();
    for (uint64_t sector : {9984, 9992}) engine->OnDotClusterSector(At(sector), kSector, sector);
    for (uint64_t sector : {10000, 10016}) {
      engine->OnDotClusterSector(At(sector), kSector, sector);
      engine->OnDirectorySector(At(sector + 7), kSector, sector + 7);
    }
    engine->OnDirectorySector(At(10056), kSector, 10056);
    engine->OnDirectorySector(At(10072), kSector, 10072);
    ASSERT_EQ(engine->FinishDeepScan(), 0);
    std::map<std::string, FoundFileRecord> listed = Listed(*engine);
    EXPECT_TRUE(listed.count(c.expect12)) << c.expect12;
    if (c.expect14) {
      EXPECT_TRUE(listed.count(c.expect14)) << c.expect14;
    }
    size_t laterFiles = 0;
    for (const auto& [path, record] : listed)
      laterFiles += path.ends_with("/later.txt") ? 1 : 0;
    EXPECT_EQ(laterFiles, 1u);  // listed once, wherever it is
  }
}

TEST_F(FatDeepSectorsTest, FoldersWhoseParentLinksLoopStillEnd) {
  // Clusters 5 and 9 name each other as parent.
  auto a = DotPair(5, 9);
  a.push_back(Short("A       TXT", 0x20, 30, 10));
  Put(10000, a);
  auto b = DotPair(9, 5);
  b.push_back(Short("B       TXT", 0x20, 31, 10));
  Put(10032, b);
  auto engine = Open();
  engine->OnDotClusterSector(At(10000), kSector, 10000);
  engine->OnDotClusterSector(At(10032), kSector, 10032);
  ASSERT_EQ(engine->FinishDeepScan(), 0);
  EXPECT_GE(engine->RecordCount(), 2u);
}

TEST_F(FatDeepSectorsTest, HoldsBoundedStateOnADiskFullOfUnplaceableSectors) {
  // Every sighting names the same cluster, so no layout can be solved; each
  // sector's files must wait, and the waiting is capped.
  std::vector<std::vector<uint8_t>> sectors;
  for (int i = 0; i < 60; ++i) {
    auto s = DotPair(5, 0);
    char name[12];
    std::snprintf(name, sizeof name, "N%-7dTXT", i);
    s.push_back(Short(name, 0x20, 100 + i, 10));
    Put(100 + i * 64, s);
  }
  // Plain directory sectors that begin no known cluster.
  for (int i = 0; i < 60; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "P%-7dTXT", i);
    Put(5000 + i * 3, {Short(name, 0x20, 300 + i, 10)});
  }
  auto engine = Open();
  CProfessionalFatRecovery::Limits limits;
  limits.pendingFiles = 8;
  limits.unplacedSectors = 8;
  engine->SetLimits(limits);
  for (int i = 0; i < 60; ++i) engine->OnDotClusterSector(At(100 + i * 64), kSector, 100 + i * 64);
  for (int i = 0; i < 60; ++i) engine->OnDirectorySector(At(5000 + i * 3), kSector, 5000 + i * 3);
  EXPECT_LE(engine->pendingFiles(), 8u);
  EXPECT_LE(engine->keptSectors(), 8u);
  ASSERT_EQ(engine->FinishDeepScan(), 0);
  // Every waiting file is written with its name, though no layout places it.
  std::map<std::string, FoundFileRecord> listed = Listed(*engine);
  EXPECT_TRUE(listed.count("LostFolder5/n0.txt"));
  EXPECT_TRUE(listed.count("LostFolder5/n59.txt"));
  EXPECT_FALSE(engine->ScanWarnings().empty());
}

// A scan that died after writing files but before writing their folders,
// then resumed (twice): the folders appear, each once. The entry naming
// "SUB" was parsed before the crash, so the folder comes back unnamed.
TEST_F(FatDeepSectorsTest, ResumedScanWritesTheFoldersOfEarlierFilesOnce) {
  auto a = DotPair(5, 0);
  a.push_back(Short("SUB        ", 0x10, 9, 0));
  a.push_back(Short("A       TXT", 0x20, 30, 10));
  Put(10000, a);
  auto b = DotPair(9, 5);
  b.push_back(Short("INNER   TXT", 0x20, 31, 10));
  Put(10032, b);
  {
    auto engine = Open();
    engine->OnDotClusterSector(At(10000), kSector, 10000);
    engine->OnDotClusterSector(At(10032), kSector, 10032);
    ASSERT_EQ(engine->FlushLog(), 0);
  }
  const std::string log = FindScanLogName(dir_ / "scan", kFatDeepLogPrefix);
  ASSERT_FALSE(log.empty());
  for (int run = 0; run < 2; ++run) {
    auto engine = Open(log);
    ASSERT_EQ(engine->FinishDeepScan(), 0);
    std::vector<FoundFileRecord> root;
    ASSERT_EQ(engine->ListChildren(nullptr, 0, root), 0);
    ASSERT_EQ(root.size(), 1u) << "run " << run;
    EXPECT_EQ(root[0].Name(), "LostFolder5");
    std::map<std::string, FoundFileRecord> listed = Listed(*engine);
    EXPECT_TRUE(listed.count("LostFolder5/a.txt"));
    EXPECT_TRUE(listed.count("LostFolder5/LostFolder9/inner.txt"));
    EXPECT_EQ(listed.size(), 4u);
  }
}

// Directory sectors with their fields scrambled: long-name chains without
// ends, clusters past the disk, sizes far beyond it, parents anywhere. The
// engine must neither read outside the disk nor loop; what it lists it can
// be asked to recover.
TEST_F(FatDeepSectorsTest, ScrambledDirectorySectorsNeverReadOutOfBoundsOrHang) {
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  std::vector<uint64_t> fed;
  for (uint64_t sector = 9000; sector < 10150; sector += 1 + next() % 3) {
    std::vector<std::vector<uint8_t>> entries;
    if (next() % 4 == 0) entries = DotPair(2 + next() % 40000, next() % 3 == 0 ? 0 : next());
    while (entries.size() < 16) {
      switch (next() % 4) {
        case 0:
          for (auto& e : LongName(u"scrambled long name of a file.txt", "SCRAMB~1TXT"))
            if (entries.size() < 16 && next() % 3 != 0) entries.push_back(e);
          break;
        case 1: entries.push_back(Short("SCRAMB~1TXT", 0x20, next(), next() << 8)); break;
        case 2: entries.push_back(Short("FOLDER     ", 0x10, next() % 70000, 0)); break;
        default: {
          std::vector<uint8_t> e = Short("DELETED BIN", 0x20, next() % 70000, next() % 100000);
          e[0] = 0xE5;
          entries.push_back(e);
        }
      }
    }
    entries.resize(16);
    Put(sector, entries);
    fed.push_back(sector);
  }
  auto engine = Open();
  for (uint64_t sector : fed) {
    if (IsDotClusterStart(At(sector), At(sector) + 32))
      engine->OnDotClusterSector(At(sector), kSector, sector);
    else
      engine->OnDirectorySector(At(sector), kSector, sector);
  }
  ASSERT_EQ(engine->FinishDeepScan(), 0);
  std::map<std::string, FoundFileRecord> listed = Listed(*engine);
  int tried = 0;
  for (auto& [path, record] : listed) {
    if (record.isDirectory || ++tried > 40) continue;
    engine->RecoverItem(record, (dir_ / "out" / std::to_string(tried)).string(), 0);
  }
  EXPECT_GT(tried, 0);
}

}  // namespace
}  // namespace qm
