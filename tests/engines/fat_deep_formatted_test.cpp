// Quick-formatted FAT volumes through the combined deep scan: the files of
// the old volume come back under their old names and folders, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "engines/deep/professional_recovery.h"
#include "engines/engine_factory.h"
#include "platform/errors.h"
#include "results/scan_history.h"
#include "support/record_tree.h"
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
    // Deleted before the format: every piece of its long name lost its
    // order number to the deletion mark.
    add("Deleted/a deleted file with a long name.txt", 5000, 9);
    // More long names than one cluster of entries holds.
    for (int i = 0; i < 40; ++i)
      add("Many/a rather long file name number " + std::to_string(i) + ".txt",
          300 + 97 * static_cast<size_t>(i), 100 + i);
    ASSERT_EQ(test::Run("cd " + test::Quote(tree.string()) +
                        " && LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mcopy -s -i " +
                        test::Quote(image.string()) + " * ::/ 2>&1"),
              0);
    ASSERT_EQ(test::Run("LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 mdel -i " + test::Quote(image.string()) +
                        " '::/Deleted/a deleted file with a long name.txt' 2>&1"),
              0);
  }

  // Every file of the merged listing by its path from the root.
  static std::map<std::string, FoundFileRecord> Files(CProfessionalRecovery& engine) {
    return test::FilesByPath(
        test::ListTree(engine, {.engineKind = static_cast<uint32_t>(EngineKind::kFatDeep)}));
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

  std::map<std::string, FoundFileRecord> found = Files(*engine);
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

// A folder whose cluster was freed while its files' chains stayed in the
// FAT (a lost chain): the deep scan finds the folder in free space, and a
// fragmented file in it comes back whole by following its chain.
TEST_F(FatDeepFormattedTest, FragmentedFileFollowsTheChainOfASurvivingFat) {
  test::FatImageBuilder fat(dir_ / "chain.img", 16, 16 * 1024, 4);
  ASSERT_TRUE(fat.Create());
  const std::string big = test::MakeContent(9000, 21);
  ASSERT_TRUE(fat.MakeDir("D"));
  ASSERT_TRUE(fat.AddFile("D/X", test::MakeContent(3000, 22)));
  ASSERT_TRUE(fat.AddFile("D/Y", test::MakeContent(3000, 23)));
  ASSERT_TRUE(fat.Delete("D/X"));
  ASSERT_TRUE(fat.AddFile("D/BIG.BIN", big));  // fills X's gap, then goes on after Y
  std::string fatMap;
  ASSERT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mshowfat -i " + test::Quote(fat.image().string()) +
                          " ::/D ::/D/BIG.BIN",
                      &fatMap),
            0);
  ASSERT_NE(fatMap.find("> <"), std::string::npos) << "not fragmented: " << fatMap;
  const uint32_t folderCluster = static_cast<uint32_t>(std::stoul(fatMap.substr(fatMap.find('<') + 1)));

  std::string bytes = test::ReadBytes(fat.image());
  auto u16 = [&](size_t at) {
    return size_t{static_cast<uint8_t>(bytes[at])} | size_t{static_cast<uint8_t>(bytes[at + 1])} << 8;
  };
  const size_t fatStart = u16(14) * 512, fatBytes = u16(22) * 512;
  for (size_t copy = 0; copy < static_cast<uint8_t>(bytes[16]); ++copy)
    bytes.replace(fatStart + copy * fatBytes + folderCluster * 2, 2, std::string(2, '\0'));
  test::WriteBytes(fat.image(), bytes);

  int error = 0;
  EngineContext context;
  context.history = &history_;
  auto made = EngineFactory::CreateEngineForImage(fat.image().string(), 1, true, &error, context);
  auto* engine = dynamic_cast<CProfessionalRecovery*>(made.get());
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  std::map<std::string, FoundFileRecord> found = Files(*engine);
  const std::string path = "LostFolder" + std::to_string(folderCluster) + "/big.bin";
  ASSERT_TRUE(found.count(path)) << path;
  const fs::path out = dir_ / "big.bin";
  ASSERT_EQ(engine->RecoverItem(found[path], out.string(), 0), 0);
  EXPECT_TRUE(test::ReadBytes(out) == big);
}

