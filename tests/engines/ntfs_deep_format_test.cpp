// A filled NTFS volume quick-formatted over: the deep scan finds the old MFT
// records in the new volume's free space and gives the files back under
// their old names and folders, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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

class NtfsDeepFormatTest : public ::testing::Test {
 protected:
  std::unique_ptr<CProfessionalRecovery> Open(const fs::path& image) {
    int error = 0;
    EngineContext context;
    context.history = &history_;
    auto engine = EngineFactory::CreateEngineForImage(image.string(), 1, true, &error, context);
    EXPECT_EQ(error, 0);
    auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    if (deep == nullptr) return nullptr;
    engine.release();
    return std::unique_ptr<CProfessionalRecovery>(deep);
  }

  // Every file the deep NTFS engine listed, by its path below the root.
  static std::map<std::string, FoundFileRecord> Tree(CProfessionalRecovery& engine) {
    return test::FilesByPath(
        test::ListTree(engine, {.engineKind = static_cast<uint32_t>(EngineKind::kNtfsDeep)}));
  }

  test::TempDir dir_;
  ScanHistory history_{dir_ / "ScanLog"};
};

TEST_F(NtfsDeepFormatTest, QuickFormattedVolumeGivesBackOldFilesByNameAndFolder) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  test::NtfsImageBuilder ntfs(dir_ / "ntfs.img", 32);
  ASSERT_TRUE(ntfs.Create());
  ASSERT_TRUE(ntfs.Mount());
  std::map<std::string, std::string> original;
  const std::vector<std::string> folders = {"Documents", "Documents/Reports 2019",
                                            "Photos", "Photos/A rather long folder name for holidays"};
  for (const std::string& f : folders) ASSERT_TRUE(ntfs.MakeDir(f));
  for (uint32_t i = 0; i < 60; ++i) {
    const std::string& folder = folders[i % folders.size()];
    // Small files stay inside their records, the others get clusters.
    const size_t size = i % 3 == 0 ? 300 + i : 5000 + i * 1711;
    const std::string path = folder + "/file number " + std::to_string(i) + " with a long name.bin";
    original[path] = test::MakeContent(size, 500 + i);
    ASSERT_TRUE(ntfs.AddFile(path, original[path]));
  }
  // A photo that carving finds at the same first sector as the old record.
  const std::string photo = test::JpegLike(40000, 77, {.noMarkersInside = true});
  original["Photos/beach.jpg"] = photo;
  ASSERT_TRUE(ntfs.AddFile("Photos/beach.jpg", photo));
  // A file with a hole: its middle is a sparse run, read back as zeros.
  {
    std::string sparse = test::MakeContent(8192, 91);
    sparse.resize(1 << 20, '\0');
    sparse += test::MakeContent(5000, 92);
    std::ofstream out(ntfs.MountPoint() / "Documents" / "sparse.vhd", std::ios::binary);
    out.write(sparse.data(), 8192);
    out.seekp(1 << 20);
    out.write(sparse.data() + (1 << 20), 5000);
    ASSERT_TRUE(out.good());
    original["Documents/sparse.vhd"] = sparse;
  }
  ASSERT_TRUE(ntfs.Unmount());
  const std::string format = "mkntfs -q -F -f -c 4096 -L NEW '" + ntfs.image().string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(format.c_str()), 0);

  auto engine = Open(ntfs.image());
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  const auto found = Tree(*engine);

  size_t named = 0, exact = 0;
  std::vector<std::string> missing;
  for (const auto& [path, bytes] : original) {
    const auto it = found.find(path);
    if (it == found.end()) {
      missing.push_back(path);
      continue;
    }
    ++named;
    const fs::path out = dir_ / "out" / std::to_string(named);
    ASSERT_EQ(engine->RecoverItem(it->second, out.string(), 0), 0) << path;
    exact += test::ReadBytes(out) == bytes;
  }
  // The format rewrites only the first records of the MFT, which held its
  // own files; every file of the old volume is still there.
  EXPECT_EQ(named, original.size()) << "first missing: " << (missing.empty() ? "" : missing[0]);
  EXPECT_EQ(exact, named);
  std::vector<FoundFileRecord> photos;
  EXPECT_GE(engine->ListByCategory("*.jpg", photos), 0);
  ASSERT_EQ(photos.size(), 1u);
  EXPECT_EQ(photos[0].Name(), "beach.jpg");
  EXPECT_EQ(uint32_t{photos[0].engineKind}, static_cast<uint32_t>(EngineKind::kNtfsDeep));
  EXPECT_EQ(uint32_t{photos[0].contentOk}, 1u);
}

// Formatted with another cluster size, filled again and formatted once more:
// the files of both earlier volumes are found, each read with the cluster
// size of the volume it belonged to. The second volume's files stay inside
// their records, so the first volume's data is overwritten only where the
// formats put their own files.
TEST_F(NtfsDeepFormatTest, VolumeFormattedTwiceGivesBackFilesOfBothEarlierVolumes) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  test::NtfsImageBuilder ntfs(dir_ / "ntfs.img", 32, "FIRST", 1024);
  ASSERT_TRUE(ntfs.Create());
  std::map<std::string, std::string> first, second;
  ASSERT_TRUE(ntfs.Mount());
  // Records the second volume reuses for its own files.
  for (uint32_t i = 0; i < 30; ++i)
    ASSERT_TRUE(ntfs.AddFile("filler " + std::to_string(i), test::MakeContent(100, i)));
  ASSERT_TRUE(ntfs.MakeDir("First"));
  for (uint32_t i = 0; i < 20; ++i) {
    const std::string path = "First/first file " + std::to_string(i) + ".dat";
    first[path] = test::MakeContent(3000 + i * 2500, 100 + i);
    ASSERT_TRUE(ntfs.AddFile(path, first[path]));
  }
  ASSERT_TRUE(ntfs.Unmount());
  auto format = [&](int clusterBytes) {
    const std::string command = "mkntfs -q -F -f -c " + std::to_string(clusterBytes) + " '" +
                                ntfs.image().string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
  };
  format(4096);
  ASSERT_TRUE(ntfs.Mount());
  ASSERT_TRUE(ntfs.MakeDir("Second"));
  for (uint32_t i = 0; i < 20; ++i) {
    const std::string path = "Second/second file " + std::to_string(i) + ".txt";
    second[path] = test::MakeContent(300 + i, 200 + i);
    ASSERT_TRUE(ntfs.AddFile(path, second[path]));
  }
  ASSERT_TRUE(ntfs.Unmount());
  format(2048);

  auto engine = Open(ntfs.image());
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  const auto found = Tree(*engine);
  const std::string image = test::ReadBytes(ntfs.image());
  for (const auto* generation : {&first, &second}) {
    for (const auto& [path, bytes] : *generation) {
      const auto it = found.find(path);
      if (it == found.end()) {
        ADD_FAILURE() << path << " not listed";
        continue;
      }
      const fs::path out = dir_ / "out" / path;
      ASSERT_EQ(engine->RecoverItem(it->second, out.string(), 0), 0) << path;
      // A file whose bytes still lie on disk in one piece comes back whole;
      // the second volume's lie in its records.
      const bool onDisk = generation == &second || image.find(bytes) != std::string::npos;
      if (onDisk) {
        EXPECT_TRUE(test::ReadBytes(out) == bytes) << path;
      }
    }
  }
}

}  // namespace
}  // namespace qm
