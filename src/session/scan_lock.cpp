#include "session/scan_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"

namespace qm::session {

ScanFolderLock::~ScanFolderLock() { Release(); }

int ScanFolderLock::Acquire(const std::filesystem::path& folder) {
  Release();
  const std::filesystem::path file = folder / kScanLockName;
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return ErrorFromErrno(errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? err::kBusy : ErrorFromErrno(error);
  }
  fd_ = fd;
  return err::kSuccess;
}

void ScanFolderLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ScanFolderInUse(const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / kScanLockName;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return busy;
}

}  // namespace qm::session
