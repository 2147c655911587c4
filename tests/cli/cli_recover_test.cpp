// scan, list and recover from the command line on a real FAT32 image made
// with mkfs.fat and mtools, deletions done by mtools as a driver would.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <map>

#include "engines/fat_test_image.h"
#include "support/faulty_device.h"
#include "cli/cli_runner.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::Cli;
using test::Quote;
using test::TempDir;
namespace fs = std::filesystem;

// Compares a recovered file with what was written, without dumping the bytes.
::testing::AssertionResult SameBytes(const fs::path& path, const std::string& expected) {
  if (!fs::exists(path)) return ::testing::AssertionFailure() << path << " was not recovered";
  const std::string got = test::ReadBytes(path);
  if (got == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << " differs: " << got.size() << " bytes, expected "
                                       << expected.size();
}

class CliRecover : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = (dir_ / "sample.img").string();
    test::FatImageBuilder fat(image_, 32, 65536);
    ASSERT_TRUE(fat.Create());
    files_["Beach at sunset.jpg"] = test::JpegLike(70000, 1);
    files_["IMG_0042.JPG"] = test::JpegLike(9000, 2);
    files_["Tax return.pdf"] = "%PDF-1.4\n" + test::MakeContent(30000, 3);
    files_["notes.txt"] = std::string(5000, 'n');
    files_["keep.txt"] = "still here";
    ASSERT_TRUE(fat.AddFile("Photos/Holiday/Beach at sunset.jpg", files_["Beach at sunset.jpg"]));
    ASSERT_TRUE(fat.AddFile("Photos/IMG_0042.JPG", files_["IMG_0042.JPG"]));
    ASSERT_TRUE(fat.AddFile("Documents/Tax return.pdf", files_["Tax return.pdf"]));
    ASSERT_TRUE(fat.AddFile("Documents/notes.txt", files_["notes.txt"]));
    ASSERT_TRUE(fat.AddFile("Documents/keep.txt", files_["keep.txt"]));
    ASSERT_TRUE(fat.DeleteTree("Photos/Holiday"));
    ASSERT_TRUE(fat.Delete("Photos/IMG_0042.JPG"));
    ASSERT_TRUE(fat.Delete("Documents/Tax return.pdf"));
    ASSERT_TRUE(fat.Delete("Documents/notes.txt"));
  }

  TempDir dir_;
  std::string image_;
  std::map<std::string, std::string> files_;
};

TEST_F(CliRecover, ScanListAndRecoverFindTheDeletedFiles) {
  std::string out;
  ASSERT_EQ(Cli("scan " + Quote(image_) + " --json", &out), 0) << out;
  EXPECT_NE(out.find("\"photo\":2"), std::string::npos) << out;
  EXPECT_NE(out.find("\"document\":2"), std::string::npos) << out;
  EXPECT_NE(out.find("\"scanFolder\""), std::string::npos) << out;

  ASSERT_EQ(Cli("list " + Quote(image_) + " --json", &out), 0) << out;
  EXPECT_NE(out.find("\"path\":\"Photos/Holiday/Beach at sunset.jpg\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"path\":\"Documents/Tax return.pdf\""), std::string::npos) << out;
  EXPECT_EQ(out.find("keep.txt"), std::string::npos) << "a live file was reported\n" << out;
  // Every file a quick scan lists was found deleted.
  EXPECT_EQ(out.find("\"isDirectory\":false,\"isDeleted\":false"), std::string::npos) << out;
  EXPECT_NE(out.find("\"isDeleted\":true,\"contentOk\":true,\"engineKind\":1,"
                     "\"engineKindName\":\"fatQuick\""),
            std::string::npos)
      << out;

  ASSERT_EQ(Cli("list " + Quote(image_) + " --category photo", &out), 0) << out;
  EXPECT_NE(out.find("jpg (2)"), std::string::npos) << out;
  EXPECT_EQ(out.find("Tax return"), std::string::npos) << out;

  const fs::path dest = dir_ / "out";
  ASSERT_EQ(Cli("recover " + Quote(image_) + " --out " + Quote(dest.string()), &out), 0) << out;
  EXPECT_NE(out.find("Recovered 4 files"), std::string::npos) << out;
  EXPECT_TRUE(SameBytes(dest / "photo" / "Beach at sunset.jpg", files_["Beach at sunset.jpg"]));
  EXPECT_TRUE(SameBytes(dest / "photo" / "!mg_0042.jpg", files_["IMG_0042.JPG"]));
  EXPECT_TRUE(SameBytes(dest / "document" / "Tax return.pdf", files_["Tax return.pdf"]));
  EXPECT_TRUE(SameBytes(dest / "document" / "!otes.txt", files_["notes.txt"]));

  // Again into the same folder: nothing is overwritten, names are numbered.
  ASSERT_EQ(Cli("recover " + Quote(image_) + " --out " + Quote(dest.string()) +
                    " --ext pdf --quiet",
                &out),
            0)
      << out;
  EXPECT_TRUE(SameBytes(dest / "document" / "Tax return(1).pdf", files_["Tax return.pdf"]));
  EXPECT_FALSE(fs::exists(dest / "photo" / "!mg_0042(1).jpg"));
}

