#include "engines/engine_factory.h"

#include <gtest/gtest.h>
#include <typeinfo>

#include "engines/engine_test_context.h"
#include "engines/carving/file_type_recovery.h"
#include "engines/deep/fat/professional_fat_recovery.h"
#include "engines/deep/ntfs/professional_ntfs_recovery.h"
#include "engines/deep/professional_recovery.h"
#include "engines/fast_ext_recovery.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

void MakeExt4(const fs::path& image) {
  ASSERT_EQ(test::Run("truncate -s 8M " + test::Quote(image.string()) +
                      " && PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F " +
                      test::Quote(image.string())),
            0);
}

// No quick engine reads EXT: the one the factory gives opens the volume and
// says so when asked to scan it, instead of passing for a scan that found
// nothing.
TEST(EngineFactory, ExtInQuickModeOpensButCannotBeScanned) {
  TempDir dir;
  const auto image = dir / "ext.img";
  MakeExt4(image);
  auto engine = EngineFactory::CreateEngineForImage(image.string(), 1, false,
      nullptr, test::TestContext());
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(dynamic_cast<CFastExtRecovery*>(engine.get()), nullptr);
  EXPECT_EQ(engine->Scan(nullptr), err::kNotSupported);
  EXPECT_EQ(engine->RecordCount(), 0u);
  std::vector<FoundFileRecord> children;
  EXPECT_EQ(engine->ListChildren(nullptr, 0, children), 0);
  EXPECT_TRUE(children.empty());
}

// Engines that keep no map of free clusters, or are only driven by the deep
// pass, say so rather than answer with success and nothing.
TEST(EngineFactory, EnginesSayWhatTheyDoNotSupport) {
  std::vector<std::pair<std::string, std::unique_ptr<IFileRecoveryParse>>> engines;
  engines.emplace_back("ext quick", std::make_unique<CFastExtRecovery>());
  engines.emplace_back("carving", std::make_unique<CFileTypeRecovery>());
  engines.emplace_back("FAT deep", std::make_unique<CProfessionalFatRecovery>());
  engines.emplace_back("NTFS deep", std::make_unique<CProfessionalNtfsRecovery>());
  engines.emplace_back("combined deep", std::make_unique<CProfessionalRecovery>());
  for (auto& [name, engine] : engines) {
    uint64_t start = 0, length = 0;
    EXPECT_EQ(engine->BuildClusterBitmap(), err::kNotSupported) << name;
    EXPECT_EQ(engine->NextFreeExtent(&start, &length), err::kNotSupported) << name;
    // The combined engine scans; it only wants its volume opened first.
    if (name != "combined deep") EXPECT_EQ(engine->Scan(nullptr), err::kNotSupported) << name;
  }
}

// The combined deep scan runs over an EXT volume's quick engine as before:
// the quick pass it cannot do is no failure, and the whole volume is read.
TEST(EngineFactory, DeepScanOfExtReadsTheWholeVolumeWithoutAWarning) {
  TempDir dir;
  const auto image = dir / "ext.img";
  MakeExt4(image);
  ScanHistory history(dir / "ScanLog");
  EngineContext context;
  context.history = &history;
  int error = -1;
  auto engine = EngineFactory::CreateEngineForImage(image.string(), 1, true, &error, context);
  ASSERT_NE(engine, nullptr) << ErrorText(error);
  auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(engine->Scan(nullptr), 0);
  EXPECT_EQ(engine->ScanWarnings(), std::vector<std::string>{});
  EXPECT_EQ(deep->Position().totalDone, (8u << 20) / 512);
}

TEST(EngineFactory, UnknownOrUnreadableSourcesGiveNoQuickEngine) {
  TempDir dir;
  test::WriteBytes(dir / "zeros.img", std::string(1 << 20, '\0'));
  EXPECT_EQ(EngineFactory::CreateEngineForImage((dir / "zeros.img").string(), 1, false,
      nullptr, test::TestContext()), nullptr);
  EXPECT_EQ(EngineFactory::CreateEngineForImage((dir / "missing.img").string(), 1, false,
      nullptr, test::TestContext()), nullptr);
  test::WriteBytes(dir / "empty.img", "");
  int error = -1;
  EXPECT_EQ(EngineFactory::CreateEngineForImage((dir / "empty.img").string(), 1, false,
      &error, test::TestContext()), nullptr);
  EXPECT_EQ(error, err::kInvalidParameter);
  EXPECT_EQ(EngineFactory::CreateEngineForPartition(100000, 0, 0, 1, false,
      nullptr, test::TestContext()), nullptr);
}

// FAT allows sectors of up to 32 KiB; this program reads up to 4 KiB. Such
// a volume is still FAT, and the open error says the layout is not supported
// instead of blaming a handle or calling the data damaged.
TEST(EngineFactory, FatWithSectorsAbove4KibIsRefusedAsNotSupported) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
  TempDir dir;
  const auto image = dir / "fat8k.img";
  std::string output;
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.fat -S 8192 -C " +
                          test::Quote(image.string()) + " 4096",
                      &output),
            0)
      << output;
  int error = -1;
  EXPECT_EQ(EngineFactory::CreateEngineForImage(image.string(), 1, false,
      &error, test::TestContext()), nullptr);
  EXPECT_EQ(error, err::kNotSupported);
  EXPECT_EQ(ErrorText(error), "Operation not supported");
  std::string probe;
  ASSERT_EQ(test::Run(test::Quote(QUILLMARK_CLI_PATH) + " probe " + test::Quote(image.string()), &probe), 0)
      << probe;
  EXPECT_NE(probe.find("sectors of 8192 bytes"), std::string::npos) << probe;
  std::string scan;
  EXPECT_EQ(test::Run("QUILLMARK_DATA_DIR=" + test::Quote((dir / "data").string()) + " " +
                          test::Quote(QUILLMARK_CLI_PATH) + " scan " + test::Quote(image.string()),
                      &scan),
            1);
  EXPECT_NE(scan.find(image.string() + " cannot be opened as a volume: Operation not supported"),
            std::string::npos)
      << scan;
}

TEST(EngineFactory, PartitionsAreClassifiedAtTheirStartSector) {
  TempDir dir;
  // An ext4 volume 1 MiB into a "disk": the factory must look at the start.
  const auto volume = dir / "vol.img";
  const auto disk = dir / "disk.img";
  ASSERT_EQ(test::Run("truncate -s 8M " + test::Quote(volume.string()) +
                      " && PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F " +
                      test::Quote(volume.string())),
            0);
  test::WriteBytes(disk, std::string(1 << 20, '\0') + test::ReadBytes(volume));
  const int index = DiskTable::System().Add(disk.string());
  auto engine = EngineFactory::CreateEngineForPartition(index, 2048, 16384, 5, false,
      nullptr, test::TestContext());
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(dynamic_cast<CFastExtRecovery*>(engine.get()), nullptr);
  EXPECT_EQ(EngineFactory::CreateEngineForPartition(index, 0, 2048, 5, false,
      nullptr, test::TestContext()), nullptr);
}

}  // namespace
}  // namespace qm
