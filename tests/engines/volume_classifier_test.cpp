#include "engines/engine_test_context.h"
#include "engines/volume_classifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engines/engine_factory.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::TempDir;

void Put16(std::vector<uint8_t>& d, size_t at, uint16_t v) {
  d[at] = v & 0xFF;
  d[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = (v >> (8 * i)) & 0xFF;
}

// A BPB that passes both the FAT12/16 and the FAT32 test, with 1 reserved
// sector, one FAT of 10 sectors, no root entries and one sector per cluster,
// so that the cluster count decides which test runs first.
std::vector<uint8_t> AmbiguousFat(uint32_t clusters) {
  std::vector<uint8_t> d(kClassifyBytes, 0);
  Put16(d, 11, 512);
  d[13] = 1;
  Put16(d, 14, 1);
  d[16] = 1;
  Put16(d, 22, 10);
  Put32(d, 32, clusters + 11);
  Put32(d, 36, 10);
  std::memcpy(&d[82], "FAT32   ", 8);
  d[510] = 0x55;
  d[511] = 0xAA;
  return d;
}

TEST(VolumeClassifier, ClusterCountDecidesWhichFatTestRunsFirst) {
  auto at65524 = AmbiguousFat(65524);
  auto at65525 = AmbiguousFat(65525);
  EXPECT_EQ(ClassifyVolume(at65524.data(), at65524.size()), VolumeKind::kFat12_16);
  EXPECT_EQ(ClassifyVolume(at65525.data(), at65525.size()), VolumeKind::kFat32);
  auto huge = AmbiguousFat(0x0FFFFFF0);  // beyond any FAT32 volume
  EXPECT_EQ(ClassifyVolume(huge.data(), huge.size()), VolumeKind::kUnknown);
}

TEST(VolumeClassifier, BitLockerIsNeverTakenForFat) {
  auto fvefs = AmbiguousFat(1000);
  std::memcpy(&fvefs[3], "-FVE-FS-", 8);
  EXPECT_EQ(ClassifyVolume(fvefs.data(), fvefs.size()), VolumeKind::kUnknown);
  EXPECT_TRUE(IsBitLockerVolume(fvefs.data(), fvefs.size()));

  auto togo = AmbiguousFat(1000);
  std::memset(&togo[480], 0x78, 8);
  std::memset(&togo[488], 0xFF, 19);
  togo[507] = 0x00;
  togo[508] = 0x1F;
  togo[509] = 0x2C;
  EXPECT_EQ(ClassifyVolume(togo.data(), togo.size()), VolumeKind::kUnknown);
  togo[509] = 0x2D;  // one byte off: an ordinary FAT volume again
  EXPECT_EQ(ClassifyVolume(togo.data(), togo.size()), VolumeKind::kFat12_16);
}

TEST(VolumeClassifier, DamagedOrShortInputIsUnknown) {
  std::vector<uint8_t> zeros(kClassifyBytes, 0);
  EXPECT_EQ(ClassifyVolume(zeros.data(), zeros.size()), VolumeKind::kUnknown);
  auto fat = AmbiguousFat(5000);
  EXPECT_EQ(ClassifyVolume(fat.data(), 511), VolumeKind::kUnknown);  // truncated
  EXPECT_EQ(ClassifyVolume(nullptr, 0), VolumeKind::kUnknown);
  Put16(fat, 11, 0);  // zero bytes per sector must not divide
  EXPECT_EQ(ClassifyVolume(fat.data(), fat.size()), VolumeKind::kUnknown);
}

// Real volumes made by Debian's tools.
TEST(VolumeClassifier, RecognisesRealFileSystems) {
  TempDir dir;
  struct Case {
    std::string command;
    VolumeKind kind;
  };
  const auto img = test::Quote((dir / "v.img").string());
  const Case cases[] = {
      {"mkfs.fat -C -F 12 " + img + " 4096", VolumeKind::kFat12_16},
      {"mkfs.fat -C -F 16 " + img + " 32768", VolumeKind::kFat12_16},
      {"mkfs.fat -C -F 32 " + img + " 65536", VolumeKind::kFat32},
      {"truncate -s 16M " + img + " && mkntfs -q -F -Q " + img, VolumeKind::kNtfs},
      {"truncate -s 16M " + img + " && mkfs.ext4 -q -F " + img, VolumeKind::kExt},
      {"truncate -s 16M " + img + " && mkfs.ext2 -q -F -b 1024 " + img, VolumeKind::kExt},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir / "v.img");
    std::string output;
    ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin; " + c.command, &output), 0) << output;
    std::string head = test::ReadBytes(dir / "v.img").substr(0, kClassifyBytes);
    EXPECT_EQ(ClassifyVolume(reinterpret_cast<const uint8_t*>(head.data()), head.size()), c.kind)
        << c.command;
  }
}

// mkntfs writes clusters up to 64 KiB as a sector count (128 sectors is
// 0x80) and larger ones as a negative shift count (0xF8 for 128 KiB, 0xF4
// for 2 MiB): every size is NTFS, and the factory opens every one.
TEST(VolumeClassifier, NtfsOfEveryClusterSize) {
  QM_SKIP_IF_MISSING(test::MissingMkntfs());
  TempDir dir;
  const auto image = dir / "ntfs.img";
  for (int clusterBytes : {512, 4096, 65536, 131072, 2097152}) {
    SCOPED_TRACE(clusterBytes);
    std::filesystem::remove(image);
    std::string output;
    ASSERT_EQ(test::Run("truncate -s 32M " + test::Quote(image.string()) +
                            " && PATH=$PATH:/sbin:/usr/sbin mkntfs -q -F -Q -c " +
                            std::to_string(clusterBytes) + " " + test::Quote(image.string()),
                        &output),
              0)
        << output;
    const std::string head = test::ReadBytes(image).substr(0, kClassifyBytes);
    EXPECT_EQ(ClassifyVolume(reinterpret_cast<const uint8_t*>(head.data()), head.size()),
              VolumeKind::kNtfs);
    int error = -1;
    EXPECT_NE(EngineFactory::CreateEngineForImage(image.string(), 1, false,
        &error, test::TestContext()), nullptr);
    EXPECT_EQ(error, 0);
  }
}

}  // namespace
}  // namespace qm
