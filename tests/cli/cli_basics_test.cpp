// The command line as a user meets it: exit codes and messages for the
// commands that need no scan engine.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_runner.h"
#include "support/faulty_device.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::Cli;
using test::Quote;
using test::TempDir;

TEST(CliBasics, ProbeNamesTheFileSystemAndTheSize) {
  TempDir dir;
  const std::string image = (dir / "fat16.img").string();
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.fat -C -F 16 " + Quote(image) + " 20480"),
            0);
  std::string out;
  ASSERT_EQ(Cli("probe " + Quote(image), &out), 0) << out;
  EXPECT_NE(out.find("File system: FAT12/16"), std::string::npos) << out;
  EXPECT_NE(out.find("Size: 20971520 bytes"), std::string::npos) << out;

  // A file that is not a whole number of sectors: its exact length.
  std::filesystem::resize_file(image, 20971520 + 100);
  ASSERT_EQ(Cli("probe " + Quote(image), &out), 0) << out;
  EXPECT_NE(out.find("Size: 20971620 bytes"), std::string::npos) << out;
  EXPECT_NE(out.find("40960 sectors of 512 bytes and 100 bytes more"), std::string::npos) << out;
}

// The first 513 bytes of an NTFS volume: probe and partitions both name
// what it begins as, and partitions says that the rest is missing.
TEST(CliBasics, AFragmentOfAVolumeIsNamedAlikeByProbeAndPartitions) {
  if (!test::HaveTool("mkntfs")) GTEST_SKIP() << "mkntfs is missing (apt-get install ntfs-3g)";
  TempDir dir;
  test::NtfsImageBuilder ntfs(dir / "ntfs.img", 8);
  ASSERT_TRUE(ntfs.Create());
  const std::string fragment = (dir / "fragment.img").string();
  test::WriteBytes(fragment, test::ReadBytes(ntfs.image()).substr(0, 513));
  std::string out;
  ASSERT_EQ(Cli("probe " + Quote(fragment), &out), 0) << out;
  EXPECT_NE(out.find("File system: NTFS"), std::string::npos) << out;
  ASSERT_EQ(Cli("partitions " + Quote(fragment), &out), 0) << out;
  EXPECT_NE(out.find("begins as one NTFS volume, but the image ends before the volume does"), std::string::npos)
      << out;
}

