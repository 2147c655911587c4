// The FAT quick scan of a whole mutated image: boot sector, FAT, the walk of
// the directory tree, and the listing and recovery of what it found.
#include <cstddef>
#include <cstdint>

#include "engine_exercise.h"
#include "engines/fat/fast_fat_recovery.h"
#include "fuzz_workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  qm::CFastFatRecovery engine;
  qm::fuzz::ScanWholeImage(engine, data, size);
  return 0;
}
