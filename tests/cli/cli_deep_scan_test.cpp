// Deep scans from the command line on images without a file system: carved
// pictures come back byte for byte, and a scan killed part-way resumes where
// its position was last saved and ends with the listing of a scan that was
// never interrupted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "cli/cli_runner.h"
#include "cli/deep_image.h"
#include "results/scan_history.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::Cli;
using test::Quote;
using test::TempDir;
namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Pictures of several sizes and both kinds.
std::vector<test::PlacedFile> Pictures(const fs::path& scratch,
                                       const std::vector<uint64_t>& sectors) {
  const struct {
    const char* extension;
    int width, height;
  } kinds[] = {{"jpg", 256, 192}, {"png", 120, 90}, {"jpg", 48, 40}, {"png", 300, 200}};
  std::vector<test::PlacedFile> files;
  for (size_t i = 0; i < sectors.size(); ++i) {
    const auto& kind = kinds[i % std::size(kinds)];
    files.push_back({kind.extension,
                     test::EncodePicture(scratch, kind.extension, kind.width, kind.height,
                                         static_cast<uint32_t>(i + 11)),
                     sectors[i]});
    EXPECT_FALSE(files.back().bytes.empty()) << "cannot encode picture " << i;
  }
  return files;
}

TEST(CliDeepScan, CarvedPicturesComeBackByteExact) {
  if (!test::HavePictureTools()) GTEST_SKIP() << "cjpeg or ImageMagick's convert is missing";
  TempDir dir;
  const auto files = Pictures(dir.path(), {2048, 5000, 9001, 12000});
  const std::string image = (dir / "card.img").string();
  test::WriteCarvingImage(image, 16384, files, 5);

  std::string out;
  EXPECT_EQ(Cli("list -q " + Quote(image), &out), 1);
  EXPECT_NE(out.find("--deep"), std::string::npos) << "no hint at a deep scan:\n" << out;

  ASSERT_EQ(Cli("scan -q --deep " + Quote(image), &out), 0) << out;
  EXPECT_NE(out.find("ScanLog/1/"), std::string::npos) << out;
  // The deep scan's folder is read back with the deep engine without --deep.
  ASSERT_EQ(Cli("list -q --json " + Quote(image) + " --log 1", &out), 0) << out;
  const auto lines = Lines(out);
  for (const auto& f : files) {
    const std::string name = "\"name\":\"" + std::to_string(f.sector) + "." + f.extension + "\"";
    const std::string size = "\"size\":" + std::to_string(f.bytes.size()) + ",";
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(name) != std::string::npos && line.find(size) != std::string::npos;
    })) << name << " not listed with " << size << "\n" << out;
  }
  // So is "last", the newest kept scan of this source, which a quick scan
  // could not open.
  std::string last;
  ASSERT_EQ(Cli("list -q --json " + Quote(image) + " --log last", &last), 0) << last;
  EXPECT_EQ(Lines(last), lines);
  const fs::path dest = dir / "out";
  ASSERT_EQ(Cli("recover -q " + Quote(image) + " --log last --category photo --out " +
                    Quote(dest.string()),
                &out),
            0)
      << out;
  for (const auto& f : files) {
    const fs::path got = dest / "photo" / (std::to_string(f.sector) + "." + f.extension);
    ASSERT_TRUE(fs::exists(got)) << got << "\n" << out;
    EXPECT_TRUE(test::ReadBytes(got) == f.bytes) << got << " differs";
  }
}

// quillmark-cli ARGS with output into `log`, as a child this process can
// kill. Its stdin is /dev/null, or with `answer` a terminal on which that
// answer has been typed. The position is saved every 10 ms, so that it is
// saved well before the scan ends.
struct Child {
  pid_t pid = -1;
  int terminal = -1;  // the pseudo-terminal's master side, kept open until the child ends
};

