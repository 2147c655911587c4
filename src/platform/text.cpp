#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace qm {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Malformed input yields
// U+FFFD and advances by one byte.
char32_t NextCodePoint(std::string_view text, size_t& i) {
  auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t cp;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= text.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return cp;
}

// Code page 437, bytes 0x80..0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
    0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

char32_t SimpleLower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;               // Latin-1
  if (c >= 0x100 && c <= 0x137) return (c & 1) == 0 ? c + 1 : c;         // Latin Extended-A
  if (c >= 0x139 && c <= 0x148) return (c & 1) == 1 ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return (c & 1) == 0 ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) == 1 ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;               // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                             // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        u = kReplacement;
      }
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      u = kReplacement;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t units) {
  std::u16string text;
  text.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    char16_t u = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (u == 0) break;
    text.push_back(u);
  }
  return Utf16ToUtf8(text);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t cp = NextCodePoint(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Cp437ToUtf8(const uint8_t* bytes, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length && bytes[i] != 0; ++i) {
    uint8_t b = bytes[i];
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp437High[b - 0x80]});
  }
  return out;
}

std::string CutUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t end = maxBytes;
  // Step back over continuation bytes so that no character is split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

void CopyNameToField(std::string_view name, char* field, size_t fieldSize) {
  std::memset(field, 0, fieldSize);
  if (fieldSize == 0) return;
  std::string cut = CutUtf8(name.substr(0, std::min(name.find('\0'), name.size())), fieldSize - 1);
  std::memcpy(field, cut.data(), cut.size());
}

std::string NameFromField(const char* field, size_t fieldSize) {
  const void* nul = std::memchr(field, 0, fieldSize);
  size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : fieldSize;
  return std::string(field, length);
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

std::string LowerUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    char32_t cp = NextCodePoint(text, i);
    if (cp == kReplacement && i == start + 1) {
      out.push_back(text[start]);  // keep undecodable bytes as they are
      continue;
    }
    AppendUtf8(out, SimpleLower(cp));
  }
  return out;
}

int CompareNamesNoCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t ca, cb;
    auto ua = static_cast<unsigned char>(a[i]);
    auto ub = static_cast<unsigned char>(b[j]);
    if (ua < 0x80 && ub < 0x80) {  // fast path for ASCII
      ca = SimpleLower(ua);
      cb = SimpleLower(ub);
      ++i;
      ++j;
    } else {
      ca = SimpleLower(NextCodePoint(a, i));
      cb = SimpleLower(NextCodePoint(b, j));
    }
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool ParseDecimal(std::string_view text, uint64_t& value) {
  uint64_t parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

}  // namespace qm
