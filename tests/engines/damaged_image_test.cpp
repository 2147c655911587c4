// Real volumes with bytes of their metadata overwritten at random, standing
// in for failing disks: whatever they hold, a scan, a listing, previews and a
// recovery of everything found all end, stay inside their buffers (the
// sanitizers watch every run) and write nothing outside the chosen folder.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "engines/engine_test_context.h"
#include "engines/engine_factory.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

void Corrupt(const fs::path& image, uint64_t regionStart, uint64_t regionBytes, uint32_t seed) {
  std::string bytes = test::ReadBytes(image);
  std::mt19937 rng(seed);
  const uint64_t end = std::min<uint64_t>(bytes.size(), regionStart + regionBytes);
  // Some runs scatter single bytes, others smash whole 32-byte runs (an
  // entry or an attribute header at a time).
  const bool runs = seed % 2 == 0;
  for (int i = 0; i < 48; ++i) {
    const uint64_t at = regionStart + rng() % (end - regionStart);
    const int length = runs ? 32 : 1;
    for (int k = 0; k < length && at + k < end; ++k) bytes[at + k] = static_cast<char>(rng());
  }
  test::WriteBytes(image, bytes);
}

// Scans, walks the tree, previews and recovers every file; returns how many
// records were visited.
size_t Exercise(const fs::path& image, const fs::path& destination) {
  GetScanHistory().StartNewScanFolder();
  auto engine = EngineFactory::CreateEngineForImage(image.string(), 3, false,
      nullptr, test::TestContext());
  if (!engine) return 0;
  engine->Scan(nullptr);
  size_t visited = 0;
  std::set<uint64_t> seen;
  std::vector<std::pair<FoundFileRecord, uint32_t>> pending;  // folder, depth of its children
  std::vector<FoundFileRecord> items;
  engine->ListChildren(nullptr, 0, items);
  uint32_t depth = 0;
  for (;;) {
    for (const auto& r : items) {
      if (++visited > 5000) return visited;
      if (r.isDirectory) {
        if (depth < 64 && seen.insert((uint64_t{depth + 1} << 32) | r.entryId).second)
          pending.push_back({r, depth + 1});
        continue;
      }
      std::string path;
      engine->GetFullPath(r, path);
      engine->RecoverItem(r, (destination / std::to_string(r.recordIndex)).string(), 0);
      uint8_t buffer[4096];
      uint32_t size = sizeof buffer;
      std::string previewPath;
      engine->ExtractForPreview(r, previewPath, buffer, &size, nullptr, nullptr);
    }
    if (pending.empty()) break;
    auto [folder, folderDepth] = pending.back();
    pending.pop_back();
    items.clear();
    depth = folderDepth;
    engine->ListChildren(&folder, folderDepth, items);
    uint32_t count = 0;
    engine->CountFiles(&folder, folderDepth, &count);
  }
  std::vector<FoundFileRecord> listed;
  engine->ListByCategory("*.txt|*.jpg|*.other", listed);
  return visited;
}

// Everything the runs wrote must lie in the destination or the scan logs.
void ExpectNothingOutside(const TempDir& dir, const std::set<std::string>& allowed) {
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_TRUE(allowed.count(entry.path().filename().string())) << entry.path();
}

TEST(DamagedImages, FatMetadataGarbageNeverCrashesOrEscapes) {
  TempDir dir;
  const fs::path pristine = dir / "pristine.img";
  test::FatImageBuilder fat(pristine, 16, 16384, 1);
  ASSERT_TRUE(fat.Create());
  for (int i = 0; i < 12; ++i)
    ASSERT_TRUE(fat.AddFile("dir" + std::to_string(i % 3) + "/sub/file" + std::to_string(i) +
                                (i % 2 ? ".txt" : ".jpg"),
                            test::MakeContent(3000 + 700 * i, i)));
  ASSERT_TRUE(fat.DeleteTree("dir1"));
  ASSERT_TRUE(fat.Delete("dir0/sub/file0.jpg"));
  const fs::path image = dir / "damaged.img";
  const fs::path destination = dir / "out";
  size_t visited = 0;
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    fs::copy_file(pristine, image, fs::copy_options::overwrite_existing);
    // Boot sector, both FATs, the root directory and the first folders.
    Corrupt(image, seed % 3 == 0 ? 0 : 512, 160 * 1024, seed);
    visited += Exercise(image, destination);
  }
  EXPECT_GT(visited, 0u);
  ExpectNothingOutside(dir, {"ScanLog", "pristine.img", "pristine.img.files", "damaged.img", "out"});
}

TEST(DamagedImages, NtfsMftGarbageNeverCrashesOrEscapes) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  TempDir dir;
  const fs::path pristine = dir / "pristine.img";
  {
    test::NtfsImageBuilder ntfs(pristine, 16);
    ASSERT_TRUE(ntfs.Create());
    ASSERT_TRUE(ntfs.Mount());
    for (int i = 0; i < 12; ++i)
      ASSERT_TRUE(ntfs.AddFile("dir" + std::to_string(i % 3) + "/file" + std::to_string(i) +
                                   (i % 2 ? ".txt" : ".bin"),
                               test::MakeContent(i % 4 ? 200 : 20000 + 1000 * i, i)));
    ASSERT_TRUE(ntfs.Delete("dir1"));
    ASSERT_TRUE(ntfs.Delete("dir0/file0.bin"));
    ASSERT_TRUE(ntfs.Unmount());
  }
  // The $MFT's first cluster, from the boot sector.
  const std::string boot = test::ReadBytes(pristine).substr(0, 512);
  auto u64 = [&](size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(boot[at + i]);
    return v;
  };
  const uint64_t clusterBytes = (static_cast<uint8_t>(boot[11]) | static_cast<uint8_t>(boot[12]) << 8) *
                                static_cast<uint64_t>(static_cast<uint8_t>(boot[13]));
  const uint64_t mft = u64(48) * clusterBytes;
  const fs::path image = dir / "damaged.img";
  const fs::path destination = dir / "out";
  size_t visited = 0;
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    fs::copy_file(pristine, image, fs::copy_options::overwrite_existing);
    // Records past the system files, where the test's files and folders are
    // (record 64 onwards), and now and then the system records themselves.
    const uint64_t from = seed % 4 == 0 ? mft : mft + 64 * 1024;
    Corrupt(image, from, 64 * 1024, seed);
    visited += Exercise(image, destination);
  }
  EXPECT_GT(visited, 0u);
  ExpectNothingOutside(dir, {"ScanLog", "pristine.img", "pristine.img.mnt", "damaged.img", "out"});
}

}  // namespace
}  // namespace qm