// Source files whose extensions lie inside listed ones ("c" in "*.pcx",
// "md" in "*.mdb") are sorted by their whole extension: into others/.
TEST(CliRecoverTypes, FilesAreSortedByTheirWholeExtension) {
  TempDir dir;
  const std::string image = (dir / "card.img").string();
  test::FatImageBuilder fat(image, 16, 16384);
  ASSERT_TRUE(fat.Create());
  const std::map<std::string, std::pair<std::string, std::string>> files = {
      // name on the card: recovered name (first letter lost by the deletion), folder
      {"main.c", {"!ain.c", "others"}},      {"util.h", {"!til.h", "others"}},
      {"lib.a", {"!ib.a", "others"}},        {"notes.md", {"!otes.md", "others"}},
      {"db.mdb", {"!b.mdb", "document"}},    {"song.rm", {"!ong.rm", "audio"}},
      {"photo.jpg", {"!hoto.jpg", "photo"}},
  };
  std::map<std::string, std::string> content;
  uint32_t seed = 10;
  for (const auto& [name, where] : files) {
    content[name] = name == "photo.jpg" ? test::JpegLike(3000, seed++) : test::MakeContent(3000, seed++);
    ASSERT_TRUE(fat.AddFile("src/" + name, content[name]));
  }
  for (const auto& [name, where] : files) ASSERT_TRUE(fat.Delete("src/" + name));

  std::string out;
  const fs::path dest = dir / "out";
  ASSERT_EQ(Cli("recover " + Quote(image) + " --out " + Quote(dest.string()) + " --quiet", &out), 0) << out;
  for (const auto& [name, where] : files) {
    const auto& [recovered, folder] = where;
    EXPECT_TRUE(SameBytes(dest / folder / recovered, content[name])) << name;
  }
  EXPECT_FALSE(fs::exists(dest / "photo" / "!ain.c"));
  EXPECT_FALSE(fs::exists(dest / "document" / "!otes.md"));

  ASSERT_EQ(Cli("list " + Quote(image) + " --category others", &out), 0) << out;
  for (const char* group : {"c (1)", "h (1)", "a (1)", "md (1)"})
    EXPECT_NE(out.find(group), std::string::npos) << group << "\n" << out;
}

TEST_F(CliRecover, AFileThatCannotBeReadWholeIsKeptAsPartialAndCountedFailed) {
  // The deleted notes.txt now starts in the volume's last cluster: its
  // content ends there, long before its size.
  {
    test::FatTestImage image(image_);
    ASSERT_TRUE(image.ok());
    const size_t entry = image.FindEntry("\xE5OTES   TXT");
    ASSERT_NE(entry, std::string::npos);
    const uint32_t last = image.geometry().LastCluster();
    const uint32_t clusterBytes = image.geometry().clusterBytes;
    ASSERT_LT(clusterBytes, files_["notes.txt"].size());
    for (uint32_t i = 0; i < clusterBytes; ++i)
      image.Byte(image.ClusterOffset(last) + i) = image.Byte(image.ClusterOffset(image.EntryCluster(entry)) + i);
    image.SetEntryCluster(entry, last);
    image.Save();
  }
  std::string out;
  const fs::path dest = dir_ / "out";
  EXPECT_EQ(Cli("recover " + Quote(image_) + " --out " + Quote(dest.string()) + " --quiet", &out), 1)
      << out;
  EXPECT_NE(out.find("Recovered 3 files"), std::string::npos) << out;
  EXPECT_NE(out.find("0 damaged with unreadable parts; 1 failed"), std::string::npos) << out;
  EXPECT_NE(out.find("failed: " + (dest / "document" / "!otes.txt").string()), std::string::npos) << out;
  EXPECT_NE(out.find("kept in " + (dest / "document" / "!otes.txt.partial").string()), std::string::npos)
      << out;
  EXPECT_FALSE(fs::exists(dest / "document" / "!otes.txt"));
  const std::string partial = test::ReadBytes(dest / "document" / "!otes.txt.partial");
  EXPECT_FALSE(partial.empty());
  EXPECT_EQ(partial, files_["notes.txt"].substr(0, partial.size()));
  EXPECT_TRUE(SameBytes(dest / "document" / "Tax return.pdf", files_["Tax return.pdf"]));
}

