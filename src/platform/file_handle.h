// RAII wrapper around a POSIX file descriptor.
//
// Holds -1 when closed. Scanned sources are only ever opened read-only; the
// one writable handle the core makes is for files it creates itself (images,
// recovered files, scan logs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <utility>

namespace qm {

class FileHandle {
 public:
  static constexpr int kInvalid = -1;

  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, kInvalid)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, kInvalid);
    }
    return *this;
  }

  // Opens an existing file or block device for reading only. Refuses a
  // directory with 267. Returns 0 or an error code. A block device that
  // open(2) refuses is tried once more through the installed privileged
  // opener, if any (platform/privileged_open.h).
  int OpenReadOnly(const std::filesystem::path& path);
  // Opens (creating when absent, never truncating) a file for reading and writing.
  int OpenReadWrite(const std::filesystem::path& path, int mode = 0644);
  // Creates a new file for reading and writing; fails with 183 when anything,
  // even a dangling symbolic link, already has that name, so nothing put
  // there by someone else is overwritten or followed.
  int CreateExclusive(const std::filesystem::path& path, int mode = 0644);
  // Creates or truncates a file for writing.
  int CreateForWrite(const std::filesystem::path& path, int mode = 0644);

  void Close();
  bool IsOpen() const { return fd_ != kInvalid; }
  int fd() const { return fd_; }

  // Size in bytes: the length of a block device or the size of a file.
  int Size(uint64_t& bytes) const;
  bool IsBlockDevice() const;

  // pread until `length` bytes arrived, end of file or an error. `got` holds
  // the bytes actually read; returns 0 or an error code.
  int ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const;
  // pwrite until every byte is written; a zero-byte write is a failure (29).
  int WriteAt(uint64_t offset, const void* buffer, size_t length) const;
  int Truncate(uint64_t length) const;

 private:
  int fd_ = kInvalid;
};

}  // namespace qm
