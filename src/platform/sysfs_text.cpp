#include "platform/sysfs_text.h"

#include <fstream>

#include "platform/text.h"

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
  return ParseDecimal(ReadFirstLine(path), value);
}

}  // namespace qm
