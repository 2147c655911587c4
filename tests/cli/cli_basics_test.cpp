// The command line as a user meets it: exit codes and messages for the
// commands that need no scan engine.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace qm {
namespace {

using test::Quote;
using test::TempDir;

int Cli(const std::string& args, std::string* output) {
  return test::Run(std::string("QUILLMARK_DISKS= ") + Quote(QUILLMARK_CLI_PATH) + " " + args,
                   output);
}

TEST(CliBasics, ProbeNamesTheFileSystemAndTheSize) {
  TempDir dir;
  const std::string image = (dir / "fat16.img").string();
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.fat -C -F 16 " + Quote(image) + " 20480"),
            0);
  std::string out;
  ASSERT_EQ(Cli("probe " + Quote(image), &out), 0) << out;
  EXPECT_NE(out.find("File system: FAT12/16"), std::string::npos) << out;
  EXPECT_NE(out.find("Size: 20971520 bytes"), std::string::npos) << out;
}

TEST(CliBasics, BadSourcesAndUsageGiveClearMessagesAndExitCodes) {
  TempDir dir;
  test::WriteBytes(dir / "empty.img", "");
  struct Case {
    std::string args;
    int exitCode;
    std::string says;
  };
  const Case cases[] = {
      {"probe " + Quote((dir / "missing.img").string()), 1, "cannot find the file"},
      {"probe " + Quote(dir.path().string()), 1, "is a folder"},
      {"probe " + Quote((dir / "empty.img").string()), 1, "too short"},
      {"probe disk:99", 1, "no disk 99"},
      {"scan " + Quote((dir / "missing.img").string()), 1, "cannot find the file"},
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

TEST(CliBasics, ImageCopiesARangeAndRefusesOneBeyondTheEnd) {
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
  EXPECT_EQ(Cli("image " + Quote(source.string()) + " --out " + Quote((dir / "b.img").string()) +
                    " --start 4000 --count 200",
                &out),
            1);
  EXPECT_NE(out.find("The parameter is incorrect"), std::string::npos) << out;
  EXPECT_EQ(Cli("image " + Quote(source.string()) + " --out " +
                    Quote((dir / "nowhere" / "c.img").string()),
                &out),
            1);
  EXPECT_NE(out.find("does not exist"), std::string::npos) << out;
}

}  // namespace
}  // namespace qm
