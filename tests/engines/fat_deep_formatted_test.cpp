// Quick-formatted FAT volumes through the combined deep scan: the files of
// the old volume come back under their old names and folders, byte for byte.
#include <gtest/gtest.h>

#include <map>

#include "engines/deep/professional_recovery.h"
#include "engines/engine_factory.h"
#include "platform/errors.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct Layout {
  int bits;
  uint64_t sizeKiB;
  int sectorsPerCluster;
};

// mtools refuses to write to a FAT32 volume of fewer clusters than FAT32
// is meant for, hence its larger image.
class FatDeepFormattedTest : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy"))
      GTEST_SKIP() << "mkfs.fat or mtools missing";
  }

  // The old volume's tree, written to the host first and copied in at once.
  void Fill(const fs::path& image) {
    const fs::path tree = dir_ / "tree";
    auto add = [&](const std::string& path, size_t bytes, uint32_t seed) {
      fs::create_directories((tree / path).parent_path());
      const std::string content = test::MakeContent(bytes, seed);
      test::WriteBytes(tree / path, content);
      files_[path] = content;
    };
    add("Documents/Résumé de l'été.txt", 5000, 1);
    add("Documents/Отчёт о работе за год.txt", 12000, 2);
    add("Documents/写真アルバムの説明.txt", 700, 3);
    add("Documents/Ελληνικά κείμενα/Παραλία στη Νάξο.txt", 33000, 4);
    add("Photos/2023/Summer holiday/beach at noon.bin", 70000, 5);
    add("Photos/2023/Summer holiday/short.txt", 10, 6);  // an 8.3 name, no long name
    add("a/b/c/d/deep inside the tree.dat", 4100, 7);
    add("empty folder neighbour/zero length.txt", 0, 8);
    // More long names than one cluster of entries holds.
    for (int i = 0; i < 40; ++i)
      add("Many/a rather long file name number " + std::to_string(i) + ".txt",
          300 + 97 * static_cast<size_t>(i), 100 + i);
    ASSERT_EQ(test::Run("cd " + test::Quote(tree.string()) +
                        " && LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -s -i " +
                        test::Quote(image.string()) + " * ::/ 2>&1"),
              0);
  }

  // Every file of the merged listing by its path from the root.
  void Walk(CProfessionalRecovery& engine, const FoundFileRecord* folder, uint32_t depth,
            const std::string& prefix, std::map<std::string, FoundFileRecord>& out) {
    std::vector<FoundFileRecord> records;
    ASSERT_EQ(engine.ListChildren(folder, depth, records), 0);
    for (const FoundFileRecord& r : records) {
      if (r.engineKind != static_cast<uint32_t>(EngineKind::kFatDeep)) continue;
      const std::string path = prefix + r.Name();
      if (r.isDirectory) {
        if (depth < 16) Walk(engine, &r, depth + 1, path + "/", out);
      } else {
        out[path] = r;
      }
    }
  }

  test::TempDir dir_;
  ScanHistory history_{dir_ / "ScanLog"};
  std::map<std::string, std::string> files_;
};

TEST_P(FatDeepFormattedTest, OldFilesComeBackByNameAndPathAfterQuickFormat) {
  const Layout layout = GetParam();
  test::FatImageBuilder fat(dir_ / "card.img", layout.bits, layout.sizeKiB,
                            layout.sectorsPerCluster);
  ASSERT_TRUE(fat.Create());
  Fill(fat.image());
  if (HasFatalFailure()) return;
  ASSERT_EQ(test::Run("mkfs.fat -F " + std::to_string(layout.bits) + " -s " +
                      std::to_string(layout.sectorsPerCluster) + " -n NEWCARD " +
                      test::Quote(fat.image().string()) + " >/dev/null"),
            0);

  int error = 0;
  EngineContext context;
  context.history = &history_;
  auto made = EngineFactory::CreateEngineForImage(fat.image().string(), 1, true, &error, context);
  ASSERT_EQ(error, 0);
  auto* engine = dynamic_cast<CProfessionalRecovery*>(made.get());
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), 0);

  std::map<std::string, FoundFileRecord> found;
  Walk(*engine, nullptr, 0, "", found);
  int exact = 0;
  for (const auto& [path, content] : files_) {
    // The format cleared the root, and with it the names of the top folders:
    // their contents are filed under "LostFolder<cluster>". The folder that
    // outgrew its first cluster is the same: with the FAT gone only its
    // first cluster is known as the folder's, the rest is a lost folder.
    auto it = found.find(path);
    const std::string rest = path.substr(path.find('/') + 1);
    for (auto f = found.begin(); it == found.end() && f != found.end(); ++f) {
      const size_t slash = f->first.find('/');
      if (f->first.rfind("LostFolder", 0) == 0 && f->first.substr(slash + 1) == rest) it = f;
    }
    if (it == found.end()) {
      ADD_FAILURE() << "not listed: " << path;
      continue;
    }
    const fs::path out = dir_ / "out" / std::to_string(exact);
    ASSERT_EQ(engine->RecoverItem(it->second, out.string(), 0), 0) << path;
    if (test::ReadBytes(out) == content) ++exact;
    else ADD_FAILURE() << "bytes differ: " << path;
  }
  EXPECT_EQ(exact, static_cast<int>(files_.size()));
}

INSTANTIATE_TEST_SUITE_P(Fat16And32, FatDeepFormattedTest,
                         ::testing::Values(Layout{16, 16 * 1024, 4}, Layout{32, 72000, 2}));

}  // namespace
}  // namespace qm
