// One disk, three lives: a FAT32 volume full of files, quick-formatted as
// NTFS, filled again and quick-formatted as NTFS once more, with a picture
// in free space that no file system ever knew. The deep scan gives back the
// files of both old file systems under their names and folders, lists a
// file that an engine and carving both found only once, and sends every
// copy-out to the engine that found the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "engines/deep/professional_recovery.h"
#include "engines/engine_factory.h"
#include "results/scan_history.h"
#include "support/jpeg_fixture.h"
#include "support/record_tree.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSector = 512;

// Nothing inside the body looks like a marker.
std::string Jpeg(size_t bytes, uint32_t seed) { return test::JpegLike(bytes, seed, {.noMarkersInside = true}); }

uint32_t Kind(EngineKind kind) { return static_cast<uint32_t>(kind); }

// The disk, built and scanned once for every test of the suite.
struct CrossFormattedDisk {
  test::TempDir dir;
  ScanHistory history{dir / "ScanLog"};
  std::unique_ptr<CProfessionalRecovery> engine;
  std::map<std::string, std::string> fatFiles, ntfsFiles;
  bool ntfsFilled = false;
  std::string stray;
  uint64_t straySector = 0;
  std::string image;  // the bytes as scanned
};

class DeepCrossFormatTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy") || !test::HaveTool("mkntfs"))
      return;
    disk_ = new CrossFormattedDisk;
    Build(*disk_);
  }
  static void TearDownTestSuite() {
    delete disk_;
    disk_ = nullptr;
  }
  void SetUp() override {
    if (disk_ == nullptr) GTEST_SKIP() << "mkfs.fat, mtools or mkntfs missing";
    ASSERT_TRUE(disk_->engine) << "the disk could not be built or scanned";
  }

  static void Build(CrossFormattedDisk& d) {
    // The FAT32 volume: long names, nested folders, one picture. Folders
    // stay within one 1 KiB cluster, so each is found whole.
    const fs::path tree = d.dir / "tree";
    auto add = [&](const std::string& path, const std::string& content) {
      fs::create_directories((tree / path).parent_path());
      test::WriteBytes(tree / path, content);
      d.fatFiles[path] = content;
    };
    add("Camera Roll/Holiday by the sea.jpg", Jpeg(30000, 1));
    add("Camera Roll/Evening at the harbour.txt", test::MakeContent(3000, 2));
    add("Letters/A letter to the bank.txt", test::MakeContent(2500, 3));
    add("Letters/Old drafts/First draft of the speech.txt", test::MakeContent(7000, 4));
    add("Letters/Old drafts/Second draft, shorter.txt", test::MakeContent(1200, 5));
    add("Projects/2019/Budget spreadsheet export.csv", test::MakeContent(9000, 6));
    add("Projects/2019/Notes from the kick-off.txt", test::MakeContent(400, 7));
    test::FatImageBuilder fat(d.dir / "disk.img", 32, 72000, 2);
    if (!fat.Create()) return;
    if (test::Run("cd " + test::Quote(tree.string()) + " && MTOOLS_SKIP_CHECK=1 mcopy -s -i " +
                  test::Quote(fat.image().string()) + " * ::/ 2>&1") != 0) {
      ADD_FAILURE() << "mcopy failed";
      return;
    }
    const std::string format =
        "mkntfs -q -F -f -c 4096 " + test::Quote(fat.image().string()) + " >/dev/null 2>&1";
    if (test::Run(format) != 0) {
      ADD_FAILURE() << "mkntfs failed";
      return;
    }
    // The NTFS volume in its turn gets files, then is formatted over.
    if (test::CanMountFuse()) {
      test::NtfsImageBuilder ntfs(fat.image(), 0);
      if (!ntfs.Mount()) return;
      for (uint32_t i = 0; i < 6; ++i) {
        const std::string path = "Reports/Quarterly report number " + std::to_string(i) + ".dat";
        d.ntfsFiles[path] = test::MakeContent(5000 + i * 1000, 20 + i);
      }
      d.ntfsFiles["Pictures/Sunset over the hills.jpg"] = Jpeg(25000, 30);
      for (const auto& [path, bytes] : d.ntfsFiles)
        if (!ntfs.AddFile(path, bytes)) return;
      if (!ntfs.Unmount() || test::Run(format) != 0) return;
      d.ntfsFilled = true;
    }
    // A picture in clusters no file system ever used.
    d.image = test::ReadBytes(fat.image());
    d.stray = Jpeg(12000, 40);
    d.straySector = d.image.size() / kSector * 3 / 4 / 8 * 8;
    d.image.replace(d.straySector * kSector, d.stray.size(), d.stray);
    test::WriteBytes(fat.image(), d.image);

    int error = 0;
    EngineContext context;
    context.history = &d.history;
    auto made = EngineFactory::CreateEngineForImage(fat.image().string(), 1, true, &error, context);
    auto* deep = dynamic_cast<CProfessionalRecovery*>(made.get());
    if (deep == nullptr || error != 0) {
      ADD_FAILURE() << "no deep engine for the image: " << error;
      return;
    }
    made.release();
    std::unique_ptr<CProfessionalRecovery> engine(deep);
    if (engine->Scan(nullptr) != 0) {
      ADD_FAILURE() << "the deep scan failed";
      return;
    }
    d.engine = std::move(engine);
  }

  // Every file of one engine kind in the merged tree, by its path.
  static std::map<std::string, FoundFileRecord> Tree(uint32_t kind) {
    std::vector<test::ListedRecord> listed = test::ListTree(*disk_->engine);
    std::erase_if(listed, [&](const test::ListedRecord& item) { return item.record.engineKind != kind; });
    return test::FilesByPath(listed);
  }

  // The record of `path`, or of the same path under a lost top folder (the
  // entry that named the folder may be gone with the old root).
  static const FoundFileRecord* Find(const std::map<std::string, FoundFileRecord>& found,
                                     const std::string& path) {
    if (auto it = found.find(path); it != found.end()) return &it->second;
    const std::string rest = path.substr(path.find('/') + 1);
    for (const auto& [listed, record] : found)
      if (listed.rfind("LostFolder", 0) == 0 && listed.substr(listed.find('/') + 1) == rest)
        return &record;
    return nullptr;
  }

  std::string Recover(const FoundFileRecord& record) {
    const fs::path out = disk_->dir / "out" / std::to_string(recovered_++);
    EXPECT_EQ(disk_->engine->RecoverItem(record, out.string(), 0), 0) << record.Name();
    return fs::exists(out) ? test::ReadBytes(out) : std::string("<missing>");
  }

  static CrossFormattedDisk* disk_;
  static inline int recovered_ = 0;
};

