#include "engines/skipped_areas.h"

namespace qm {

namespace {
// More ranges than this are summed up rather than listed.
constexpr size_t kListedRanges = 8;
}  // namespace

void SkippedAreas::Add(uint64_t firstSector, uint64_t count) {
  AppendSectorRange(ranges_, firstSector, count);
  ++items_;
}

std::string SkippedAreas::Sentence(std::string_view what, std::string_view whats,
                                  std::string_view outcome) const {
  if (items_ == 0) return {};
  std::string text = std::to_string(items_) + " ";
  text += items_ == 1 ? what : whats;
  text += " could not be read";
  text += " (sector";
  text += ranges_.size() == 1 && ranges_[0].count == 1 ? " " : "s ";
  for (size_t i = 0; i < ranges_.size() && i < kListedRanges; ++i) {
    if (i > 0) text += ", ";
    const SectorRange& r = ranges_[i];
    text += std::to_string(r.first);
    if (r.count > 1) {
      text += '-';
      text += std::to_string(r.first + r.count - 1);
    }
  }
  if (ranges_.size() > kListedRanges)
    text += " and " + std::to_string(ranges_.size() - kListedRanges) + " more ranges";
  text += ") and ";
  text += items_ == 1 ? "was" : "were";
  text += ' ';
  text += outcome;
  return text;
}

}  // namespace qm
