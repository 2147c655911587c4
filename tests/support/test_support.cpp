#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace qm::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "quillmark-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
  fs::create_directories(path_ / "ScanLog");
  ::setenv("QUILLMARK_DATA_DIR", (path_ / "ScanLog").c_str(), 1);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

int Run(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> chunk{};
  std::string text;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
  int status = ::pclose(pipe);
  if (output) *output = std::move(text);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool HaveTool(const std::string& tool) {
  return Run("PATH=\"$PATH:/sbin:/usr/sbin\" command -v " + Quote(tool) + " >/dev/null") == 0;
}

bool CanMountFuse() { return MissingNtfsMount().empty(); }

namespace {
// "<tag>: a, b and c", or "" when nothing is missing.
std::string Needs(const char* tag, const std::vector<std::string>& missing) {
  if (missing.empty()) return {};
  std::string text = std::string(tag) + ": ";
  for (size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) text += i + 1 == missing.size() ? " and " : ", ";
    text += missing[i];
  }
  return text;
}
}  // namespace

std::string MissingNtfsMount() {
  std::vector<std::string> missing;
  if (::geteuid() != 0) missing.push_back("not running as root");
  if (!fs::exists("/dev/fuse")) missing.push_back("no /dev/fuse");
  if (!HaveTool("ntfs-3g")) missing.push_back("ntfs-3g is not installed (apt-get install ntfs-3g)");
  if (!HaveTool("mkntfs")) missing.push_back("mkntfs is not installed (apt-get install ntfs-3g)");
  return Needs(kNeedsNtfs3g, missing);
}

std::string MissingMkntfs() {
  if (HaveTool("mkntfs")) return {};
  return Needs(kNeedsNtfs3g, {"mkntfs is not installed (apt-get install ntfs-3g)"});
}

std::string MissingLoopDevices() {
  std::vector<std::string> missing;
  if (::geteuid() != 0) missing.push_back("not running as root");
  if (!HaveTool("losetup")) missing.push_back("losetup is not installed (apt-get install util-linux)");
  std::string output;
  if (missing.empty() && Run("PATH=\"$PATH:/sbin:/usr/sbin\" losetup --find", &output) != 0) {
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
    missing.push_back("no free loop device (losetup --find: " + output + ")");
  }
  return Needs(kNeedsLoopDevices, missing);
}

std::string MakeContent(size_t bytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>(rng() & 0xFF);
  return out;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {
const char* kSbinPath = "PATH=\"$PATH:/sbin:/usr/sbin\" ";

bool RunOrFail(const std::string& command) {
  std::string output;
  int rc = Run(std::string(kSbinPath) + command, &output);
  if (rc != 0) ADD_FAILURE() << "command failed (" << rc << "): " << command << "\n" << output;
  return rc == 0;
}
}  // namespace

FatImageBuilder::FatImageBuilder(fs::path image, int fatBits, uint64_t sizeKiB,
                                 int sectorsPerCluster, std::string label)
    : image_(std::move(image)),
      fatBits_(fatBits),
      sizeKiB_(sizeKiB),
      sectorsPerCluster_(sectorsPerCluster),
      label_(std::move(label)),
      scratch_(image_.string() + ".files") {}

bool FatImageBuilder::Create() {
  std::error_code ec;
  fs::remove(image_, ec);
  std::string command = "mkfs.fat -C -F " + std::to_string(fatBits_) + " -n " + Quote(label_);
  if (sectorsPerCluster_ > 0) command += " -s " + std::to_string(sectorsPerCluster_);
  command += " " + Quote(image_.string()) + " " + std::to_string(sizeKiB_) + " >/dev/null";
  return RunOrFail(command);
}

bool FatImageBuilder::Mtools(const std::string& args) {
  // MTOOLS_SKIP_CHECK: mkfs.fat images of odd sizes are fine for us.
  return RunOrFail("MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 " + args);
}

bool FatImageBuilder::MakeDir(const std::string& path) {
  std::string sofar;
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    sofar += "/" + part;
    std::string probe;
    if (Run("MTOOLS_SKIP_CHECK=1 mdir -i " + Quote(image_.string()) + " " + Quote("::" + sofar),
            &probe) == 0)
      continue;
    if (!Mtools("mmd -i " + Quote(image_.string()) + " " + Quote("::" + sofar))) return false;
  }
  return true;
}