Child StartCli(const std::vector<std::string>& args, const fs::path& log,
               const std::string& answer = {}) {
  std::vector<std::string> env{"QUILLMARK_DISKS=", "QUILLMARK_DEEP_SAVE_SECONDS=0.01"};
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "QUILLMARK_DISKS=", 16) != 0) env.emplace_back(*e);
  std::vector<char*> envp, argv{const_cast<char*>(QUILLMARK_CLI_PATH)};
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Child child;
  int in = -1;
  if (answer.empty()) {
    in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  } else {
    child.terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (child.terminal < 0 || ::grantpt(child.terminal) != 0 || ::unlockpt(child.terminal) != 0)
      return child;
    in = ::open(::ptsname(child.terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (::write(child.terminal, answer.data(), answer.size()) != ssize_t(answer.size()))
      return child;
  }
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  child.pid = ::fork();
  if (child.pid == 0) {
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execve(QUILLMARK_CLI_PATH, argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(in);
  ::close(out);
  return child;
}

TEST(CliDeepScan, KilledScanResumesToTheListingOfAnUninterruptedOne) {
  if (!test::HavePictureTools()) GTEST_SKIP() << "cjpeg or ImageMagick's convert is missing";
  TempDir dir;
  // 256 MiB, of which the first 32 are noise and the rest a hole of zeros:
  // long enough a scan to be killed part-way.
  constexpr uint64_t kSectors = 524288;
  const auto files = Pictures(dir.path(), {1000, 20000, 50001, 131072, 300000, 524000});
  const std::string image = (dir / "disk.img").string();
  test::WriteCarvingImage(image, kSectors, files, 9, 65536);
  const std::string listing = "list -q --json " + Quote(image) + " --log ";

  std::string out;
  ASSERT_EQ(Cli("scan -q --deep " + Quote(image) + " </dev/null", &out), 0) << out;
  ASSERT_EQ(Cli(listing + "1", &out), 0) << out;
  const auto uninterrupted = Lines(out);
  ASSERT_GE(uninterrupted.size(), files.size());

  const fs::path scanLog = dir / "ScanLog";
  // A deep scan sent `signal` once it has saved a position past `after`
  // in scan folder `number`: Ctrl-C stops it with a word on how to resume,
  // SIGKILL leaves only what it saved. Gives that position.
  auto killPartWay = [&](const std::vector<std::string>& options, const std::string& answer,
                         const std::string& number, int signal, uint64_t after,
                         uint64_t& savedAt) {
    std::vector<std::string> args{"scan", "-q", "--deep", image};
    args.insert(args.end(), options.begin(), options.end());
    const Child child = StartCli(args, dir / "child.log", answer);
    ASSERT_GT(child.pid, 0);
    savedAt = 0;
    const fs::path folder = scanLog / (number + "/");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (savedAt <= after && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ScanHistory history(scanLog);
      for (const HistoryEntry& e : history.Entries())
        if (fs::path(e.Folder()) == folder) savedAt = e.totalDone;
    }
    ::kill(child.pid, signal);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    if (child.terminal >= 0) ::close(child.terminal);
    const std::string log = test::ReadBytes(dir / "child.log");
    if (signal == SIGINT) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status << "\n" << log;
      EXPECT_NE(log.find("stopped at "), std::string::npos) << log;
      EXPECT_NE(log.find("again to resume"), std::string::npos) << log;
    } else {
      ASSERT_TRUE(WIFSIGNALED(status)) << "the scan ended before it could be killed:\n" << log;
    }
    if (!answer.empty()) {
      EXPECT_NE(log.find("Resume it? "), std::string::npos) << log;
    }
    ASSERT_GT(savedAt, after);
    ASSERT_LT(savedAt, kSectors);
  };
  uint64_t savedAt = 0;
  // The finished scan is kept; a new one starts afresh beside it.
  ASSERT_NO_FATAL_FAILURE(killPartWay({}, "", "2", SIGINT, 0, savedAt));
  EXPECT_TRUE(fs::exists(scanLog / "1" / "scan.info"));
  // Declining the interrupted scan deletes it.
  ASSERT_NO_FATAL_FAILURE(killPartWay({"--no-resume"}, "", "3", SIGKILL, 0, savedAt));
  EXPECT_FALSE(fs::exists(scanLog / "2")) << "--no-resume kept the interrupted scan";
  // Asked on a terminal, the user resumes it; it goes on from where it was.
  ASSERT_NO_FATAL_FAILURE(killPartWay({}, "y\n", "3", SIGKILL, savedAt, savedAt));

  ASSERT_EQ(Cli("logs", &out), 0) << out;
  EXPECT_NE(out.find("stopped at "), std::string::npos) << out;
  EXPECT_NE(out.find(" of " + std::to_string(kSectors) + " sectors"), std::string::npos) << out;

  // Without a terminal the next deep scan resumes without asking.
  ASSERT_EQ(Cli("scan -q --deep " + Quote(image) + " </dev/null", &out), 0) << out;
  EXPECT_NE(out.find("resuming"), std::string::npos) << out;
  EXPECT_NE(out.find("ScanLog/3/"), std::string::npos) << out;
  ASSERT_EQ(Cli(listing + "3", &out), 0) << out;
  const auto resumed = Lines(out);
  EXPECT_EQ(std::adjacent_find(resumed.begin(), resumed.end()), resumed.end())
      << "a file is listed twice";
  EXPECT_EQ(resumed, uninterrupted);
  ASSERT_EQ(Cli("logs", &out), 0) << out;
  EXPECT_NE(out.find("deep scan finished"), std::string::npos) << out;
}

}  // namespace
}  // namespace qm
