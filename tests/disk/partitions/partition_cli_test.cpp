// quillmark-cli partitions and devices on images, and IMAGE@N as a source.
#include <gtest/gtest.h>

#include <fstream>

#include "support/jpeg_fixture.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::Quote;

const std::string kSbin = "PATH=\"$PATH:/sbin:/usr/sbin\" ";

int Cli(const std::string& args, std::string* out, const std::string& env = "") {
  return test::Run(env + " " + Quote(QUILLMARK_CLI_PATH) + " " + args, out);
}

bool Sh(const std::string& command) {
  std::string out;
  const int rc = test::Run(kSbin + command, &out);
  if (rc != 0) ADD_FAILURE() << command << ": " << out;
  return rc == 0;
}

// A disk image: FAT32 "QMVOL" in partition 1, an empty logical partition 5.
// The same volume is also kept as an image of its own.
struct DiskImage {
  fs::path disk;
  fs::path volume;
};

DiskImage MakeDiskImage(const test::TempDir& dir) {
  DiskImage d{dir / "disk.img", dir / "volume.img"};
  test::FatImageBuilder fat(d.volume, 32, 40000, 1, "QMVOL");
  EXPECT_TRUE(fat.Create());
  EXPECT_TRUE(fat.MakeDir("docs"));
  EXPECT_TRUE(fat.AddFile("docs/kept.txt", test::MakeContent(5000, 1)));
  EXPECT_TRUE(fat.AddFile("docs/gone.bin", test::MakeContent(300000, 2)));
  EXPECT_TRUE(fat.AddFile("photo.jpg", test::JpegLike(40000, 3, {.endOfImage = false})));
  EXPECT_TRUE(fat.Delete("docs/gone.bin"));
  EXPECT_TRUE(fat.Delete("photo.jpg"));
  std::ofstream(d.disk).close();
  fs::resize_file(d.disk, 64ull << 20);
  EXPECT_TRUE(Sh("printf 'label: dos\\nstart=2048, size=80000, type=c\\nstart=90112, size=20000, type=5\\n"
                 "start=92160, size=8000, type=83\\n' | sfdisk -q " + Quote(d.disk.string())));
  EXPECT_TRUE(Sh("dd if=" + Quote(d.volume.string()) + " of=" + Quote(d.disk.string()) +
                 " bs=512 seek=2048 conv=notrunc status=none"));
  return d;
}

class PartitionCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(QUILLMARK_CLI_PATH)) FAIL() << "build quillmark-cli first: " << QUILLMARK_CLI_PATH;
    if (!test::HaveTool("sfdisk") || !test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy"))
      GTEST_SKIP() << "sfdisk, mkfs.fat and mtools are needed";
  }
  test::TempDir dir_;
};

