// Names of scan logs: the four prefixes, and finding a log again by prefix in
// a scan folder (a resumed deep scan re-opens the logs it wrote before).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filetime.h"

namespace qm {

inline constexpr const char* kQuickLogPrefix = "Fast_";
inline constexpr const char* kFatDeepLogPrefix = "Pro_Fat_";
inline constexpr const char* kNtfsDeepLogPrefix = "Pro_Ntfs_";
inline constexpr const char* kCarvingLogPrefix = "File_Type_";

// True for the two side files of a log (names ending in "_Relation" or
// "_DirInfo").
bool IsLogSideFile(std::string_view name);

// Every local time (to the minute) that a base name made by MakeLogBaseName
// can stand for: its fields have no separators and no padding, so
// "..._20261271030" is 27 January or 7 December. Empty when the name holds
// no such time.
std::vector<CivilTime> LogNameTimes(std::string_view baseName);

// The base name of the newest main log file in `folder` whose name contains
// `prefix`; empty when there is none. A log is as old as the time its name
// carries; where the name can be read several ways, the latest reading not
// after the file's last change counts, and where it cannot be read, that
// last change. Equal times go to the file changed last, then to the name
// that sorts first.
std::string FindScanLogName(const std::filesystem::path& folder, std::string_view prefix);

}  // namespace qm
