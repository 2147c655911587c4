#include "engines/deep/ntfs/ntfs_record_locator.h"

namespace qm::ntfs {

std::optional<uint64_t> RecordLocator::Locate(uint64_t number) const {
  const uint64_t spr = static_cast<uint32_t>(sectorsPerRecord);
  if (spr == 0 || number > UINT64_MAX / spr) return std::nullopt;
  if (!map) {
    if (!contiguousBase || *contiguousBase > UINT64_MAX - number * spr) return std::nullopt;
    return *contiguousBase + number * spr;
  }
  return map->SectorOf(number * spr);
}

}  // namespace qm::ntfs
