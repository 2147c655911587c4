// Kept scans from the command line: scans one after another keep their own
// folders, --log names one by number, 'last' or path and refuses another
// source's, 'logs' lists and removes them; a whole-disk image is scanned and
// recovered partition by partition; damaged files are hidden unless asked for.
#include <gtest/gtest.h>

#include "cli/terminal_text.h"
#include "session/scan_folders.h"
#include "session/scan_info.h"
#include "session/session_fixture.h"
#include "cli/cli_runner.h"
#include "support/faulty_device.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::Cli;
using test::Quote;
using test::TempDir;
namespace fs = std::filesystem;

class CliScanFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
    a_ = (dir_ / "a.img").string();
    b_ = (dir_ / "b.img").string();
    ASSERT_TRUE(test::MakeImageWithDeletedFiles(a_, 16, 16384, "Alpha", "alpha", 2));
    ASSERT_TRUE(test::MakeImageWithDeletedFiles(b_, 12, 2048, "Beta", "beta", 1));
  }
  fs::path ScanLog() const { return dir_ / "ScanLog"; }

  TempDir dir_;
  std::string a_, b_;
};

TEST_F(CliScanFolders, ScansAreKeptApartAndReopenedOnlyForTheirOwnSource) {
  std::string out;
  ASSERT_EQ(Cli("scan -q " + Quote(a_), &out), 0) << out;
  EXPECT_NE(out.find("ScanLog/1/"), std::string::npos) << out;
  EXPECT_NE(out.find("Found 2 files"), std::string::npos) << out;
  ASSERT_EQ(Cli("scan -q " + Quote(b_), &out), 0) << out;
  EXPECT_NE(out.find("ScanLog/2/"), std::string::npos) << out;
  EXPECT_NE(out.find("Found 1 file ("), std::string::npos) << out;
  for (const char* n : {"1", "2"}) EXPECT_TRUE(fs::exists(ScanLog() / n / "scan.info")) << n;

  ASSERT_EQ(Cli("list " + Quote(a_) + " --log 1", &out), 0) << out;
  EXPECT_NE(out.find("lpha1000.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("lpha1001.txt"), std::string::npos) << out;
  ASSERT_EQ(Cli("list " + Quote(b_) + " --log last", &out), 0) << out;
  EXPECT_NE(out.find("eta1000.txt"), std::string::npos) << out;
  ASSERT_EQ(Cli("recover " + Quote(a_) + " --log " + Quote((ScanLog() / "1").string()) +
                    " --out " + Quote((dir_ / "out").string()),
                &out),
            0)
      << out;
  EXPECT_NE(out.find("Recovered 2 files"), std::string::npos) << out;

  EXPECT_EQ(Cli("list " + Quote(b_) + " --log 1", &out), 1);
  EXPECT_NE(out.find("does not belong to"), std::string::npos) << out;
  // "last" is the newest scan of the source named, not the newest of all.
  ASSERT_EQ(Cli("recover " + Quote(a_) + " --log last --out " + Quote((dir_ / "x").string()), &out),
            0)
      << out;
  EXPECT_NE(out.find("Recovered 2 files"), std::string::npos) << out;

  ASSERT_EQ(Cli("logs --json", &out), 0) << out;
  EXPECT_NE(out.find("\"number\":1,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"number\":2,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"filesFound\":2,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"kind\":\"image\",\"fileSystem\":\"FAT\""), std::string::npos) << out;
  ASSERT_EQ(Cli("logs --remove 1", &out), 0) << out;
  EXPECT_FALSE(fs::exists(ScanLog() / "1"));
  EXPECT_EQ(Cli("list " + Quote(a_) + " --log 1", &out), 1);
  EXPECT_NE(out.find("there is no scan 1"), std::string::npos) << out;
  ASSERT_EQ(Cli("logs --remove all", &out), 0) << out;
  EXPECT_FALSE(fs::exists(ScanLog() / "2"));
  ASSERT_EQ(Cli("logs", &out), 0) << out;
  EXPECT_NE(out.find("No kept scans"), std::string::npos) << out;
}

TEST_F(CliScanFolders, ScansStartedAtOnceEachGetAFolderOfTheirOwn) {
  const std::string scan = "QUILLMARK_DISKS= " + Quote(QUILLMARK_CLI_PATH) + " scan -q ";
  std::string out;
  ASSERT_EQ(test::Run("(" + scan + Quote(a_) + " & " + scan + Quote(b_) + " & " + scan + Quote(a_) +
                          " & wait) >/dev/null",
                      &out),
                0)
      << out;
  // Each folder holds one whole scan: its files and their one folder, nothing doubled.
  int ofA = 0;
  for (const char* n : {"1", "2", "3"}) {
    session::ScanInfo info;
    ASSERT_TRUE(session::ReadScanInfo(ScanLog() / n, info)) << n;
    EXPECT_TRUE(info.finished) << n;
    ofA += info.source == a_;
    const fs::path log = session::FindLogIn(ScanLog() / n);
    ASSERT_FALSE(log.empty()) << n;
    EXPECT_EQ(fs::file_size(log), (info.filesFound + 1) * 346) << n;
  }
  EXPECT_EQ(ofA, 2);
  EXPECT_FALSE(fs::exists(ScanLog() / "4"));
}

TEST_F(CliScanFolders, AWholeDiskImageIsScannedAndRecoveredPartitionByPartition) {
  const fs::path disk = dir_ / "disk.img";
  test::WriteMbrDisk(disk, {{2048, b_}, {2048 + 4096, a_}});
  std::string out;
  ASSERT_EQ(Cli("scan -q --json " + Quote(disk.string()), &out), 0) << out;
  EXPECT_NE(out.find("\"partition\":1,\"scanFolder\":\"" + (ScanLog() / "1/").string()),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"partition\":2,\"scanFolder\":\"" + (ScanLog() / "2/").string()),
            std::string::npos)
      << out;
  const fs::path dest = dir_ / "out";
  ASSERT_EQ(Cli("recover -q " + Quote(disk.string()) + " --keep-paths --out " +
                    Quote(dest.string()),
                &out),
            0)
      << out;
  EXPECT_NE(out.find("Recovered 3 files"), std::string::npos) << out;
  const auto filesIn = [](const fs::path& folder) {
    std::error_code ec;
    auto it = fs::directory_iterator(folder, ec);
    return ec ? -1 : static_cast<int>(std::distance(it, fs::directory_iterator()));
  };
  EXPECT_EQ(filesIn(dest / "partition 1" / "Beta"), 1);
  EXPECT_EQ(filesIn(dest / "partition 2" / "Alpha"), 2);
  ASSERT_EQ(Cli("list " + Quote(disk.string()) + " --log 2 --json", &out), 0) << out;
  EXPECT_NE(out.find("\"path\":\"partition 2/Alpha/"), std::string::npos) << out;
  EXPECT_EQ(out.find("partition 1"), std::string::npos) << out;
}

TEST(CliDamaged, APhotoOverwrittenByTextIsHiddenUnlessAskedFor) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
  TempDir dir;
  const fs::path image = dir / "photos.img";
  test::FatImageBuilder fat(image, 16, 16384, 4);
  ASSERT_TRUE(fat.Create());
  const std::string sunset = test::JpegLike(5020, 3, {.endOfImage = false});
  ASSERT_TRUE(fat.AddFile("sunset.jpg", sunset));
  ASSERT_TRUE(fat.AddFile("kept.jpg", test::JpegLike(3020, 4, {.endOfImage = false})));
  ASSERT_TRUE(fat.Delete("sunset.jpg"));
  ASSERT_TRUE(fat.Delete("kept.jpg"));
  // Something else was written over the start of sunset.jpg since.
  std::string bytes = test::ReadBytes(image);
  const size_t at = bytes.find(sunset.substr(0, 64));
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 512, std::string(512, 'm'));
  test::WriteBytes(image, bytes);

  std::string out;
  ASSERT_EQ(Cli("scan -q " + Quote(image.string()), &out), 0) << out;
  EXPECT_NE(out.find("Found 1 file ("), std::string::npos) << out;
  EXPECT_NE(out.find("1 photo hidden as damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("--include-damaged"), std::string::npos) << out;

  ASSERT_EQ(Cli("list " + Quote(image.string()) + " --log last", &out), 0) << out;
  EXPECT_EQ(out.find("unset.jpg"), std::string::npos) << out;
  EXPECT_NE(out.find("ept.jpg"), std::string::npos) << out;
  ASSERT_EQ(Cli("list " + Quote(image.string()) + " --log last --include-damaged", &out), 0);
  EXPECT_NE(out.find("unset.jpg"), std::string::npos) << out;
  EXPECT_NE(out.find("[damaged]"), std::string::npos) << out;
  ASSERT_EQ(Cli("recover " + Quote(image.string()) + " --log last --out " +
                    Quote((dir / "plain").string()),
                &out),
            0);
  EXPECT_NE(out.find("Recovered 1 file ("), std::string::npos) << out;
  ASSERT_EQ(Cli("recover " + Quote(image.string()) + " --log last --include-damaged --out " +
                    Quote((dir / "all").string()),
                &out),
            0);
  EXPECT_NE(out.find("Recovered 2 files"), std::string::npos) << out;
}

// A kept scan whose log turns unreadable (the disk under the ScanLog folder
// failing): every command that lists it says which log could not be read
// and exits non-zero, instead of listing or recovering part of the files as
// if that were all. The log's main file is swapped for one that fails reads
// of its second sector with EIO; the deep scan's log is read through the
// combined engine.
TEST_F(CliScanFolders, AnUnreadableScanLogFailsListAndRecover) {
  std::string out;
  ASSERT_EQ(Cli("scan -q " + Quote(a_), &out), 0) << out;
  ASSERT_EQ(Cli("scan -q --deep " + Quote(a_), &out), 0) << out;
  std::vector<test::FaultyDevice> devices(2);
  for (int n : {1, 2}) {
    const fs::path folder = ScanLog() / std::to_string(n);
    fs::path log = session::FindLogIn(folder);
    if (n == 2) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("Fast_") && !name.ends_with("_Relation") &&
            !name.ends_with("_DirInfo"))
          log = entry.path();
      }
    }
    ASSERT_FALSE(log.empty()) << folder;
    ASSERT_GT(fs::file_size(log), 512u) << log;
    const fs::path bytes = dir_ / ("log" + std::to_string(n) + ".bytes");
    fs::copy_file(log, bytes);
    std::string why;
    if (!devices[n - 1].CreateFile(bytes, {{1, 1}}, why)) GTEST_SKIP() << why;
    fs::remove(log);
    fs::create_symlink(devices[n - 1].path(), log);
  }
  const fs::path quickLog = session::FindLogIn(ScanLog() / "1");
  struct Case {
    std::string args;
    std::string says;
  };
  const Case cases[] = {
      {"list " + Quote(a_) + " --log 1 --category document,others", "Input/output error"},
      {"list " + Quote(a_) + " --log 1", "Input/output error"},
      {"recover " + Quote(a_) + " --log 1 --out " + Quote((dir_ / "q").string()),
       "not every found file was recovered"},
      {"list " + Quote(a_) + " --log 2 --category document,others", "Input/output error"},
      {"recover " + Quote(a_) + " --log 2 --out " + Quote((dir_ / "d").string()),
       "not every found file was recovered"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cli(c.args + " -q", &out), 1) << c.args << "\n" << out;
    EXPECT_NE(out.find("quillmark-cli: cannot read the scan log"), std::string::npos)
        << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
  EXPECT_EQ(Cli("list " + Quote(a_) + " --log 1 --category document,others", &out), 1);
  EXPECT_NE(out.find("cannot read the scan log " + quickLog.string() + ": Input/output error"),
            std::string::npos)
      << out;
}

