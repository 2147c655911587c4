// Naming of recovered files: names from a scanned volume made safe to use
// inside the destination folder, unique destination paths, and the
// category folder layout of a recovery.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

// Longest name this program creates in a destination folder: room is left
// under the 255-byte limit of Linux file systems for a "(n)" suffix.
inline constexpr size_t kMaxDestinationNameBytes = 240;

// A found name as a single path component that stays inside the folder it
// is joined to: '/' '\\' NUL and control characters become '_', "." and ".."
// and the empty name are prefixed with '_', and an over-long name is cut at
// a character boundary, keeping a short extension.
std::string SafeFileName(std::string_view name);

// `path` when nothing exists there (not even a dangling link), else the
// first free "stem(n).ext" beside it. Empty when no free name was found.
std::filesystem::path UniqueDestinationPath(const std::filesystem::path& path);

// The number of '/' and '\\' characters in `text`, not counting its last
// character.
int CountSeparators(std::string_view text);

// root/<category>/<safe name>, made unique: where a file chosen from the
// category view is recovered to.
std::filesystem::path CategoryDestination(const std::filesystem::path& root,
                                          std::string_view recordName);

}  // namespace qm
