#include "platform/sysfs_text.h"

#include <charconv>
#include <fstream>

namespace qm {

std::string ReadFirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r' ||
                           line.back() == '\t'))
    line.pop_back();
  return line;
}

bool ReadUnsignedLine(const std::filesystem::path& path, uint64_t& value) {
  const std::string text = ReadFirstLine(path);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace qm
