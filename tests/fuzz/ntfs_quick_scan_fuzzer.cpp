// The NTFS quick scan of a whole mutated image: boot sector, the $MFT runs,
// every record and its parents, and the listing and recovery of what it found.
#include <cstddef>
#include <cstdint>

#include "engine_exercise.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "fuzz_workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  qm::CFastNtfsRecovery engine;
  qm::fuzz::ScanWholeImage(engine, data, size);
  return 0;
}
