// Areas of the source that a scan could not read and went past. A failing
// disk must not end a scan at its first bad sector, but what was skipped is
// said: files filed there are missing from the listing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_source.h"

namespace qm {

class SkippedAreas {
 public:
  // One unreadable structure (`count` sectors from `firstSector`).
  void Add(uint64_t firstSector, uint64_t count);
  void Clear() { ranges_.clear(), items_ = 0; }
  bool empty() const { return items_ == 0; }
  uint64_t items() const { return items_; }
  const std::vector<SectorRange>& ranges() const { return ranges_; }

  // One sentence for the user, e.g. "2 MFT records could not be read
  // (sectors 96-97, 120-121) and were skipped: ...". `what` names one item,
  // `whats` several. `outcome` says what became of them.
  std::string Sentence(std::string_view what, std::string_view whats,
                       std::string_view outcome = kNotListed) const;

  static constexpr std::string_view kNotListed =
      "skipped; files filed there are not listed. A deep scan may still find them.";

 private:
  std::vector<SectorRange> ranges_;
  uint64_t items_ = 0;
};

}  // namespace qm