bool FatImageBuilder::AddFile(const std::string& path, const std::string& content) {
  fs::create_directories(scratch_);
  fs::path host = scratch_ / "content.bin";
  WriteBytes(host, content);
  bool ok = AddHostFile(path, host);
  fs::remove(host);
  return ok;
}

bool FatImageBuilder::AddHostFile(const std::string& path, const fs::path& hostFile) {
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDir(path.substr(0, slash))) return false;
  return Mtools("mcopy -o -i " + Quote(image_.string()) + " " + Quote(hostFile.string()) + " " +
                Quote("::/" + path));
}

bool FatImageBuilder::Delete(const std::string& path) {
  return Mtools("mdel -i " + Quote(image_.string()) + " " + Quote("::/" + path));
}

bool FatImageBuilder::DeleteTree(const std::string& path) {
  return Mtools("mdeltree -i " + Quote(image_.string()) + " " + Quote("::/" + path));
}

bool FatImageBuilder::ClearArchiveBit(const std::string& path) {
  return Mtools("mattrib -i " + Quote(image_.string()) + " -a " + Quote("::/" + path));
}

NtfsImageBuilder::NtfsImageBuilder(fs::path image, uint64_t sizeMiB, std::string label,
                                   int clusterBytes)
    : image_(std::move(image)),
      sizeMiB_(sizeMiB),
      label_(std::move(label)),
      clusterBytes_(clusterBytes),
      mountPoint_(image_.string() + ".mnt") {}

NtfsImageBuilder::~NtfsImageBuilder() {
  if (mounted_) Unmount();
}

bool NtfsImageBuilder::Create() {
  std::error_code ec;
  fs::remove(image_, ec);
  if (!RunOrFail("truncate -s " + std::to_string(sizeMiB_) + "M " + Quote(image_.string())))
    return false;
  return RunOrFail("mkntfs -q -F -Q -c " + std::to_string(clusterBytes_) + " -L " +
                   Quote(label_) + " " + Quote(image_.string()) + " >/dev/null");
}

bool NtfsImageBuilder::Mount() {
  if (mounted_) return true;
  fs::create_directories(mountPoint_);
  mounted_ = RunOrFail("ntfs-3g -o no_def_opts " + Quote(image_.string()) + " " +
                       Quote(mountPoint_.string()));
  return mounted_;
}

bool NtfsImageBuilder::Unmount() {
  if (!mounted_) return true;
  // Flush first: the image must hold every write before it is scanned.
  Run("sync");
  bool ok = RunOrFail("umount " + Quote(mountPoint_.string()));
  if (!ok) ok = RunOrFail("fusermount -u " + Quote(mountPoint_.string()));
  mounted_ = !ok;
  return ok;
}

bool NtfsImageBuilder::MakeDir(const std::string& path) {
  std::error_code ec;
  fs::create_directories(mountPoint_ / path, ec);
  if (ec) ADD_FAILURE() << "mkdir " << path << ": " << ec.message();
  return !ec;
}

bool NtfsImageBuilder::AddFile(const std::string& path, const std::string& content) {
  fs::path target = mountPoint_ / path;
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) ADD_FAILURE() << "writing " << path << " failed";
  return static_cast<bool>(out);
}

bool NtfsImageBuilder::Delete(const std::string& path) {
  std::error_code ec;
  fs::remove_all(mountPoint_ / path, ec);
  if (ec) ADD_FAILURE() << "delete " << path << ": " << ec.message();
  return !ec;
}

}  // namespace qm::test
