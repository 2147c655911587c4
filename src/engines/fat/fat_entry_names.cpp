#include "engines/fat/fat_entry_names.h"

#include <cstring>
#include <string_view>

#include "platform/text.h"

namespace qm {

std::string ShortEntryName(const FatDirEntry& e) {
  uint8_t base[8];
  std::memcpy(base, e.name, 8);
  // 0x05 stands for a first byte of 0xE5 that is not a deletion mark.
  if (base[0] == kFatDeletedMark) base[0] = '!';
  else if (base[0] == 0x05) base[0] = 0xE5;
  auto trimmed = [](const uint8_t* p, size_t n) {
    while (n > 0 && p[n - 1] == ' ') --n;
    return n;
  };
  auto lower = [](const uint8_t* p, size_t n) {
    std::string bytes(reinterpret_cast<const char*>(p), n);
    for (char& ch : bytes)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return bytes;
  };
  std::string name = lower(base, trimmed(base, 8));
  const size_t extLength = trimmed(e.ext, 3);
  std::string text = Cp437ToUtf8(reinterpret_cast<const uint8_t*>(name.data()), name.size());
  if (extLength > 0) {
    const std::string ext = lower(e.ext, extLength);
    text += '.';
    text += Cp437ToUtf8(reinterpret_cast<const uint8_t*>(ext.data()), ext.size());
  }
  return text;
}

std::string LongEntryName(const std::u16string& units) {
  const size_t end = units.find(u'\0');
  return Utf16ToUtf8(std::u16string_view(units).substr(0, end));
}

bool IsDotEntryName(const FatDirEntry& e) {
  return e.name[0] == '.' &&
         (std::memcmp(e.name + 1, "       ", 7) == 0 || std::memcmp(e.name + 1, ".      ", 7) == 0);
}

}  // namespace qm
