#include "support/faulty_device.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <sstream>

#include "support/test_support.h"

namespace qm::test {

namespace {

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

bool FaultyDevice::Create(const std::filesystem::path& image, const std::vector<Range>& bad,
                          std::string& why) {
  // Tagged as a capability CI must have: the FUSE server serves wherever
  // device-mapper is missing, so a skip here is a gap in the runner.
  const std::string tag = std::string(kNeedsFuse) + " (or device-mapper) as root: ";
  if (::geteuid() != 0) {
    why = tag + "not running as root";
    return false;
  }
  std::string mappedWhy;
  if (CreateMapped(image, bad, mappedWhy)) return true;
  if (CreateServed(image, bad, false, why)) return true;
  why = tag + mappedWhy + "; " + why;
  return false;
}

bool FaultyDevice::CreateFile(const std::filesystem::path& image, const std::vector<Range>& bad,
                              std::string& why) {
  if (::geteuid() != 0) {
    why = "needs root";
    return false;
  }
  return CreateServed(image, bad, true, why);
}

bool FaultyDevice::CreateServed(const std::filesystem::path& image, const std::vector<Range>& bad,
                                bool openForWriting, std::string& why) {
  const std::string tool = QUILLMARK_FAULTY_FS_PATH;
  if (tool.empty() || !std::filesystem::exists("/dev/fuse")) {
    why = "FUSE is not available here (needs /dev/fuse and libfuse3-dev at build time)";
    return false;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "qm-faulty-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    why = "no temporary folder";
    return false;
  }
  mountPoint_ = pattern;
  std::vector<std::string> args = {tool};
  if (openForWriting) args.push_back("--open-for-writing");
  args.push_back(image.string());
  args.push_back(mountPoint_);
  for (const Range& r : bad) args.push_back(std::to_string(r.first) + ":" + std::to_string(r.count));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  server_ = ::fork();
  if (server_ == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (server_ < 0) {
    why = "fork failed";
    return false;
  }
  std::error_code ec;
  const std::filesystem::path served = std::filesystem::path(mountPoint_) / "disk.img";
  const uint64_t size = std::filesystem::file_size(image, ec);
  for (int i = 0; i < 200; ++i) {
    if (std::filesystem::file_size(served, ec) == size && !ec) {
      path_ = served.string();
      return true;
    }
    int status = 0;
    if (::waitpid(server_, &status, WNOHANG) == server_) {
      server_ = -1;
      why = "faulty-file-fs could not mount";
      return false;
    }
    ::usleep(25000);
  }
  why = "faulty-file-fs did not come up";
  return false;
}

bool FaultyDevice::CreateMapped(const std::filesystem::path& image, const std::vector<Range>& bad,
                                std::string& why) {
  if (!HaveTool("dmsetup") || !HaveTool("losetup")) {
    why = "needs dmsetup and losetup";
    return false;
  }
  std::string out;
  if (Run("dmsetup version", &out) != 0) {
    why = "device-mapper is not available here: " + Trimmed(out.substr(0, out.find('\n')));
    return false;
  }
  std::error_code ec;
  const uint64_t sectors = std::filesystem::file_size(image, ec) / 512;
  if (ec || sectors == 0) {
    why = "the image is empty";
    return false;
  }
  if (Run("losetup -f --show " + Quote(image.string()), &out) != 0) {
    why = "losetup failed: " + Trimmed(out);
    return false;
  }
  loop_ = Trimmed(out);

  std::ostringstream table;
  uint64_t at = 0;
  for (const Range& r : bad) {
    if (r.first > at) table << at << ' ' << r.first - at << " linear " << loop_ << ' ' << at << '\n';
    table << r.first << ' ' << r.count << " error\n";
    at = r.first + r.count;
  }
  if (at < sectors) table << at << ' ' << sectors - at << " linear " << loop_ << ' ' << at << '\n';

  name_ = "qm-faulty-" + std::to_string(::getpid()) + "-" + loop_.substr(loop_.rfind('/') + 1);
  if (Run("printf %s " + Quote(table.str()) + " | dmsetup create " + Quote(name_), &out) != 0) {
    why = "dmsetup create failed: " + Trimmed(out);
    name_.clear();
    return false;
  }
  path_ = "/dev/mapper/" + name_;
  return true;
}

FaultyDevice::~FaultyDevice() {
  if (!name_.empty()) Run("dmsetup remove --retry " + Quote(name_));
  if (!loop_.empty()) Run("losetup -d " + Quote(loop_));
  if (server_ > 0) {
    if (Run("fusermount3 -u " + Quote(mountPoint_)) != 0) Run("umount -l " + Quote(mountPoint_));
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(server_, &status, WNOHANG) == 0; ++i) ::usleep(25000);
    if (::waitpid(server_, &status, WNOHANG) == 0) {
      ::kill(server_, SIGKILL);
      ::waitpid(server_, &status, 0);
    }
  }
  if (!mountPoint_.empty()) {
    std::error_code ec;
    std::filesystem::remove(mountPoint_, ec);
  }
}

}  // namespace qm::test
