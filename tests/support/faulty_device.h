// A block device that gives real I/O errors at chosen sectors: the image is
// attached to a loop device and mapped through device-mapper, with "error"
// targets over the bad ranges and "linear" targets over the rest. Needs root
// and a kernel with device-mapper; Create() says why when it cannot be made.
#pragma once

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

  // False with `why` set when the machine cannot make one (tests skip then).
  bool Create(const std::filesystem::path& image, const std::vector<Range>& bad, std::string& why);
  // /dev/mapper/<name>, readable like an image file.
  const std::string& path() const { return path_; }

 private:
  std::string loop_;
  std::string name_;
  std::string path_;
};

}  // namespace qm::test
