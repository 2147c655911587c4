// Where each sector of the $MFT's data lies on disk.
//
// The $MFT of a large, long-used volume is split into many runs; every
// record looked up by number goes through this map, so a lookup is a binary
// search over the runs' first sectors rather than a walk of the list.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_run_list.h"

namespace qm::ntfs {

class MftRunMap {
 public:
  MftRunMap() = default;
  MftRunMap(const RunList& runs, const NtfsGeometry& g);

  // The absolute sector of sector `index` of the $MFT's data, or none when
  // the runs do not reach it or it lies in a sparse run. `leftInRun`
  // receives the sectors from `index` to the end of its run (0 when no run
  // holds it).
  std::optional<uint64_t> SectorOf(uint64_t index, uint64_t* leftInRun = nullptr) const;
  // Sectors the runs map, sparse ones included.
  uint64_t sectors() const { return pieces_.empty() ? 0 : pieces_.back().end; }

 private:
  struct Piece {
    uint64_t end = 0;       // first $MFT sector after the run
    uint64_t sectors = 0;
    uint64_t diskStart = 0;  // absolute sector of the run's first sector
    bool mapped = false;     // false for a sparse run or one past 2^64
  };
  std::vector<Piece> pieces_;
};

}  // namespace qm::ntfs