TEST_F(CliRecover, AFileWithUnreadableSectorsIsWrittenWithZerosAndCountedDamaged) {
  const std::string& pdf = files_["Tax return.pdf"];
  const std::string bytes = test::ReadBytes(image_);
  const size_t at = bytes.find(pdf.substr(10000, 64));
  ASSERT_NE(at, std::string::npos);
  const uint64_t badSector = at / 512;
  const size_t fileOffset = 10000 - at % 512;
  test::FaultyDevice device;
  std::string why;
  if (!device.Create(image_, {{badSector, 1}}, why)) GTEST_SKIP() << why;

  std::string out;
  const fs::path dest = dir_ / "out";
  EXPECT_EQ(Cli("recover " + Quote(device.path()) + " --out " + Quote(dest.string()) + " --quiet", &out), 1)
      << out;
  EXPECT_NE(out.find("Recovered 3 files"), std::string::npos) << out;
  EXPECT_NE(out.find("1 damaged with unreadable parts; 0 failed"), std::string::npos) << out;
  const fs::path damaged = dest / "document" / "Tax return.pdf";
  EXPECT_NE(out.find("damaged: " + damaged.string() + ": 512 B could not be read (bytes " +
                     std::to_string(fileOffset) + "-" + std::to_string(fileOffset + 511) + ")"),
            std::string::npos)
      << out;
  std::string expected = pdf;
  expected.replace(fileOffset, 512, 512, '\0');
  EXPECT_TRUE(SameBytes(damaged, expected));
  EXPECT_TRUE(SameBytes(dest / "document" / "!otes.txt", files_["notes.txt"]));
}

// Every file under `root` with its bytes and modification time.
std::map<fs::path, std::pair<std::string, fs::file_time_type>> Snapshot(const fs::path& root) {
  std::map<fs::path, std::pair<std::string, fs::file_time_type>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[entry.path()] = {test::ReadBytes(entry.path()), entry.last_write_time()};
  return files;
}

// What the README promises: every command reads the source without opening
// it for writing (the served copy refuses any write open), leaves it as it
// was, and writes nothing but its destination and the scan logs.
TEST_F(CliRecover, CommandsOnlyReadTheSourceAndWriteOnlyWhereTheyAreTold) {
  test::FaultyDevice device;
  std::string why;
  if (!device.Create(image_, {}, why)) GTEST_SKIP() << why;
  const auto before = Snapshot(dir_.path());
  const std::string source = Quote(device.path());
  const fs::path quick = dir_ / "quick", deep = dir_ / "deep", copy = dir_ / "copy.img";
  for (const std::string& args :
       {"scan " + source, "list " + source,
        "recover " + source + " --out " + Quote(quick.string()),
        "recover " + source + " --deep --out " + Quote(deep.string()),
        "image " + source + " --out " + Quote(copy.string())}) {
    std::string out;
    EXPECT_EQ(Cli(args + " --quiet", &out), 0) << args << "\n" << out;
  }
  EXPECT_TRUE(SameBytes(quick / "photo" / "Beach at sunset.jpg", files_["Beach at sunset.jpg"]));
  EXPECT_TRUE(SameBytes(copy, test::ReadBytes(image_)));

  const fs::path logs = dir_ / "ScanLog";
  const auto inside = [](const fs::path& path, const fs::path& folder) {
    return path.string().starts_with(folder.string() + "/");
  };
  for (const auto& [path, file] : Snapshot(dir_.path())) {
    const auto was = before.find(path);
    if (was == before.end()) {
      EXPECT_TRUE(path == copy || inside(path, quick) || inside(path, deep) || inside(path, logs))
          << "written outside the destination: " << path;
    } else if (!inside(path, logs)) {
      EXPECT_TRUE(file == was->second) << "changed: " << path;
    }
  }
}

TEST_F(CliRecover, KeepPathsAndAnEarlierScanLog) {
  std::string out;
  ASSERT_EQ(Cli("scan " + Quote(image_), &out), 0) << out;
  const std::string marker = "Scan log folder: ";
  const auto at = out.find(marker);
  ASSERT_NE(at, std::string::npos) << out;
  const std::string folder = out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());

  const fs::path dest = dir_ / "paths";
  ASSERT_EQ(Cli("recover " + Quote(image_) + " --log " + Quote(folder) + " --keep-paths --category photo --out " +
                    Quote(dest.string()),
                &out),
            0)
      << out;
  EXPECT_TRUE(SameBytes(dest / "Photos" / "Holiday" / "Beach at sunset.jpg", files_["Beach at sunset.jpg"]));
  EXPECT_TRUE(SameBytes(dest / "Photos" / "!mg_0042.jpg", files_["IMG_0042.JPG"]));
  EXPECT_FALSE(fs::exists(dest / "Documents"));

  EXPECT_EQ(Cli("list " + Quote(image_) + " --log " + Quote((dir_ / "nothing").string()), &out), 1);
  EXPECT_NE(out.find("holds no scan log"), std::string::npos) << out;
  EXPECT_EQ(Cli("list " + Quote(image_) + " --category pictures", &out), 2);
}

