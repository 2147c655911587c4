#include "platform/privileged_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <system_error>

namespace qm {

namespace {

struct Registry {
  std::mutex mutex;
  std::shared_ptr<const PrivilegedOpener> opener;
  std::filesystem::path simulated;
  // Every open asks whether its path is simulated; this spares them the lock.
  std::atomic<bool> anySimulated{false};
};

Registry& Shared() {
  static Registry registry;
  return registry;
}

std::shared_ptr<const PrivilegedOpener> CurrentOpener() {
  Registry& r = Shared();
  std::lock_guard lock(r.mutex);
  return r.opener;
}

// The descriptor must be what the caller asked for: opened for reading only
// (a writable descriptor of a disk being recovered is never kept) and of the
// very device the path names, not of something the opener mixed up.
bool IsReadOnlyDescriptorOf(int fd, const struct stat& wanted) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) return false;
  struct stat got {};
  if (::fstat(fd, &got) != 0) return false;
  if (S_ISBLK(wanted.st_mode)) return S_ISBLK(got.st_mode) && got.st_rdev == wanted.st_rdev;
  return S_ISREG(got.st_mode) && got.st_dev == wanted.st_dev && got.st_ino == wanted.st_ino;
}

}  // namespace

void SetPrivilegedOpener(PrivilegedOpener opener) {
  auto shared = opener ? std::make_shared<const PrivilegedOpener>(std::move(opener)) : nullptr;
  Registry& r = Shared();
  std::lock_guard lock(r.mutex);
  r.opener = std::move(shared);
}

bool OpenThroughPrivilegedOpener(const std::filesystem::path& path, int openErrno, int& fd) {
  if (openErrno != EACCES && openErrno != EPERM) return false;
  const auto opener = CurrentOpener();
  if (!opener) return false;
  struct stat wanted {};
  if (::stat(path.c_str(), &wanted) != 0) return false;
  // A file the user may not read stays unreadable: only disks are worth
  // asking the system for.
  if (!S_ISBLK(wanted.st_mode) && !(S_ISREG(wanted.st_mode) && testing::IsSimulatedRefusedDevice(path)))
    return false;

  // The service knows devices by their node: /dev/disk/by-id/... becomes /dev/sdb.
  std::error_code ec;
  std::filesystem::path device = std::filesystem::canonical(path, ec);
  if (ec) device = path;
  int got = -1;
  if ((*opener)(device.string(), got) != 0 || got < 0) return false;
  if (!IsReadOnlyDescriptorOf(got, wanted)) {
    ::close(got);
    return false;
  }
  // Like every descriptor the core opens: not passed on to helper programs.
  const int fdFlags = ::fcntl(got, F_GETFD);
  if (fdFlags >= 0) ::fcntl(got, F_SETFD, fdFlags | FD_CLOEXEC);
  fd = got;
  return true;
}

namespace testing {

void SimulateRefusedDevice(const std::filesystem::path& path) {
  Registry& r = Shared();
  std::lock_guard lock(r.mutex);
  r.simulated = path.lexically_normal();
  r.anySimulated = !r.simulated.empty();
}

bool IsSimulatedRefusedDevice(const std::filesystem::path& path) {
  Registry& r = Shared();
  if (!r.anySimulated) return false;
  std::lock_guard lock(r.mutex);
  return !r.simulated.empty() && r.simulated == path.lexically_normal();
}

}  // namespace testing

}  // namespace qm
