// Run lists (mapping pairs) of non-resident attributes.
//
// Each pair starts with a header byte:
//
//      7   6   5   4   3   2   1   0
//    +---------------+---------------+
//    |  O: size of   |  L: size of   |
//    |  offset field |  length field |
//    +---------------+---------------+
//
// followed by L bytes of run length in clusters (unsigned) and O bytes of
// cluster offset relative to the previous run's start (signed, little-
// endian). O = 0 is a sparse run: no clusters on disk, it reads as zeros. A
// header byte 0 ends the list.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/ntfs/ntfs_file_record.h"
#include "engines/ntfs/ntfs_layout.h"

namespace qm::ntfs {

struct DataRun {
  uint64_t clusterCount = 0;
  // The offset field as stored: relative to the previous run of the same
  // attribute (0 for a sparse run).
  int64_t lcnDelta = 0;
  // Absolute first cluster of the run (meaningless when sparse). Runs of
  // several attribute extents are joined by this field, since each extent's
  // deltas start again from cluster 0.
  uint64_t lcn = 0;
  bool sparse = false;
};

using RunList = std::vector<DataRun>;

// Appends the runs of a non-resident attribute (its whole bytes) to `out`,
// decoding from the run-list offset (0x20) up to the attribute's end. Stops at
// a header byte 0, a pair with an empty length field or a field wider than 8
// bytes, a pair that would reach past the attribute, or an offset that would
// lead before cluster 0; the runs decoded so far stand. Returns the number of
// clusters appended.
uint64_t DecodeRunList(const Attribute& attribute, RunList& out);

// Total clusters of a run list (saturating).
uint64_t RunListClusters(const RunList& runs);

}  // namespace qm::ntfs