TEST_F(CliRecover, ADiskTableEntryScansLikeTheImageItHolds) {
  std::string fromImage, fromDisk;
  ASSERT_EQ(Cli("list " + Quote(image_) + " --json", &fromImage), 0) << fromImage;
  ASSERT_EQ(test::Run("QUILLMARK_DISKS=" + Quote(image_) + " " + Quote(QUILLMARK_CLI_PATH) +
                          " list disk:0 --json",
                      &fromDisk),
            0)
      << fromDisk;
  EXPECT_EQ(fromDisk, fromImage);
}

TEST(CliRecoverNtfs, AnNtfsImageIsScannedAndRecoveredTheSameWay) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  TempDir dir;
  const fs::path image = dir / "ntfs.img";
  const std::string big = test::MakeContent(300000, 21);
  const std::string small = "a resident note";
  {
    test::NtfsImageBuilder ntfs(image, 32);
    ASSERT_TRUE(ntfs.Create());
    ASSERT_TRUE(ntfs.Mount());
    ASSERT_TRUE(ntfs.AddFile("Projects/Q4/report.bin", big));
    ASSERT_TRUE(ntfs.AddFile("Projects/note.txt", small));
    ASSERT_TRUE(ntfs.AddFile("live.txt", "live"));
    ASSERT_TRUE(ntfs.Delete("Projects"));
    ASSERT_TRUE(ntfs.Unmount());
  }
  std::string out;
  ASSERT_EQ(Cli("probe " + Quote(image.string()), &out), 0) << out;
  EXPECT_NE(out.find("File system: NTFS"), std::string::npos) << out;
  const fs::path dest = dir / "out";
  ASSERT_EQ(Cli("recover " + Quote(image.string()) + " --keep-paths --out " + Quote(dest.string()), &out), 0)
      << out;
  EXPECT_TRUE(SameBytes(dest / "Projects" / "Q4" / "report.bin", big));
  EXPECT_TRUE(SameBytes(dest / "Projects" / "note.txt", small));
  EXPECT_FALSE(fs::exists(dest / "live.txt"));

  // The same volume standing in as a whole disk of the disk table.
  ASSERT_EQ(test::Run("QUILLMARK_DISKS=" + Quote(image.string()) + " " +
                          Quote(QUILLMARK_CLI_PATH) + " list disk:0 --json",
                      &out),
            0)
      << out;
  EXPECT_NE(out.find("\"path\":\"Projects/Q4/report.bin\""), std::string::npos) << out;
}

// A destination on the disk being recovered is refused unless forced.
TEST(CliRecoverGuard, RefusesADestinationOnTheSourceDisk) {
  QM_SKIP_IF_MISSING(test::MissingLoopDevices());
  if (!test::HaveTool("mkfs.ext4")) GTEST_SKIP() << "mkfs.ext4 is not installed (apt-get install e2fsprogs)";
  TempDir dir;
  const std::string image = (dir / "ext.img").string();
  ASSERT_EQ(test::Run("truncate -s 32M " + Quote(image) +
                      " && PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F " + Quote(image)),
            0);
  std::string loop;
  if (test::Run("losetup -f --show " + Quote(image), &loop) != 0)
    GTEST_SKIP() << test::kNeedsLoopDevices << ": losetup could not attach the image: " << loop;
  loop.erase(loop.find_last_not_of("\n") + 1);
  const fs::path mnt = dir / "mnt";
  fs::create_directories(mnt);
  if (::mount(loop.c_str(), mnt.c_str(), "ext4", 0, nullptr) != 0) {
    test::Run("losetup -d " + Quote(loop));
    GTEST_SKIP() << "ext4 cannot be mounted here";
  }
  // EXT is only deep-scanned.
  const std::string recover = "recover --deep -q " + Quote(loop);
  std::string out;
  const int refused = Cli(recover + " --out " + Quote((mnt / "rescued").string()), &out);
  const int forced = Cli(recover + " --force --out " + Quote((mnt / "rescued").string()), nullptr);
  const int elsewhere = Cli(recover + " --out " + Quote((dir / "rescued").string()), nullptr);
  ::umount(mnt.c_str());
  test::Run("losetup -d " + Quote(loop));
  EXPECT_EQ(refused, 1) << out;
  EXPECT_NE(out.find("the disk being recovered"), std::string::npos) << out;
  EXPECT_EQ(forced, 0);
  EXPECT_EQ(elsewhere, 0);
}

}  // namespace
}  // namespace qm
