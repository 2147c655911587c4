// The cluster size of an NTFS volume whose boot sector may be gone.
//
// Before any record has been seen it is guessed from the volume's size, the
// way the formatter picks it by default. Every file record whose data is
// non-resident then tells it exactly: the allocated size of its $DATA divided
// by the clusters its runs cover.
#pragma once

#include <cstdint>
#include <optional>

#include "engines/ntfs/ntfs_layout.h"

namespace qm::ntfs {

// Sectors per cluster the formatter's defaults give a volume of `sectors`
// sectors of `bytesPerSector` bytes.
int32_t GuessSectorsPerCluster(uint64_t sectors, uint32_t bytesPerSector);

// Sectors per cluster that a fixed-up file record shows through its unnamed
// $DATA; none when the data is resident, has no clusters, or the quotient
// is not a power of two up to 128 sectors (a torn or hostile record).
std::optional<int32_t> SectorsPerClusterFromRecord(Bytes record, uint32_t bytesPerSector);

}  // namespace qm::ntfs
