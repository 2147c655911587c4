#include "cli/terminal_text.h"

#include <cstdio>

namespace qm::cli {

namespace {

std::string Hex(const char* format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Length of the valid UTF-8 sequence at text[i] (its code point in `cp`),
// 0 when the bytes there are not one.
size_t Utf8Sequence(const std::string& text, size_t i, uint32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, cp = lead & 0x1F, minimum = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, cp = lead & 0x0F, minimum = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, cp = lead & 0x07, minimum = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string TerminalSafe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c >= 0x20 && c != 0x7F) out += static_cast<char>(c);
      else if (c == '\n') out += "\\n";
      else if (c == '\r') out += "\\r";
      else if (c == '\t') out += "\\t";
      else if (c == 0x1B) out += "\\e";
      else out += Hex("\\x%02x", c);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t length = Utf8Sequence(text, i, cp);
    if (length == 0) {
      // A stray byte: some terminals take 0x9B alone as the start of a command.
      out += Hex("\\x%02x", c);
      ++i;
    } else if (cp < 0xA0) {
      out += Hex("\\u%04x", cp);
      i += length;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) out += Hex("\\u%04x", c);
        else out += static_cast<char>(c);
    }
  }
  return out;
}

std::string CountOf(uint64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

}  // namespace qm::cli
