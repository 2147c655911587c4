// Naming of recovered files: names from a scanned volume made safe to use
// inside the destination folder, unique destination paths, and the
// category folder layout of a recovery.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace qm {

// Longest name this program creates in a destination folder: room is left
// under the 255-byte limit of Linux file systems for a "(n)" suffix and a
// ".partial" ending.
inline constexpr size_t kMaxDestinationNameBytes = 230;

// A found name as a single path component that stays inside the folder it
// is joined to and can be seen there: '/' '\\' NUL and control characters
// become '_'; the empty name, "." and ".." and a bare extension (".jpg")
// are prefixed with '_'; an over-long name is cut at a character
// boundary (at the byte limit where the name is not UTF-8), keeping a short
// extension.
std::string SafeFileName(std::string_view name);

// Hands out free destination paths: `path` when nothing exists there (not
// even a dangling link), else the first free "stem(n).ext" beside it. It
// remembers how far each name's search got, so that a thousand files of
// one name cost a thousand checks, not half a million. A path handed out
// is only free when checked: create it with O_EXCL and ask again when that
// fails.
class DestinationNamer {
 public:
  // Empty when no free name was found.
  std::filesystem::path Next(const std::filesystem::path& path);

 private:
  std::map<std::filesystem::path, uint32_t> lastNumber_;
};

// `path` when free, else the first free "stem(n).ext" beside it (a one-off
// search; use a DestinationNamer for many files).
std::filesystem::path UniqueDestinationPath(const std::filesystem::path& path);

// The number of '/' and '\\' characters in `text`, not counting its last
// character.
int CountSeparators(std::string_view text);

// root/<category>/<safe name>, made unique: where a file chosen from the
// category view is recovered to.
std::filesystem::path CategoryDestination(const std::filesystem::path& root,
                                          std::string_view recordName);

}  // namespace qm