// No quick scan reads EXT: asking for one says what to do instead and
// leaves no scan folder behind; the deep scan of the same image runs.
TEST(CliBasics, AnExtVolumeCanOnlyBeDeepScanned) {
  TempDir dir;
  const std::string image = (dir / "ext.img").string();
  ASSERT_EQ(test::Run("truncate -s 8M " + Quote(image) +
                      " && PATH=$PATH:/sbin:/usr/sbin mkfs.ext4 -q -F " + Quote(image)),
            0);
  std::string out;
  EXPECT_EQ(Cli("scan -q " + Quote(image), &out), 1) << out;
  EXPECT_NE(out.find(image + " holds an EXT file system, which a quick scan cannot read "
                             "(Operation not supported): it can only be deep-scanned"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("run the command again with --deep"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "ScanLog" / "1"));
  EXPECT_EQ(Cli("scan -q --deep " + Quote(image), &out), 0) << out;
  EXPECT_EQ(out.find("warning:"), std::string::npos) << out;
}

TEST(CliBasics, BadSourcesAndUsageGiveClearMessagesAndExitCodes) {
  TempDir dir;
  test::WriteBytes(dir / "empty.img", "");
  // A FAT32 volume whose image ends before its root folder does.
  test::FatImageBuilder fat(dir / "whole.img", 32, 65536);
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.AddFile("notes.txt", "kept"));
  test::WriteBytes(dir / "cut.img", test::ReadBytes(fat.image()).substr(0, 100 * 1024));
  struct Case {
    std::string args;
    int exitCode;
    std::string says;
  };
  const Case cases[] = {
      {"probe " + Quote((dir / "missing.img").string()), 1, "No such file or directory"},
      {"probe " + Quote(dir.path().string()), 1, "is a folder"},
      {"partitions " + Quote(dir.path().string()), 1, "is a folder"},
      {"probe " + Quote((dir / "empty.img").string()), 1, "too short"},
      {"probe disk:99", 1, "no disk 99"},
      {"scan " + Quote((dir / "missing.img").string()), 1, "No such file or directory"},
      {"list " + Quote((dir / "cut.img").string()), 1, "the image ends before the volume does"},
      {"", 2, "subcommand is required"},
      {"probe", 2, "SOURCE is required"},
      {"list x --tree --category photo", 2, "excludes"},
      {"frobnicate", 2, "unknown command 'frobnicate'"},
      {"scna x.img", 2, "unknown command 'scna'; did you mean 'scan'?"},
      {"scan x.img --bogus", 2, "unknown option or extra argument: --bogus"},
      {"logs --remove some", 2, "a scan number or 'all'"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Cli(c.args, &out), c.exitCode) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
}

TEST(CliBasics, ImageCopiesARangeAndRefusesBadRangesAndExistingFiles) {
  TempDir dir;
  const auto source = dir / "src.img";
  test::WriteBytes(source, test::MakeContent(4096 * 512, 11));
  std::string out;
  ASSERT_EQ(Cli("image " + Quote(source.string()) + " --out " + Quote((dir / "a.img").string()) +
                    " --start 100 --count 1000 --quiet",
                &out),
            0)
      << out;
  EXPECT_EQ(test::ReadBytes(dir / "a.img"),
            test::ReadBytes(source).substr(100 * 512, 1000 * 512));
  // Bad ranges and existing files: each refused with a reason, and
  // nothing written.
  const std::string a = Quote((dir / "a.img").string());
  const std::string src = "image " + Quote(source.string());
  struct Case {
    std::string args;
    int exitCode;
    std::string says;
  };
  const Case cases[] = {
      {src + " --out " + Quote((dir / "b.img").string()) + " --start 4000 --count 200", 1,
       "which holds 4096 sectors of 512 bytes (2.0 MiB)"},
      {src + " --out " + Quote((dir / "b.img").string()) + " --start 4096", 1,
       "which holds 4096 sectors of 512 bytes (2.0 MiB)"},
      {src + " --out " + Quote((dir / "b.img").string()) + " --start -5", 2, "--start"},
      {src + " --out " + Quote((dir / "b.img").string()) + " --count -1", 2, "--count"},
      {src + " --out " + Quote((dir / "nowhere" / "c.img").string()), 1,
       "No such file or directory"},
      {src + " --out " + a, 1, "already exists"},
      {src + " --out " + Quote(source.string()) + " --force", 1, "is the source itself"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cli(c.args, &out), c.exitCode) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << "\n" << out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "b.img"));
  EXPECT_EQ(test::ReadBytes(dir / "a.img").size(), 1000u * 512);
  // --force overwrites, and leaves no stale tail.
  ASSERT_EQ(Cli(src + " --out " + a + " --count 10 --force --quiet", &out), 0) << out;
  EXPECT_EQ(test::ReadBytes(dir / "a.img"), test::ReadBytes(source).substr(0, 10 * 512));
}

TEST(CliBasics, ImageOfADiskWithBadSectorsFillsThemAndListsThem) {
  TempDir dir;
  const auto source = dir / "src.img";
  const std::string bytes = test::MakeContent(2048 * 512, 12);
  test::WriteBytes(source, bytes);
  test::FaultyDevice device;
  std::string why;
  if (!device.Create(source, {{16, 8}, {1000, 8}}, why)) GTEST_SKIP() << why;
  std::string out;
  EXPECT_EQ(Cli("image " + Quote(device.path()) + " --out " + Quote((dir / "copy.img").string()) +
                    " --quiet",
                &out),
            1);
  EXPECT_NE(out.find("16 sectors of 512 bytes (8.0 KiB) of " + device.path() + " could not be read"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("sectors 16-23\n  sectors 1000-1007"), std::string::npos) << out;
  std::string expected = bytes;
  expected.replace(16 * 512, 8 * 512, 8 * 512, '\0');
  expected.replace(1000 * 512, 8 * 512, 8 * 512, '\0');
  EXPECT_EQ(test::ReadBytes(dir / "copy.img"), expected);
}

}  // namespace
}  // namespace qm
