#include "support/faulty_device.h"

#include <unistd.h>

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
  if (::geteuid() != 0) {
    why = "needs root";
    return false;
  }
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
}

}  // namespace qm::test
