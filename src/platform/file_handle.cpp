#include "platform/file_handle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/privileged_open.h"

namespace qm {

namespace {
int OpenWith(const std::filesystem::path& path, int flags, int mode, int& fdOut, int* openErrno = nullptr) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (openErrno != nullptr) *openErrno = errno;
    return LastError();
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return err::kDirectory;
  }
  fdOut = fd;
  return err::kSuccess;
}
}  // namespace

int FileHandle::OpenReadOnly(const std::filesystem::path& path) {
  Close();
  int openErrno = 0;
  int rc;
  if (testing::IsSimulatedRefusedDevice(path)) {
    openErrno = EACCES;
    rc = err::kAccessDenied;
  } else {
    rc = OpenWith(path, O_RDONLY, 0, fd_, &openErrno);
  }
  if (rc != err::kSuccess && OpenThroughPrivilegedOpener(path, openErrno, fd_)) return err::kSuccess;
  return rc;
}

int FileHandle::OpenReadWrite(const std::filesystem::path& path, int mode) {
  Close();
  return OpenWith(path, O_RDWR | O_CREAT, mode, fd_);
}

int FileHandle::CreateExclusive(const std::filesystem::path& path, int mode) {
  Close();
  return OpenWith(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, mode, fd_);
}

int FileHandle::CreateForWrite(const std::filesystem::path& path, int mode) {
  Close();
  return OpenWith(path, O_WRONLY | O_CREAT | O_TRUNC, mode, fd_);
}

void FileHandle::Close() {
  if (fd_ != kInvalid) {
    ::close(fd_);
    fd_ = kInvalid;
  }
}

bool FileHandle::IsBlockDevice() const {
  struct stat st {};
  return fd_ != kInvalid && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

int FileHandle::Size(uint64_t& bytes) const {
  bytes = 0;
  if (fd_ == kInvalid) return err::kInvalidHandle;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return LastError();
  if (S_ISBLK(st.st_mode)) {
    uint64_t length = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &length) != 0) return LastError();
    bytes = length;
    return err::kSuccess;
  }
  bytes = static_cast<uint64_t>(st.st_size);
  return err::kSuccess;
}

int FileHandle::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const {
  got = 0;
  if (fd_ == kInvalid) return err::kInvalidHandle;
  auto* out = static_cast<unsigned char*>(buffer);
  while (got < length) {
    ssize_t n = ::pread(fd_, out + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return err::kSuccess;
}

int FileHandle::WriteAt(uint64_t offset, const void* buffer, size_t length) const {
  if (fd_ == kInvalid) return err::kInvalidHandle;
  const auto* in = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return err::kWriteFault;
    done += static_cast<size_t>(n);
  }
  return err::kSuccess;
}

int FileHandle::Truncate(uint64_t length) const {
  if (fd_ == kInvalid) return err::kInvalidHandle;
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return LastError();
  return err::kSuccess;
}

}  // namespace qm
