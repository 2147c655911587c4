#include "engines/extraction/destination_names.h"

#include <system_error>

#include "results/categories.h"

namespace qm {

namespace {

// Extensions longer than this are treated as part of the name when cutting.
constexpr size_t kKeptExtensionBytes = 16;
// Enough for any real folder; a bound so that a hostile destination cannot
// make the search run on.
constexpr uint32_t kMaxUniqueAttempts = 100000;

bool Exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found
         || (ec && ec != std::errc::no_such_file_or_directory);
}

bool IsContinuationByte(char ch) { return (static_cast<unsigned char>(ch) & 0xC0) == 0x80; }

// The first `maxBytes` bytes of `text`, moved back to the start of a UTF-8
// character. A character is at most 4 bytes long: a longer run of
// continuation bytes is not UTF-8, and is cut where the limit falls.
std::string_view CutAtCharacter(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  while (end > 0 && maxBytes - end < 3 && IsContinuationByte(text[end])) --end;
  if (IsContinuationByte(text[end])) end = maxBytes;
  return text.substr(0, end);
}

}  // namespace

std::string SafeFileName(std::string_view name) {
  std::string safe;
  safe.reserve(name.size() + 1);
  // Nothing, "." and "..", and a bare extension such as ".jpg" (a file the
  // user would not see) get a name in front.
  if (name.empty() || name == "." || name == ".." ||
      (name.front() == '.' && name.find('.', 1) == std::string_view::npos))
    safe.push_back('_');
  for (char ch : name) {
    const auto b = static_cast<unsigned char>(ch);
    safe.push_back(b < 0x20 || b == 0x7F || ch == '/' || ch == '\\' ? '_' : ch);
  }
  if (safe.size() <= kMaxDestinationNameBytes) return safe;
  const size_t dot = safe.rfind('.');
  const size_t extBytes = dot == std::string::npos ? 0 : safe.size() - dot;
  if (dot != std::string::npos && dot > 0 && extBytes <= kKeptExtensionBytes) {
    const std::string_view stem = CutAtCharacter(std::string_view(safe).substr(0, dot),
                                                 kMaxDestinationNameBytes - extBytes);
    std::string cut;
    cut.reserve(stem.size() + extBytes);
    cut.append(stem).append(safe, dot, std::string::npos);
    return cut;
  }
  return std::string(CutAtCharacter(safe, kMaxDestinationNameBytes));
}

std::filesystem::path DestinationNamer::Next(const std::filesystem::path& path) {
  auto remembered = lastNumber_.find(path);
  if (remembered == lastNumber_.end() && !Exists(path)) return path;
  const std::filesystem::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  const std::string ext = path.extension().string();
  uint32_t& last = remembered == lastNumber_.end() ? lastNumber_[path] : remembered->second;
  while (last < kMaxUniqueAttempts) {
    ++last;
    std::filesystem::path candidate = folder / (stem + "(" + std::to_string(last) + ")" + ext);
    if (!Exists(candidate)) return candidate;
  }
  return {};
}

std::filesystem::path UniqueDestinationPath(const std::filesystem::path& path) {
  DestinationNamer namer;
  return namer.Next(path);
}

int CountSeparators(std::string_view text) {
  int count = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '/' || text[i] == '\\') ++count;
  return count;
}

std::filesystem::path CategoryDestination(const std::filesystem::path& root,
                                          std::string_view recordName) {
  return UniqueDestinationPath(root / CategoryOfName(recordName) / SafeFileName(recordName));
}

}  // namespace qm
