// The NTFS quick scan on real volumes made by mkntfs and damaged at test
// time: a $MFT that cannot be mapped, a volume cut short, and folders whose
// parent references lead round in a loop. Each damage is said in the scan's
// warnings, and what is listed, counted and recovered agrees.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engines/engine_test_context.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "platform/errors.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

uint64_t Le(const std::string& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

void SetLe(std::string& b, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// Byte offsets of a fresh mkntfs volume's $MFT and record size.
struct MftPlace {
  size_t start = 0;
  size_t recordBytes = 1024;
};

MftPlace FindMft(const std::string& image) {
  const uint64_t bytesPerSector = Le(image, 0x0B, 2);
  const uint64_t clusterBytes = bytesPerSector * static_cast<uint8_t>(image[0x0D]);
  const int8_t recordField = static_cast<int8_t>(image[0x40]);
  MftPlace p;
  p.start = static_cast<size_t>(Le(image, 0x30, 8) * clusterBytes);
  p.recordBytes = recordField < 0 ? size_t{1} << -recordField : recordField * clusterBytes;
  return p;
}

// Offset of the run list of record 0's unnamed $DATA (it lies in the
// record's first sector, away from the update sequence words).
size_t MftDataRunList(const std::string& image) {
  const MftPlace p = FindMft(image);
  size_t at = p.start + Le(image, p.start + 0x14, 2);
  while (at + 8 < p.start + p.recordBytes) {
    const uint32_t type = static_cast<uint32_t>(Le(image, at, 4));
    const uint32_t length = static_cast<uint32_t>(Le(image, at + 4, 4));
    if (type == 0xFFFFFFFF || length == 0) break;
    if (type == 0x80 && image[at + 9] == 0) return at + Le(image, at + 0x20, 2);
    at += length;
  }
  return 0;
}

std::string WarningText(const IFileRecoveryParse& engine) {
  std::string text;
  for (const std::string& w : engine.ScanWarnings()) text += w + "\n";
  return text;
}

class NtfsDamagedVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_SKIP_IF_MISSING(test::MissingMkntfs());
    GetScanHistory().Load(ScanLogFolder());
    GetScanHistory().StartNewScanFolder();
  }
  TempDir dir_;
};

// The $MFT's own run list damaged in three ways, and the image cut short:
// each says what is wrong; where no record can be read the scan fails with
// a code that says so.
TEST_F(NtfsDamagedVolume, DamageToTheMftOrTheImageIsSaid) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    int scanResult;
    std::vector<const char*> said;
  };
  const std::vector<Case> cases = {
      {"runs past the end",
       [](std::string& b) {
         const size_t runs = MftDataRunList(b);
         // 64 clusters at cluster 0x7FFFFFFF: far past a 16 MiB volume.
         const char pair[] = {0x41, 0x40, char(0xFF), char(0xFF), char(0xFF), 0x7F, 0x00};
         std::memcpy(&b[runs], pair, sizeof pair);
       },
       err::kDiskCorrupt, {"$MFT's run list", "deep scan"}},
      {"run list garbage",
       [](std::string& b) { b[MftDataRunList(b)] = char(0xFF); },
       err::kDiskCorrupt, {"$MFT's run list", "deep scan"}},
      {"record 0 overwritten",
       [](std::string& b) { std::memset(&b[FindMft(b).start], 0x5A, 512); },
       err::kDiskCorrupt, {"$MFT's first record", "deep scan"}},
      {"cut short", [](std::string& b) { b.resize(b.size() - 2 * 1024 * 1024); }, 0,
       {"past the end", "16.0 MiB", "2.0 MiB are missing"}},
  };
  NtfsImageBuilder b(dir_ / "clean.img", 16);
  ASSERT_TRUE(b.Create());
  const std::string clean = ReadBytes(b.image());
  ASSERT_NE(MftDataRunList(clean), 0u);
  for (const Case& c : cases) {
    std::string bytes = clean;
    c.damage(bytes);
    const fs::path image = dir_ / (std::string(c.what) + ".img");
    WriteBytes(image, bytes);
    CFastNtfsRecovery engine;
    engine.SetContext(test::TestContext());
    ASSERT_EQ(engine.OpenImage(image.string(), 1), 0) << c.what;
    EXPECT_EQ(engine.Scan(nullptr), c.scanResult) << c.what;
    const std::string text = WarningText(engine);
    for (const char* part : c.said) EXPECT_NE(text.find(part), std::string::npos) << c.what << ": " << text;
  }
  CFastNtfsRecovery intact;
  intact.SetContext(test::TestContext());
  ASSERT_EQ(intact.OpenImage(b.image().string(), 1), 0);
  EXPECT_EQ(intact.Scan(nullptr), 0);
  EXPECT_TRUE(intact.ScanWarnings().empty()) << WarningText(intact);
}

// Every record the engine wrote, and the files reached from the root
// through ListChildren, and the root's file count.
struct Reach {
  uint64_t filesInLog = 0;
  uint64_t filesListed = 0;
  uint32_t filesCounted = 0;
  std::vector<std::string> rootNames;
};