// A folder that outgrew its first cluster names a sub-folder in a later
// cluster: that cluster is a lost folder of its own, but the sub-folder's
// ".." names the first cluster, and so do the depths its files are filed
// at. The sub-folder and its files are listed under the first cluster.
TEST_F(FatDeepFormattedTest, SubFolderNamedInALaterClusterOfItsParentKeepsItsFiles) {
  test::FatImageBuilder fat(dir_ / "grown.img", 16, 16 * 1024, 4);
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.MakeDir("Parent"));
  // 2 KiB clusters hold 64 entries: ".", "..", a name of 2 entries and 15
  // of 4 fill the first exactly (no name runs across into the second, which
  // would tie it to the first); 9 more push the sub-folder's entry into the
  // second cluster's third sector.
  ASSERT_TRUE(fat.AddFile("Parent/first one.txt", test::MakeContent(100, 50)));
  for (int i = 0; i < 24; ++i)
    ASSERT_TRUE(fat.AddFile("Parent/A file with a long name number " + std::to_string(10 + i) + ".txt",
                            test::MakeContent(100, i)));
  const std::string inside = test::MakeContent(3000, 99);
  ASSERT_TRUE(fat.AddFile("Parent/Child folder/inside the child.txt", inside));
  ASSERT_EQ(test::Run("mkfs.fat -F 16 -s 4 " + test::Quote(fat.image().string()) + " >/dev/null"), 0);

  int error = 0;
  EngineContext context;
  context.history = &history_;
  auto made = EngineFactory::CreateEngineForImage(fat.image().string(), 1, true, &error, context);
  auto* engine = dynamic_cast<CProfessionalRecovery*>(made.get());
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  std::map<std::string, FoundFileRecord> found = Files(*engine);
  std::string parent;
  for (const auto& [path, record] : found)
    if (path.ends_with("/first one.txt")) parent = path.substr(0, path.find('/'));
  ASSERT_FALSE(parent.empty()) << "the parent's first file is not listed";
  const std::string path = parent + "/Child folder/inside the child.txt";
  ASSERT_TRUE(found.count(path)) << path << " not listed";
  const fs::path out = dir_ / "inside.txt";
  ASSERT_EQ(engine->RecoverItem(found[path], out.string(), 0), 0);
  EXPECT_TRUE(test::ReadBytes(out) == inside);
}

// Cards filled the way real ones are (scripts/make_formatted_fat.py: a tree
// of folders, long names in several scripts and 8.3 names, files copied in
// random order, a few deleted), then formatted, the second one with another
// cluster size than it was filled with; and a camera card whose one folder
// of photos spans several clusters, filled in order. Every file comes back
// byte for byte under its name (a deleted 8.3 name has lost its first
// letter); on the camera card all photos lie in the one folder.
struct FilledCard {
  const char* what;
  std::string options;
  bool oneFolder;  // every file must lie in the same folder, under its own name
};

void PrintTo(const FilledCard& card, std::ostream* os) { *os << card.what; }

class FatFilledCardTest : public ::testing::TestWithParam<FilledCard> {};

