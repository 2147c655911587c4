// A volume whose boot sector, $MFT and $Bitmap claim far more than the image
// holds: a 64 MiB image whose boot sector declares 64 TiB, whose $MFT run
// list goes on for a further 1 TiB past the image, and whose $Bitmap run
// list maps 4 GiB. The quick scan and the deep scan must size what they keep
// by the image, say what is wrong, and finish promptly; they run in a child
// process whose address space is capped 1 GiB above what it already uses, so
// an allocation sized by the claims ends the child instead of passing
// unnoticed.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "engines/deep/professional_recovery.h"
#include "engines/engine_factory.h"
#include "engines/engine_test_context.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "ntfs_fixture.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

constexpr uint64_t kImageBytes = 64ull << 20;
constexpr uint64_t kClusterBytes = 4096;
constexpr uint64_t kMftCluster = 4;
constexpr uint64_t kBitmapCluster = 100;

// 4 KiB clusters, 1 KiB records; the $MFT's first 16 records at cluster 4,
// the rest of it (2^28 clusters) at cluster 2^20, 4 GiB into the volume.
fs::path ClaimingImage(const fs::path& path) {
  std::string image(kImageBytes, '\0');
  auto put = [&](uint64_t at, const std::vector<uint8_t>& bytes) {
    std::memcpy(image.data() + at, bytes.data(), bytes.size());
  };
  std::vector<uint8_t> boot(512, 0);
  std::memcpy(boot.data() + 3, "NTFS    ", 8);
  PutLe(boot, 0x0B, 512, 2);
  boot[0x0D] = kClusterBytes / 512;
  PutLe(boot, 0x28, (64ull << 40) / 512, 8);  // 64 TiB
  PutLe(boot, 0x30, kMftCluster, 8);
  boot[0x40] = 0xF6;
  boot[510] = 0x55;
  boot[511] = 0xAA;
  put(0, boot);
  const uint64_t mft = kMftCluster * kClusterBytes;
  put(mft, RecordBuilder(0, 0x01)
               .Add(NonResidentAttribute({.runList = {0x11, 4, kMftCluster, 0x34, 0, 0, 0, 0x10, 0xFC, 0xFF, 0x0F, 0},
                                          .dataSize = ((1ull << 28) + 4) * kClusterBytes}))
               .Build());
  // $Bitmap: 2^20 clusters from cluster 100, 4 GiB of bits.
  put(mft + 6 * 1024, RecordBuilder(6, 0x01)
                          .Add(NonResidentAttribute({.runList = {0x23, 0x00, 0x00, 0x10, kBitmapCluster, 0x00, 0},
                                                     .dataSize = 4ull << 30}))
                          .Build());
  put(mft + 12 * 1024, RecordBuilder(12)
                           .Add(ResidentAttribute(0x30, FileNameValue(5, u"kept.txt")))
                           .Add(ResidentAttribute(0x80, {'h', 'e', 'l', 'l', 'o'}))
                           .Build());
  // Clusters 0..4 (boot sector and $MFT) in use; the rest free.
  image[kBitmapCluster * kClusterBytes] = 0x1F;
  WriteBytes(path, image);
  return path;
}

// The child's address space may grow by 1 GiB at most from here.
void CapAddressSpace() {
  std::ifstream status("/proc/self/status");
  std::string line;
  uint64_t kib = 0;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0) kib = std::strtoull(line.c_str() + 7, nullptr, 10);
  const rlimit limit{(kib << 10) + (1ull << 30), RLIM_INFINITY};
  if (kib == 0 || setrlimit(RLIMIT_AS, &limit) != 0) {
    std::fprintf(stderr, "could not cap the address space\n");
    std::_Exit(2);
  }
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// What went wrong, one line each; empty when all is well.
std::string QuickScanProblems(const fs::path& image) {
  std::ostringstream problems;
  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  if (int rc = engine.OpenImage(image.string(), 1); rc != 0) return "open: " + std::to_string(rc);
  const auto started = std::chrono::steady_clock::now();
  if (int rc = engine.Scan(nullptr); rc != 0) problems << "scan: " << rc << "\n";
  // Only the 16 records in the image are read; a scan that stepped through
  // the 2^30 claimed past it would take minutes.
  if (std::chrono::steady_clock::now() - started > std::chrono::seconds(60))
    problems << "the scan took more than a minute\n";
  std::vector<FoundFileRecord> root;
  engine.ListChildren(nullptr, 0, root);
  if (root.size() != 1 || root[0].Name() != "kept.txt") problems << "kept.txt is not listed alone\n";
  if (int rc = engine.BuildClusterBitmap(); rc != 0) problems << "bitmap: " << rc << "\n";
  uint64_t start = 0, length = 0;
  engine.NextFreeExtent(&start, &length);
  const uint64_t sectors = kImageBytes / 512;
  if (start != 5 * kClusterBytes / 512 || length != sectors - start)
    problems << "free space " << start << "+" << length << ", not 40 to the end of the image\n";
  const std::string warnings = Joined(engine.ScanWarnings());
  for (const char* said : {"The volume is 64.0 TiB long", "holds only 64.0 MiB",
                           "The allocation bitmap ($Bitmap) claims 4.0 GiB"})
    if (warnings.find(said) == std::string::npos) problems << "no warning \"" << said << "\" in:\n" << warnings;
  return problems.str();
}

std::string DeepScanProblems(const fs::path& image, const fs::path& dataDir) {
  std::ostringstream problems;
  ScanHistory history(dataDir);
  EngineContext context;
  context.history = &history;
  int error = 0;
  std::unique_ptr<IFileRecoveryParse> engine =
      EngineFactory::CreateEngineForImage(image.string(), 1, true, &error, context);
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  if (deep == nullptr) return "no deep engine: " + std::to_string(error);
  if (int rc = deep->Scan(nullptr); rc != 0) problems << "scan: " << rc << "\n";
  if (!deep->FreeSpaceOnly()) problems << "the free space was not taken from the bitmap\n";
  std::vector<FoundFileRecord> root;
  deep->ListChildren(nullptr, 0, root);
  bool kept = false;
  for (const FoundFileRecord& r : root) kept |= r.Name() == "kept.txt";
  if (!kept) problems << "kept.txt is not listed\n";
  const std::string warnings = Joined(deep->ScanWarnings());
  for (const char* said : {"The volume is 64.0 TiB long", "The allocation bitmap ($Bitmap) claims 4.0 GiB"})
    if (warnings.find(said) == std::string::npos) problems << "no warning \"" << said << "\" in:\n" << warnings;
  return problems.str();
}

void ExitWith(const std::string& problems) {
  std::fputs(problems.c_str(), stderr);
  std::fflush(stderr);
  std::_Exit(problems.empty() ? 0 : 1);
}

class NtfsDeclaredSizeTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  TempDir dir_;
};

TEST_F(NtfsDeclaredSizeTest, QuickScanSizesByTheImageNotTheClaims) {
  const fs::path image = ClaimingImage(dir_ / "claims.img");
  EXPECT_EXIT(
      {
        CapAddressSpace();
        ExitWith(QuickScanProblems(image));
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(NtfsDeclaredSizeTest, DeepScanSizesByTheImageNotTheClaims) {
  const fs::path image = ClaimingImage(dir_ / "claims.img");
  const fs::path data = dir_ / "ScanLog";
  EXPECT_EXIT(
      {
        CapAddressSpace();
        ExitWith(DeepScanProblems(image, data));
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qm::test
