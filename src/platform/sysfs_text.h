// Small text files of sysfs and procfs: one value on one line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace qm {

// The first line of a file without its trailing blanks; "" when it cannot
// be read.
std::string ReadFirstLine(const std::filesystem::path& path);

// The file's first line as an unsigned decimal; false when it is not one.
bool ReadUnsignedLine(const std::filesystem::path& path, uint64_t& value);

}  // namespace qm
