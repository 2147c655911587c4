#include "results/relation_text.h"

#include <charconv>

namespace qm {

std::string FormatRelationText(const RelationMap& relations) {
  size_t estimate = 0;
  for (const auto& [key, list] : relations) estimate += 32 + list.size() * 11;
  std::string text;
  text.reserve(estimate);
  char number[24];
  for (const auto& [key, list] : relations) {
    text += " | ";
    text.append(number, std::to_chars(number, number + sizeof number, key).ptr);
    text += " - [";
    for (size_t i = 0; i < list.size(); ++i) {
      if (i > 0) text += ',';
      text.append(number, std::to_chars(number, number + sizeof number, list[i]).ptr);
    }
    text += ']';
  }
  return text;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of decimal digits at `pos`; false when there is none or the
// value does not fit in 64 bits.
bool ReadDecimal(std::string_view text, size_t& pos, uint64_t& value) {
  const char* begin = text.data() + pos;
  const char* end = text.data() + text.size();
  if (begin == end || !IsDigit(*begin)) return false;
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc()) {
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
    return false;
  }
  pos = static_cast<size_t>(ptr - text.data());
  return true;
}

}  // namespace

RelationMap ParseRelationText(std::string_view text, uint64_t recordCount) {
  constexpr std::string_view kKeyStart = " | ";
  constexpr std::string_view kListStart = " - [";
  RelationMap relations;
  size_t pos = 0;
  while ((pos = text.find(kKeyStart, pos)) != std::string_view::npos) {
    pos += kKeyStart.size();
    uint64_t key = 0;
    if (!ReadDecimal(text, pos, key)) continue;
    if (text.substr(pos, kListStart.size()) != kListStart) continue;
    pos += kListStart.size();

    std::vector<uint32_t> list;
    while (pos < text.size()) {
      uint64_t index = 0;
      const bool haveNumber = ReadDecimal(text, pos, index);
      if (pos >= text.size()) break;  // cut short: the last number may be partial
      const char end = text[pos];
      if (end != ',' && end != ']') break;  // damaged list: keep what came before
      ++pos;
      if (haveNumber && index >= 1 && index <= recordCount) {
        list.push_back(static_cast<uint32_t>(index));
      }
      if (end == ']') break;
    }
    if (list.empty()) {
      relations.erase(key);
    } else {
      relations[key] = std::move(list);
    }
  }
  return relations;
}

uint64_t MaxRelationTextBytes(uint64_t recordCount) {
  // " | " + 20 digits + " - [" + 10 digits + "]"
  return recordCount * 38 + 64;
}

}  // namespace qm
