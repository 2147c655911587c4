// The second way in to a refused block device: who gets asked, and which
// descriptors are kept.
#include "platform/privileged_open.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "platform/errors.h"
#include "platform/file_handle.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace qm {
namespace {

// Removes the opener and the simulated device however a test ends.
struct OpenerReset {
  ~OpenerReset() {
    SetPrivilegedOpener({});
    testing::SimulateRefusedDevice({});
  }
};

// Runs `check` in a child process that, when this one is root, has become
// the unprivileged user nobody, so that file permissions apply to it.
// Returns the child's exit status (its verdict), or -1.
int RunUnprivileged(const std::function<int()>& check) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(100);
    ::_exit(check());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ReadAll(const FileHandle& handle, size_t length) {
  std::string bytes(length, '\0');
  size_t got = 0;
  if (handle.ReadAt(0, bytes.data(), length, got) != 0) return {};
  bytes.resize(got);
  return bytes;
}

TEST(PrivilegedOpen, AFileOrFolderWithoutPermissionIsNeverTakenToTheOpener) {
  OpenerReset reset;
  test::TempDir dir;
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  test::WriteBytes(dir / "secret.txt", "not yours");
  fs::create_directory(dir / "private");
  fs::permissions(dir / "secret.txt", fs::perms::none);
  fs::permissions(dir / "private", fs::perms::none);

  for (const char* name : {"secret.txt", "private"}) {
    const fs::path path = dir / name;
    const int verdict = RunUnprivileged([&] {
      bool asked = false;
      SetPrivilegedOpener([&](const std::string&, int& fd) {
        asked = true;
        fd = ::open("/dev/null", O_RDONLY);
        return 0;
      });
      FileHandle handle;
      const int rc = handle.OpenReadOnly(path);
      if (asked) return 1;
      return rc == err::kAccessDenied ? 0 : 2;
    });
    EXPECT_EQ(verdict, 0) << name << ": 1 = opener asked, 2 = not refused with Permission denied";
  }
}

TEST(PrivilegedOpen, OnlyAReadOnlyDescriptorOfTheVeryDeviceIsKept) {
  OpenerReset reset;
  test::TempDir dir;
  const fs::path device = dir / "disk.img";
  const fs::path other = dir / "other.img";
  test::WriteBytes(device, "the disk's own sectors");
  test::WriteBytes(other, "someone else's sectors");
  testing::SimulateRefusedDevice(device);

  FileHandle handle;
  EXPECT_EQ(handle.OpenReadOnly(device), err::kAccessDenied) << "no opener installed";

  struct Case {
    const char* what;
    std::function<int(int& fd)> open;
    bool kept;
  };
  const Case cases[] = {
      {"read-only descriptor of the device", [&](int& fd) { fd = ::open(device.c_str(), O_RDONLY); return 0; }, true},
      {"writable descriptor of the device", [&](int& fd) { fd = ::open(device.c_str(), O_RDWR); return 0; }, false},
      {"write-only descriptor of the device", [&](int& fd) { fd = ::open(device.c_str(), O_WRONLY); return 0; }, false},
      {"descriptor of another file", [&](int& fd) { fd = ::open(other.c_str(), O_RDONLY); return 0; }, false},
      {"refusal", [&](int&) { return err::kAccessDenied; }, false},
      {"success without a descriptor", [&](int& fd) { fd = -1; return 0; }, false},
  };
  for (const Case& c : cases) {
    std::string askedFor;
    int handedOut = -1;
    SetPrivilegedOpener([&](const std::string& path, int& fd) {
      askedFor = path;
      const int rc = c.open(fd);
      handedOut = fd;
      return rc;
    });
    const int rc = handle.OpenReadOnly(device);
    EXPECT_EQ(askedFor, fs::canonical(device).string()) << c.what;
    if (c.kept) {
      EXPECT_EQ(rc, err::kSuccess) << c.what;
      EXPECT_EQ(handle.fd(), handedOut) << c.what;
      EXPECT_EQ(ReadAll(handle, 64), "the disk's own sectors") << c.what;
      EXPECT_TRUE(::fcntl(handle.fd(), F_GETFD) & FD_CLOEXEC) << c.what;
    } else {
      // The user reads the error open(2) gave, not the opener's.
      EXPECT_EQ(rc, err::kAccessDenied) << c.what;
      EXPECT_FALSE(handle.IsOpen()) << c.what;
      if (handedOut >= 0) {
        EXPECT_EQ(::fcntl(handedOut, F_GETFD), -1) << c.what << ": refused descriptor left open";
      }
    }
    handle.Close();
  }
}

// A real block device that the unprivileged child may not open: a loop
// device over an image. Needs root and a free loop device, which sandboxes
// often lack; the simulated device above covers the same checks there.
TEST(PrivilegedOpen, ARefusedLoopDeviceIsReadThroughTheOpenersDescriptor) {
  QM_SKIP_IF_MISSING(test::MissingLoopDevices());
  OpenerReset reset;
  test::TempDir dir;
  const fs::path image = dir / "loop.img";
  test::WriteBytes(image, "loop sectors" + std::string(4096 * 4 - 12, '\x5a'));
  std::string loop;
  if (test::Run("losetup --find --show --read-only " + test::Quote(image.string()), &loop) != 0)
    GTEST_SKIP() << test::kNeedsLoopDevices << ": losetup could not attach the image: " << loop;
  while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' ')) loop.pop_back();
  struct Detach {
    std::string device;
    ~Detach() { test::Run("losetup --detach " + test::Quote(device)); }
  } detach{loop};
  ::chmod(loop.c_str(), 0600);

  // Descriptors the child's opener hands back, opened while still root.
  const int deviceFd = ::open(loop.c_str(), O_RDONLY | O_CLOEXEC);
  const int imageFd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(deviceFd, 0);
  ASSERT_GE(imageFd, 0);
  for (const bool handDevice : {true, false}) {
    const int verdict = RunUnprivileged([&] {
      FileHandle handle;
      if (handle.OpenReadOnly(loop) != err::kAccessDenied) return 3;
      SetPrivilegedOpener([&](const std::string&, int& fd) {
        fd = ::dup(handDevice ? deviceFd : imageFd);
        return 0;
      });
      const int rc = handle.OpenReadOnly(loop);
      if (!handDevice) return rc == err::kAccessDenied ? 0 : 4;
      if (rc != 0) return 5;
      uint64_t size = 0;
      if (handle.Size(size) != 0 || size != 4096 * 4) return 6;
      return ReadAll(handle, 12) == "loop sectors" ? 0 : 7;
    });
    EXPECT_EQ(verdict, 0) << (handDevice ? "the device's descriptor" : "the backing file's descriptor");
  }
  ::close(deviceFd);
  ::close(imageFd);
}

}  // namespace
}  // namespace qm
