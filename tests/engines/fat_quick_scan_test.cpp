// The FAT quick scan on real FAT12, FAT16 and FAT32 images made by mkfs.fat
// and mtools: what it finds is compared with The Sleuth Kit's listing of the
// same image, and what it recovers with the files that were written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engines/engine_test_context.h"
#include "engines/fat/fast_fat_recovery.h"
#include "fat_test_image.h"
#include "platform/errors.h"
#include "platform/user_folders.h"
#include "results/scan_history.h"
#include "platform/text.h"
#include "support/jpeg_fixture.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::FatImageBuilder;
using test::FatTestImage;

using Found = test::ListedRecord;

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream in(path);
  for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
  return parts;
}

// The first character of a deleted short name is lost: this scan shows it as
// '!', The Sleuth Kit as '_', and the original had a letter there.
bool SameName(std::string a, std::string b) {
  a = LowerUtf8(a);
  b = LowerUtf8(b);
  if (a == b) return true;
  auto lost = [](const std::string& s) { return !s.empty() && (s[0] == '!' || s[0] == '_'); };
  return (lost(a) || lost(b)) && !a.empty() && !b.empty() && a.substr(1) == b.substr(1);
}

bool SamePath(const std::string& ours, const std::string& other) {
  const auto a = Components(ours), b = Components(other);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameName(a[i], b[i])) return false;
  return true;
}

// Deleted regular files that `fls -rd -p` lists, outside $OrphanFiles.
std::vector<std::string> FlsDeletedFiles(const fs::path& image) {
  std::string out;
  EXPECT_EQ(test::Run("fls -rd -p " + test::Quote(image.string()), &out), 0) << out;
  std::vector<std::string> files;
  // "r/r * 342:<TAB>folder/name": a file's type ends in "/r", '*' marks it deleted.
  std::stringstream in(out);
  for (std::string text; std::getline(in, text);) {
    const size_t tab = text.find('\t');
    if (tab == std::string::npos) continue;
    const std::string head = text.substr(0, tab), path = text.substr(tab + 1);
    const size_t space = head.find(' ');
    if (space < 2 || head.compare(space - 2, 2, "/r") != 0 || head.find(" * ") != space) continue;
    if (!path.starts_with("$OrphanFiles")) files.push_back(path);
  }
  return files;
}

const Found* FindPath(const std::vector<Found>& all, const std::string& path) {
  for (const Found& f : all)
    if (SamePath(f.path, path)) return &f;
  return nullptr;
}

std::string Recover(CFastFatRecovery& engine, const FoundFileRecord& r, const fs::path& to,
                    int* result = nullptr) {
  const int rc = engine.RecoverItem(r, to.string(), 0);
  if (result) *result = rc;
  else EXPECT_EQ(rc, 0) << r.Name();
  return fs::exists(to) ? test::ReadBytes(to) : std::string("<missing>");
}

class FatQuickScan : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy") || !test::HaveTool("fls"))
      GTEST_SKIP() << "mkfs.fat, mtools or sleuthkit missing";
  }
  test::TempDir dir_;
};

// Sizes that give each FAT width with 512-byte clusters.
uint64_t ImageKiB(int bits) { return bits == 12 ? 2048 : bits == 16 ? 16384 : 40960; }

