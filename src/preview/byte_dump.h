// The preview of a file no viewer understands: its first bytes, one
// character per byte.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace qm {

// Characters per line of a dump.
inline constexpr int kDumpLineChars = 1024;
// How much of a file a dump shows when the file itself was copied out (a
// document its converter could not read).
inline constexpr int kDumpFileBytes = 8192;

// Each byte becomes the character of that value (Latin-1), a zero byte a
// "."; a line break follows every kDumpLineChars characters and ends the dump.
QString ByteDump(const uint8_t* data, size_t size);

}  // namespace qm
