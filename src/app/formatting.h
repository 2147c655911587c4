// Texts that every window shows for sizes, durations, file times and the
// icon of a result row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// "1023 Bytes", "1.00 KB", "1.50 GB", "1.00 TB": binary units, two decimals.
// Negative counts are printed as whole bytes.
std::string FormatSize(int64_t bytes);

// "59 Sec", "1 Min 0 Sec", "1 Hour 1 Min".
std::string FormatDuration(int64_t seconds);

// "2024-3-7 09:05:00": the FILETIME's calendar fields as stored, with no
// time-zone conversion, month and day without a leading zero.
std::string FormatFileTime(uint64_t fileTime);

// Icon of a result row inside the skin, e.g. "FileIcon/image_error.svg".
// `type` is "folder", a file's extension, or "file" for a name without one;
// `contentOk` clear picks the icon that marks content not matching its type.
std::string FileIconPath(std::string_view type, bool contentOk);

}  // namespace qm
