// Text conversions between the encodings found on disk and UTF-8.
//
// Inside the program every name is UTF-8. UTF-16LE appears only inside file
// formats that store it (NTFS names, FAT long names, the history index); FAT
// short names are OEM bytes and are read as code page 437.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Longest name a found-file record holds: 259 bytes plus the NUL.
inline constexpr size_t kMaxRecordNameBytes = 259;

// Decodes UTF-16 code units (host order). Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Decodes `units` little-endian UTF-16 code units from raw bytes, stopping at
// the first NUL unit.
std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t units);
// Encodes UTF-8 as UTF-16; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Decodes code page 437 bytes (FAT short names); stops at the first NUL.
std::string Cp437ToUtf8(const uint8_t* bytes, size_t length);

// Cuts UTF-8 text to at most maxBytes without splitting a character.
std::string CutUtf8(std::string_view text, size_t maxBytes = kMaxRecordNameBytes);

// Copies a UTF-8 name into a fixed field of fieldSize bytes, cut at a
// character boundary and NUL-terminated; the rest of the field is zeroed.
void CopyNameToField(std::string_view name, char* field, size_t fieldSize);
// Reads a NUL-terminated name from a fixed field (never past its end).
std::string NameFromField(const char* field, size_t fieldSize);

// ASCII-only lower-casing (extensions, fixed keywords).
std::string AsciiLower(std::string_view text);
// Case-insensitive compare of two UTF-8 names (Unicode simple lower-casing of
// the Latin, Greek and Cyrillic blocks; other characters compare by value).
int CompareNamesNoCase(std::string_view a, std::string_view b);
// Lower-cases a UTF-8 text with the same rules.
std::string LowerUtf8(std::string_view text);

// The whole of `text` as an unsigned decimal number: no sign, no blanks, no
// trailing characters, no overflow. False (value untouched) otherwise.
bool ParseDecimal(std::string_view text, uint64_t& value);

}  // namespace qm