Reach WalkFromRoot(CFastNtfsRecovery& engine) {
  Reach r;
  ScanLogStore* log = const_cast<ScanLogStore*>(engine.log());
  for (uint32_t i = 1; i <= engine.RecordCount(); ++i) {
    FoundFileRecord record;
    EXPECT_EQ(log->ReadRecord(i, record), 0);
    if (!record.isDirectory) ++r.filesInLog;
  }
  for (const ListedRecord& item : ListTree(engine)) {
    if (item.depth == 0) r.rootNames.push_back(item.record.Name());
    if (!item.record.isDirectory) ++r.filesListed;
  }
  EXPECT_EQ(engine.CountFiles(nullptr, 0, &r.filesCounted), 0);
  return r;
}

// Two deleted folders made each other's parent: the files under them are
// listed, counted and recovered alike, under a lost folder in the root.
TEST_F(NtfsDamagedVolume, FoldersThatAreEachOthersParentEndUpUnderALostFolder) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  NtfsImageBuilder b(dir_ / "loop.img", 16);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.Mount());
  std::vector<std::string> contents;
  for (int i = 0; i < 5; ++i) {
    contents.push_back(MakeContent(3000 + 500 * i, 40 + i));
    ASSERT_TRUE(b.AddFile("loopone/looptwo/f" + std::to_string(i) + ".bin", contents.back()));
  }
  ASSERT_TRUE(b.AddFile("loopone/g.bin", MakeContent(2000, 50)));
  ASSERT_TRUE(b.AddFile("kept.txt", "live"));
  ASSERT_TRUE(b.Delete("loopone"));
  ASSERT_TRUE(b.Unmount());

  // Find both folders' records by their names and point loopone's parent
  // reference at looptwo's record.
  std::string bytes = ReadBytes(b.image());
  const MftPlace mft = FindMft(bytes);
  auto nameOf = [](const char* ascii) {
    std::string utf16;
    for (const char* p = ascii; *p; ++p) utf16 += std::string{*p, '\0'};
    return utf16;
  };
  // The record whose own $FILE_NAME attribute holds `name` (index entries
  // of a parent folder carry the same bytes and are passed over).
  auto recordNamed = [&](const char* name, size_t& fileNameValue) -> int64_t {
    const std::string wanted = nameOf(name);
    for (size_t at = mft.start; at + mft.recordBytes <= bytes.size() && at < mft.start + 512 * mft.recordBytes;
         at += mft.recordBytes) {
      if (bytes.compare(at, 4, "FILE") != 0) continue;
      size_t attribute = at + Le(bytes, at + 0x14, 2);
      while (attribute + 0x18 < at + 510) {
        const uint64_t type = Le(bytes, attribute, 4);
        const uint64_t length = Le(bytes, attribute + 4, 4);
        if (type == 0xFFFFFFFF || length < 0x18) break;
        if (type == 0x30 && bytes[attribute + 8] == 0) {
          const size_t value = attribute + Le(bytes, attribute + 0x14, 2);
          if (value + 0x42 + wanted.size() < at + 510 &&
              static_cast<uint8_t>(bytes[value + 0x40]) == std::strlen(name) &&
              bytes.compare(value + 0x42, wanted.size(), wanted) == 0) {
            fileNameValue = value;
            return static_cast<int64_t>(Le(bytes, at + 0x2C, 4));
          }
        }
        attribute += length;
      }
    }
    return -1;
  };
  size_t oneValue = 0, twoValue = 0;
  const int64_t one = recordNamed("loopone", oneValue);
  const int64_t two = recordNamed("looptwo", twoValue);
  ASSERT_GT(one, 0);
  ASSERT_GT(two, 0);
  ASSERT_EQ(Le(bytes, twoValue, 6), static_cast<uint64_t>(one));
  SetLe(bytes, oneValue, static_cast<uint64_t>(two), 6);
  WriteBytes(b.image(), bytes);

  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 1), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  const Reach r = WalkFromRoot(engine);
  EXPECT_EQ(r.filesInLog, 6u);
  EXPECT_EQ(r.filesListed, r.filesInLog);
  EXPECT_EQ(r.filesCounted, r.filesInLog);
  bool lostFolder = false;
  for (const std::string& name : r.rootNames) lostFolder |= name.rfind("LostFolder", 0) == 0;
  EXPECT_TRUE(lostFolder) << ::testing::PrintToString(r.rootNames);
  EXPECT_NE(WarningText(engine).find("LostFolder"), std::string::npos) << WarningText(engine);

  // Recovering the whole root writes exactly the files listed, byte-exact.
  const fs::path out = dir_ / "out";
  std::vector<FoundFileRecord> top;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, top), 0);
  for (const FoundFileRecord& item : top) ASSERT_EQ(engine.RecoverItem(item, (out / item.Name()).string(), 0), 0);
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(out))
    if (entry.is_regular_file()) written.push_back(ReadBytes(entry.path()));
  EXPECT_EQ(written.size(), r.filesListed);
  for (const std::string& content : contents)
    EXPECT_NE(std::find(written.begin(), written.end(), content), written.end());
}

}  // namespace
}  // namespace qm::test
