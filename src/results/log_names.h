// Names of scan logs: the four prefixes, and finding a log again by prefix in
// a scan folder (a resumed deep scan re-opens the logs it wrote before).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

inline constexpr const char* kQuickLogPrefix = "Fast_";
inline constexpr const char* kFatDeepLogPrefix = "Pro_Fat_";
inline constexpr const char* kNtfsDeepLogPrefix = "Pro_Ntfs_";
inline constexpr const char* kCarvingLogPrefix = "File_Type_";

// True for the two side files of a log (names ending in "_Relation" or
// "_DirInfo").
bool IsLogSideFile(std::string_view name);

// The base name of the first main log file (in name order) in `folder` whose
// name contains `prefix`; empty when there is none.
std::string FindScanLogName(const std::filesystem::path& folder, std::string_view prefix);

}  // namespace qm
