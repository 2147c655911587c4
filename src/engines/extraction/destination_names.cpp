#include "engines/extraction/destination_names.h"

#include <system_error>

#include "platform/text.h"
#include "results/categories.h"

namespace qm {

namespace {

// Extensions longer than this are treated as part of the name when cutting.
constexpr size_t kKeptExtensionBytes = 16;
// Enough for any real folder; a bound so that a hostile destination cannot
// make the search run on.
constexpr int kMaxUniqueAttempts = 100000;

bool Exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found
         || (ec && ec != std::errc::no_such_file_or_directory);
}

}  // namespace

std::string SafeFileName(std::string_view name) {
  std::string safe;
  safe.reserve(name.size());
  for (char ch : name) {
    const auto b = static_cast<unsigned char>(ch);
    safe.push_back(b < 0x20 || b == 0x7F || ch == '/' || ch == '\\' ? '_' : ch);
  }
  if (safe.empty() || safe == "." || safe == "..") safe.insert(0, "_");
  if (safe.size() > kMaxDestinationNameBytes) {
    const size_t dot = safe.rfind('.');
    const size_t extBytes = dot == std::string::npos ? 0 : safe.size() - dot;
    if (dot != std::string::npos && dot > 0 && extBytes <= kKeptExtensionBytes) {
      safe = CutUtf8(safe.substr(0, dot), kMaxDestinationNameBytes - extBytes) + safe.substr(dot);
    } else {
      safe = CutUtf8(safe, kMaxDestinationNameBytes);
    }
  }
  return safe;
}

std::filesystem::path UniqueDestinationPath(const std::filesystem::path& path) {
  if (!Exists(path)) return path;
  const std::filesystem::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  const std::string ext = path.extension().string();
  for (int n = 1; n <= kMaxUniqueAttempts; ++n) {
    std::filesystem::path candidate = folder / (stem + "(" + std::to_string(n) + ")" + ext);
    if (!Exists(candidate)) return candidate;
  }
  return {};
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
