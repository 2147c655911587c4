// A source that gives real I/O errors at chosen sectors, for tests of
// unreadable sectors. Where the kernel has device-mapper, the image goes
// through a loop device and a table of "linear" and "error" targets; else,
// where FUSE can be mounted, it is served by the faulty-file-fs test tool,
// which fails reads of the bad sectors with EIO. Needs root either way;
// Create() says why when neither can be made, and the test skips.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

class FaultyDevice {
 public:
  struct Range {
    uint64_t first;  // 512-byte sectors
    uint64_t count;
  };

  FaultyDevice() = default;
  ~FaultyDevice();
  FaultyDevice(const FaultyDevice&) = delete;
  FaultyDevice& operator=(const FaultyDevice&) = delete;

  // False with `why` set when the machine cannot make one.
  bool Create(const std::filesystem::path& image, const std::vector<Range>& bad, std::string& why);
  // Always a regular file served through FUSE (never a block device), which
  // may also be opened for writing, though every write fails: a stand-in
  // for a program's own file (a scan log) on a failing disk.
  bool CreateFile(const std::filesystem::path& image, const std::vector<Range>& bad,
                  std::string& why);
  // The device or file to read, like an image file.
  const std::string& path() const { return path_; }

 private:
  bool CreateMapped(const std::filesystem::path& image, const std::vector<Range>& bad,
                    std::string& why);
  bool CreateServed(const std::filesystem::path& image, const std::vector<Range>& bad,
                    bool openForWriting, std::string& why);

  std::string loop_;
  std::string name_;
  std::string mountPoint_;
  pid_t server_ = -1;
  std::string path_;
};

}  // namespace qm::test