TEST_F(PartitionCliTest, PartitionsListsTheTableOrSaysWhyNot) {
  const DiskImage d = MakeDiskImage(dir_);
  std::string out;
  ASSERT_EQ(Cli("partitions " + Quote(d.disk.string()), &out), 0) << out;
  EXPECT_NE(out.find("MBR partition table"), std::string::npos) << out;
  EXPECT_NE(out.find("1    2048         80000"), std::string::npos) << out;
  EXPECT_NE(out.find("FAT32"), std::string::npos) << out;
  EXPECT_NE(out.find("QMVOL"), std::string::npos) << out;
  EXPECT_NE(out.find("5    92160        8000"), std::string::npos) << out;
  EXPECT_NE(out.find("(logical)"), std::string::npos) << out;

  ASSERT_EQ(Cli("partitions " + Quote(d.volume.string()), &out), 0) << out;
  EXPECT_NE(out.find("no partition table: it is one FAT32 volume (\"QMVOL\")"), std::string::npos) << out;
  const fs::path blank = dir_ / "blank.img";
  test::WriteBytes(blank, std::string(64 * 1024, '\0'));
  EXPECT_EQ(Cli("partitions " + Quote(blank.string()), &out), 1);
  EXPECT_NE(out.find("no partition table and no file system"), std::string::npos) << out;

  // Partition 1 made to run past the end of the image: it is marked, the
  // logical partition 5 is still listed for use, and IMAGE@1 is refused.
  {
    std::fstream f(d.disk, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(446 + 12);
    const uint32_t huge = 0x7FFFFFFF;
    f.write(reinterpret_cast<const char*>(&huge), 4);
  }
  EXPECT_EQ(Cli("partitions " + Quote(d.disk.string()), &out), 0) << out;
  EXPECT_NE(out.find("cannot be used: it runs past the end of the disk"), std::string::npos) << out;
  EXPECT_NE(out.find("5    92160        8000"), std::string::npos) << out;
  EXPECT_NE(out.find("1 of 2 partitions cannot be used"), std::string::npos) << out;
  EXPECT_NE(Cli("list -q " + Quote(d.disk.string() + "@1"), &out), 0) << out;
  EXPECT_NE(out.find("partition 1 cannot be used"), std::string::npos) << out;
  // devices offers the logical partition and says why partition 1 is not.
  ASSERT_EQ(Cli("devices", &out, "QUILLMARK_DISKS=" + Quote(d.disk.string())), 0) << out;
  EXPECT_NE(out.find(d.disk.string() + "@5"), std::string::npos) << out;
  EXPECT_EQ(out.find(d.disk.string() + "@1"), std::string::npos) << out;
  EXPECT_NE(out.find("partition 1: it runs past the end of the disk"), std::string::npos) << out;
  EXPECT_EQ(Cli("partitions " + Quote((dir_ / "missing.img").string()), &out), 1);
  EXPECT_EQ(Cli("partitions", &out), 2);
}

TEST_F(PartitionCliTest, DevicesShowsImagesStandingInForDisks) {
  const DiskImage d = MakeDiskImage(dir_);
  const std::string env = "QUILLMARK_DISKS=" + Quote(d.disk.string() + ":" + d.volume.string());
  std::string out;
  ASSERT_EQ(Cli("devices", &out, env), 0) << out;
  EXPECT_NE(out.find("Disk 0: " + d.disk.string()), std::string::npos) << out;
  EXPECT_NE(out.find(d.disk.string() + "@1"), std::string::npos) << out;
  EXPECT_NE(out.find("QMVOL"), std::string::npos) << out;
  EXPECT_NE(out.find("Disk 1: " + d.volume.string()), std::string::npos) << out;
  // Neither volume is mounted: nothing reports their used and free space.
  const size_t row = out.find(d.disk.string() + "@1");
  ASSERT_NE(row, std::string::npos);
  const std::string volumeRow = out.substr(row, out.find('\n', row) - row);
  EXPECT_EQ(volumeRow.find("used"), std::string::npos) << volumeRow;
  EXPECT_EQ(volumeRow.find("free"), std::string::npos) << volumeRow;

  ASSERT_EQ(Cli("devices --json", &out, env), 0) << out;
  for (const std::string& part :
       {std::string("\"startSector\":2048,\"sectorCount\":80000,\"fileSystem\":\"FAT32\",\"label\":\"QMVOL\""),
        std::string("\"device\":\"" + d.disk.string() + "@1\""), std::string("\"kind\":\"unallocated\""),
        std::string("\"mountPoint\":\"\",\"totalBytes\":40960000,\"usedBytes\":null,\"freeBytes\":null"),
        std::string("\"image\":true")})
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
  if (test::HaveTool("python3")) {
    const fs::path json = dir_ / "devices.json";
    test::WriteBytes(json, out);
    std::string check;
    EXPECT_EQ(test::Run("python3 -m json.tool " + Quote(json.string()) + " >/dev/null", &check), 0)
        << check;
  }
}

TEST_F(PartitionCliTest, APartitionInsideAnImageScansLikeTheVolumeOnItsOwn) {
  const DiskImage d = MakeDiskImage(dir_);
  std::string inside, alone;
  ASSERT_EQ(Cli("list -q --json " + Quote(d.disk.string() + "@1"), &inside), 0) << inside;
  ASSERT_EQ(Cli("list -q --json " + Quote(d.volume.string()), &alone), 0) << alone;
  // Records hold absolute sector numbers, so only those differ: by the
  // partition's start.
  auto withoutAnchors = [](std::string text) {
    for (size_t at; (at = text.find("\"anchorSector\":")) != std::string::npos;)
      text.erase(at, text.find(',', at) + 1 - at);
    return text;
  };
  EXPECT_EQ(withoutAnchors(inside), withoutAnchors(alone));
  EXPECT_NE(inside.find("one.bin"), std::string::npos) << inside;
  auto firstAnchor = [](const std::string& text) {
    const size_t at = text.find("\"anchorSector\":");
    return at == std::string::npos ? 0ull : std::stoull(text.substr(at + 15));
  };
  EXPECT_EQ(firstAnchor(inside), firstAnchor(alone) + 2048);

  const fs::path outInside = dir_ / "out-inside", outAlone = dir_ / "out-alone";
  std::string log;
  ASSERT_EQ(Cli("recover -q -o " + Quote(outInside.string()) + " " + Quote(d.disk.string() + "@1"), &log), 0) << log;
  ASSERT_EQ(Cli("recover -q -o " + Quote(outAlone.string()) + " " + Quote(d.volume.string()), &log), 0) << log;
  std::string diff;
  EXPECT_EQ(test::Run("diff -r " + Quote(outInside.string()) + " " + Quote(outAlone.string()), &diff), 0) << diff;
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(outInside))
    if (e.is_regular_file()) ++files;
  EXPECT_GE(files, 1u);

  EXPECT_NE(Cli("list -q " + Quote(d.disk.string() + "@3"), &log), 0);
  EXPECT_NE(log.find("no partition 3"), std::string::npos) << log;
}

}  // namespace
}  // namespace qm
