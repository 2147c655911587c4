// Where the records of one MFT lie on disk, as far as the deep scan knows.
//
// When the MFT's record 0 has been found, its $DATA runs map every record
// number; otherwise the MFT is taken to be contiguous around the record that
// was found, which holds for all but the largest, most fragmented MFTs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "engines/ntfs/ntfs_mft_run_map.h"
#include "engines/ntfs/ntfs_run_list.h"

namespace qm::ntfs {

struct RecordLocator {
  uint64_t volumeStart = 0;
  int32_t sectorsPerCluster = 8;
  int32_t sectorsPerRecord = 2;
  // The MFT's own runs and their map, shared by every record of that MFT;
  // null for a contiguous MFT whose record 0 would lie at `contiguousBase`
  // (none when the record lay too near the disk's start for that).
  std::shared_ptr<const RunList> runs;
  std::shared_ptr<const MftRunMap> map;
  std::optional<uint64_t> contiguousBase;

  // The first sector of record `number`, or none when the runs do not map it.
  std::optional<uint64_t> Locate(uint64_t number) const;
};

}  // namespace qm::ntfs