CrossFormattedDisk* DeepCrossFormatTest::disk_ = nullptr;

TEST_F(DeepCrossFormatTest, FilesOfBothOldFileSystemsComeBackByNameAndFolder) {
  struct Generation {
    const char* what;
    const std::map<std::string, std::string>* files;
    EngineKind kind;
  };
  std::vector<Generation> generations{{"FAT", &disk_->fatFiles, EngineKind::kFatDeep}};
  if (disk_->ntfsFilled) generations.push_back({"NTFS", &disk_->ntfsFiles, EngineKind::kNtfsDeep});
  for (const Generation& g : generations) {
    const auto found = Tree(Kind(g.kind));
    for (const auto& [path, bytes] : *g.files) {
      // Bytes the later volumes wrote over cannot come back; a file whose
      // bytes still lie on the disk must, under its name, whole.
      const bool survives = disk_->image.find(bytes) != std::string::npos;
      const FoundFileRecord* record = Find(found, path);
      if (record == nullptr) {
        EXPECT_FALSE(survives) << g.what << " file not listed: " << path;
        continue;
      }
      const std::string back = Recover(*record);
      if (survives) {
        EXPECT_TRUE(back == bytes) << g.what << " bytes differ: " << path;
      }
    }
  }
  if (!disk_->ntfsFilled) GTEST_SKIP() << test::kNeedsNtfs3g << " mounts for the NTFS files (the FAT part ran)";
}

