#include "disk/volumes/mount_table.h"

#include <fstream>
#include <sstream>

#include "platform/errors.h"

namespace qm {

namespace {
// mountinfo writes space, tab, newline and backslash as \ooo octal escapes.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}
}  // namespace

int MountTable::Load(const std::filesystem::path& mountinfo) {
  entries_.clear();
  std::ifstream in(mountinfo);
  if (!in) return err::kFileNotFound;
  std::ostringstream text;
  text << in.rdbuf();
  Parse(text.str());
  return err::kSuccess;
}

void MountTable::Parse(const std::string& text) {
  entries_.clear();
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    size_t dash = 0;
    for (size_t i = 6; i < fields.size(); ++i) {
      if (fields[i] == "-") {
        dash = i;
        break;
      }
    }
    if (dash == 0 || dash + 2 >= fields.size()) continue;
    entries_.push_back({fields[2], Unescape(fields[3]), Unescape(fields[4]), fields[dash + 1],
                        Unescape(fields[dash + 2])});
  }
}

std::string MountTable::MountPointOf(const std::string& devNumber,
                                     const std::string& devicePath) const {
  std::string partial;
  for (const auto& e : entries_) {
    const bool match = (!devNumber.empty() && e.devNumber == devNumber) ||
                       (!devicePath.empty() && e.source == devicePath);
    if (!match) continue;
    if (e.root == "/") return e.mountPoint;
    if (partial.empty()) partial = e.mountPoint;
  }
  return partial;
}

}  // namespace qm
