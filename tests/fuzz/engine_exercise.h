// What a front end does with an engine once its scan is over, run on the
// results of a mutated image: walk the tree with full paths and counts,
// list by category, preview and recover small files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/file_recovery_parse.h"

namespace qm::fuzz {

// Files larger than this are not recovered: a record may claim gigabytes
// that an image of a few KiB does not hold, and writing zeros for them would
// only measure the disk.
inline constexpr uint64_t kMaxRecoveredBytes = 256 * 1024;

void ExerciseResults(IFileRecoveryParse& engine);

// A quick scan of the whole input as an image, in a fresh scan folder, then
// the results, the cluster bitmap and the free extents as a deep scan asks
// for them.
void ScanWholeImage(IFileRecoveryParse& engine, const uint8_t* data, size_t size);

}  // namespace qm::fuzz