TEST_P(FatQuickScan, FindsWhatFlsListsAndRecoversTheOriginals) {
  const int bits = GetParam();
  FatImageBuilder b(dir_ / "vol.img", bits, ImageKiB(bits), 1);
  ASSERT_TRUE(b.Create());
  const std::string longName = "a very long file name that goes on and on and on.bin";
  // Written in this order; the three frag_ files last, so that frag_d.bin
  // (below) lies in the gap frag_b.bin leaves and right after frag_c.bin.
  const std::vector<std::pair<std::string, std::string>> files = {
      {"keep/live.txt", test::MakeContent(700, 1)},
      {"keep/Gone Photo.jpg", test::JpegLike(2000, 2, {.endOfImage = false})},
      {"Résumé ünïcode.txt", test::MakeContent(900, 3)},
      {longName, test::MakeContent(3000, 4)},
      {"tree/sub/deep/file1.bin", test::MakeContent(1200, 5)},
      {"tree/sub/file2.txt", test::MakeContent(600, 6)},
      {"tree/file3.doc", test::MakeContent(800, 7)},
      {"noarch.txt", test::MakeContent(300, 8)},
      {"UPPER.TXT", test::MakeContent(400, 9)},
      {"empty.txt", ""},
      {"frag_a.bin", test::MakeContent(1500, 10)},
      {"frag_b.bin", test::MakeContent(1500, 11)},
      {"frag_c.bin", test::MakeContent(1500, 12)},
  };
  std::map<std::string, std::string> written(files.begin(), files.end());
  for (const auto& [path, content] : files) ASSERT_TRUE(b.AddFile(path, content)) << path;
  // frag_d goes into the gap frag_b left and on after frag_c: two pieces.
  ASSERT_TRUE(b.Delete("frag_b.bin"));
  {
    FatTestImage image(b.image());
    ASSERT_TRUE(image.ok());
    image.ForgetNextFreeHint();
    image.Save();
  }
  written["frag_d.bin"] = test::MakeContent(5000, 13);
  ASSERT_TRUE(b.AddFile("frag_d.bin", written["frag_d.bin"]));
  {
    FatTestImage image(b.image());
    const size_t entry = image.FindEntry("FRAG_D  BIN");
    ASSERT_NE(entry, std::string::npos);
    ASSERT_TRUE(image.IsFragmented(image.EntryCluster(entry)));
  }
  ASSERT_TRUE(b.ClearArchiveBit("noarch.txt"));
  for (const char* path : {"keep/Gone Photo.jpg", "Résumé ünïcode.txt", longName.c_str(),
                           "noarch.txt", "UPPER.TXT", "empty.txt", "frag_d.bin"})
    ASSERT_TRUE(b.Delete(path)) << path;
  ASSERT_TRUE(b.DeleteTree("tree"));

  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 7), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  const std::vector<Found> all = test::ListTree(engine);
  EXPECT_EQ(engine.RecordCount(), all.size());

  // Where the two listings differ, and why.
  const std::map<std::string, std::string> onlyInFls = {};
  const std::vector<std::string> fls = FlsDeletedFiles(b.image());
  EXPECT_GE(fls.size(), 9u);
  for (const std::string& path : fls) {
    bool explained = false;
    for (const auto& [name, why] : onlyInFls) explained |= SamePath(name, path);
    if (explained) {
      EXPECT_EQ(FindPath(all, path), nullptr) << path;
      continue;
    }
    EXPECT_NE(FindPath(all, path), nullptr) << "fls lists " << path << ", the scan does not";
  }
  for (const Found& f : all) {
    if (f.record.isDirectory) continue;
    const bool inFls =
        std::any_of(fls.begin(), fls.end(), [&](const std::string& p) { return SamePath(f.path, p); });
    EXPECT_TRUE(inFls) << "the scan lists " << f.path << ", fls does not";
    EXPECT_EQ(uint32_t{f.record.engineKind}, 1u);
    EXPECT_EQ(uint32_t{f.record.volumeLetter}, 7);
  }

  // Live files are never reported; the deleted short name keeps its mark.
  EXPECT_EQ(FindPath(all, "keep/live.txt"), nullptr);
  EXPECT_NE(FindPath(all, "!pper.txt"), nullptr);
  const Found* photo = FindPath(all, "keep/Gone Photo.jpg");
  ASSERT_NE(photo, nullptr);
  EXPECT_EQ(uint32_t{photo->record.contentOk}, 1u);

  // Recovered bytes equal what was written, except where the clusters were
  // given to another file.
  const std::map<std::string, std::string> overwritten = {
      {"frag_b.bin", "frag_d.bin was written into its clusters"},
  };
  int compared = 0;
  for (const Found& f : all) {
    if (f.record.isDirectory) continue;
    for (const auto& [path, content] : written) {
      if (!SamePath(f.path, path) || overwritten.count(path)) continue;
      const fs::path out = dir_ / "out" / std::to_string(f.record.recordIndex);
      const std::string recovered = Recover(engine, f.record, out);
      EXPECT_TRUE(recovered == content)
          << f.path << ": " << recovered.size() << " bytes recovered of " << content.size();
      ++compared;
    }
  }
  EXPECT_EQ(compared, 10);

  // A deleted folder comes back with everything under it.
  const Found* tree = FindPath(all, "tree");
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(uint32_t{tree->record.isDeleted}, 1u);
  std::string parents;
  const Found* deep = FindPath(all, "tree/sub/deep/file1.bin");
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(engine.GetFullPath(deep->record, parents), 0);
  EXPECT_EQ(parents, "!ree/!ub/!eep/");
  ASSERT_EQ(engine.RecoverItem(tree->record, (dir_ / "tree").string(), 0), 0);
  EXPECT_TRUE(test::ReadBytes(dir_ / "tree" / "!ub" / "!eep" / "!ile1.bin") ==
              written["tree/sub/deep/file1.bin"]);
  EXPECT_TRUE(test::ReadBytes(dir_ / "tree" / "!ile3.doc") == written["tree/file3.doc"]);
}

INSTANTIATE_TEST_SUITE_P(Widths, FatQuickScan, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

}  // namespace
}  // namespace qm