TEST_P(FatFilledCardTest, EveryFileComesBackUnderItsNameAfterAFormat) {
  const FilledCard card = GetParam();
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy") || !test::HaveTool("python3"))
    GTEST_SKIP() << "mkfs.fat, mtools or python3 missing";
  test::TempDir dir;
  ASSERT_EQ(test::Run("python3 " QUILLMARK_SOURCE_DIR "/scripts/make_formatted_fat.py " +
                      test::Quote(dir.path().string()) + " " + card.options + " 2>&1"),
            0);
  struct Old {
    std::string path;
    bool deleted;
  };
  std::vector<Old> old;
  std::istringstream manifest(test::ReadBytes(dir / "manifest.tsv"));
  for (std::string line; std::getline(manifest, line);) {
    const size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
    old.push_back({line.substr(tab2 + 1), line.substr(0, tab) == "deleted"});
  }
  ASSERT_FALSE(old.empty());

  ScanHistory history(dir / "ScanLog");
  int error = 0;
  EngineContext context;
  context.history = &history;
  auto made = EngineFactory::CreateEngineForImage((dir / "volume.img").string(), 1, true, &error,
                                                  context);
  auto* engine = dynamic_cast<CProfessionalRecovery*>(made.get());
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s;
  };
  // Listed files by their name; 8.3 names are listed in lower case.
  std::multimap<std::string, std::pair<std::string, FoundFileRecord>> byName;
  for (const auto& [path, record] :
       test::FilesByPath(test::ListTree(*engine, {.engineKind = static_cast<uint32_t>(EngineKind::kFatDeep)})))
    byName.emplace(lower(path.substr(path.rfind('/') + 1)), std::pair{path, record});

  // The folder a file lies in, from below the top folder, whose name stood
  // in the formatted root.
  auto belowTop = [&](const std::string& path) {
    const size_t first = path.find('/'), last = path.rfind('/');
    return first == last ? std::string() : lower(path.substr(first, last - first));
  };
  std::set<std::string> folders;
  int n = 0, exactCount = 0, inOwnFolder = 0;
  for (const Old& file : old) {
    const std::string base = file.path.substr(file.path.rfind('/') + 1);
    std::string name = lower(base);
    // An 8.3 name is written in capitals and has no long name.
    const bool shortName = base.size() <= 12 && std::none_of(base.begin(), base.end(), [](char c) {
                             return c == ' ' || (c >= 'a' && c <= 'z');
                           });
    if (file.deleted && shortName) name[0] = '!';
    const std::string content = test::ReadBytes(dir / "tree" / file.path);
    bool exact = false;
    for (auto [it, end] = byName.equal_range(name); it != end && !exact; ++it) {
      const fs::path out = dir / "out" / std::to_string(n++);
      if (engine->RecoverItem(it->second.second, out.string(), 0) != 0) continue;
      if (test::ReadBytes(out) != content) continue;
      exact = true;
      ++exactCount;
      folders.insert(it->second.first.substr(0, it->second.first.rfind('/')));
      if (belowTop(it->second.first) == belowTop(file.path)) ++inOwnFolder;
    }
    EXPECT_TRUE(exact) << "not listed by name with its content: " << file.path;
  }
  // A later cluster that several folders could have grown into may stay a
  // lost folder of its own, but nine files in ten lie in their own folder.
  EXPECT_GE(inOwnFolder * 10, exactCount * 9) << inOwnFolder << " of " << exactCount;
  if (card.oneFolder) {
    ASSERT_EQ(folders.size(), 1u);
    const std::string folder = *folders.begin();
    const std::string want = old.front().path.substr(0, old.front().path.rfind('/'));
    // The top folder's name stood in the formatted root.
    EXPECT_EQ(lower(folder.substr(folder.find('/'))), lower(want.substr(want.find('/'))));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cards, FatFilledCardTest,
    ::testing::Values(
        FilledCard{"fat32", "--size-mib 260 --cluster 8 --files 150 --folders 8 --deleted 4", false},
        FilledCard{"fat16_other_cluster_size",
                   "--fat 16 --size-mib 16 --cluster 4 --format-cluster 8 --files 60 --folders 10 --seed 7",
                   false},
        FilledCard{"camera", "--size-mib 40 --cluster 1 --camera 40", true}),
    [](const auto& info) { return std::string(info.param.what); });

INSTANTIATE_TEST_SUITE_P(Fat16And32, FatDeepFormattedTest,
                         ::testing::Values(Layout{16, 16 * 1024, 4}, Layout{32, 72000, 2}));

}  // namespace
}  // namespace qm