// Each picture lies where its file system put it, so carving finds it at the
// same first sector: it is listed once, from the engine that knows its name.
// The stray one only carving knows.
TEST_F(DeepCrossFormatTest, PictureFoundByAnEngineAndByCarvingIsListedOnce) {
  std::vector<FoundFileRecord> photos;
  EXPECT_GE(disk_->engine->ListByCategory("*.jpg", photos), 0);
  std::map<std::string, uint32_t> kinds;
  for (const FoundFileRecord& r : photos)
    EXPECT_TRUE(kinds.emplace(r.Name(), uint32_t{r.engineKind}).second) << "listed twice: " << r.Name();
  std::map<std::string, uint32_t> expected{
      {"Holiday by the sea.jpg", Kind(EngineKind::kFatDeep)},
      {std::to_string(disk_->straySector) + ".jpg", Kind(EngineKind::kCarving)}};
  if (disk_->ntfsFilled) expected["Sunset over the hills.jpg"] = Kind(EngineKind::kNtfsDeep);
  EXPECT_EQ(kinds, expected);

  // The count of the root is the files the merged tree holds: the carved
  // copies that were left out of the listing are not counted either.
  uint32_t count = 0;
  ASSERT_EQ(disk_->engine->CountFiles(nullptr, 0, &count), 0);
  const auto listed = test::ListTree(*disk_->engine);
  const auto walked = std::count_if(listed.begin(), listed.end(),
                                    [](const test::ListedRecord& item) { return !item.record.isDirectory; });
  EXPECT_EQ(count, static_cast<uint32_t>(walked));
}

// A copy-out of each engine's file goes to that engine: the named FAT and
// NTFS files by their records, the carved picture by its sectors; a preview
// of a picture arrives as a file, of a text in the caller's buffer.
TEST_F(DeepCrossFormatTest, RecoveryAndPreviewAreServedByTheEngineThatFoundTheFile) {
  const auto fat = Tree(Kind(EngineKind::kFatDeep));
  const auto ntfs = Tree(Kind(EngineKind::kNtfsDeep));
  const auto carved = Tree(Kind(EngineKind::kCarving));
  struct Case {
    const FoundFileRecord* record;
    std::string bytes;
  };
  std::vector<Case> cases{
      {Find(fat, "Camera Roll/Holiday by the sea.jpg"), disk_->fatFiles.at("Camera Roll/Holiday by the sea.jpg")},
      {Find(fat, "Letters/Old drafts/First draft of the speech.txt"),
       disk_->fatFiles.at("Letters/Old drafts/First draft of the speech.txt")},
      {Find(carved, std::to_string(disk_->straySector) + ".jpg"), disk_->stray}};
  if (disk_->ntfsFilled) {
    cases.push_back({Find(ntfs, "Pictures/Sunset over the hills.jpg"),
                     disk_->ntfsFiles.at("Pictures/Sunset over the hills.jpg")});
    cases.push_back({Find(ntfs, "Reports/Quarterly report number 3.dat"),
                     disk_->ntfsFiles.at("Reports/Quarterly report number 3.dat")});
  }
  for (const Case& c : cases) {
    ASSERT_NE(c.record, nullptr);
    const std::string name = c.record->Name();
    EXPECT_TRUE(Recover(*c.record) == c.bytes) << name;

    std::string outPath;
    std::vector<uint8_t> buffer(c.bytes.size() + 100);
    uint32_t size = static_cast<uint32_t>(buffer.size());
    ASSERT_EQ(disk_->engine->ExtractForPreview(*c.record, outPath, buffer.data(), &size, nullptr,
                                               nullptr),
              0)
        << name;
    const std::string preview = outPath.empty()
                                    ? std::string(reinterpret_cast<const char*>(buffer.data()), size)
                                    : test::ReadBytes(outPath);
    EXPECT_TRUE(preview == c.bytes) << name;
    EXPECT_EQ(name.ends_with(".jpg"), !outPath.empty()) << name;
  }
  // A named file's folders come from the engine that found it.
  std::string path;
  ASSERT_EQ(disk_->engine->GetFullPath(*cases[1].record, path), 0);
  EXPECT_TRUE(path.ends_with("Letters/Old drafts/")) << path;
}

}  // namespace
}  // namespace qm
