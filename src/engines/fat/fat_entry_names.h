// How FAT directory entries' names are shown: short 8.3 names as lower-case
// text, long names from their UTF-16 pieces, and the "." and ".." entries
// that every sub-directory opens with.
#pragma once

#include <string>

#include "engines/fat/fat_directory_entry.h"

namespace qm {

// "NAME    EXT" as shown: trailing blanks cut, A-Z lower-cased, code page 437.
// The first character of a deleted name is lost under the deletion mark and
// shown as '!'.
std::string ShortEntryName(const FatDirEntry& e);

// The collected long name up to its NUL (the 0xFFFF padding after it is
// dropped with it).
std::string LongEntryName(const std::u16string& units);

bool IsDotEntryName(const FatDirEntry& e);

}  // namespace qm