TEST(TerminalSafe, NamesFromTheDiskCannotDriveTheTerminal) {
  struct Case {
    std::string name;
    std::string shown;
  };
  const Case cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"Émile – café.txt", "Émile – café.txt"},
      {"red\x1b[31mtext", "red\\e[31mtext"},
      {"two\nlines\r", "two\\nlines\\r"},
      {"├── fake\tentry", "├── fake\\tentry"},
      {std::string("nul\0bell\x07" "del\x7f", 13), "nul\\x00bell\\x07del\\x7f"},
      {"c1 \xc2\x9b" "2J", "c1 \\u009b2J"},          // U+009B, a one-character CSI
      {"stray \x9b" "2J", "stray \\x9b2J"},           // a lone byte some terminals obey
      {"cut \xe2\x94", "cut \\xe2\\x94"},             // a sequence cut short
      {"overlong \xc0\x8a", "overlong \\xc0\\x8a"},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::TerminalSafe(c.name), c.shown) << c.shown;
  EXPECT_EQ(cli::CountOf(1, "file", "files"), "1 file");
  EXPECT_EQ(cli::CountOf(0, "file", "files"), "0 files");
  EXPECT_EQ(cli::JsonEscape("a\"\\\x1b\x7f"), "a\\\"\\\\\\u001b\\u007f");
}

}  // namespace
}  // namespace qm
