// The NTFS side of the deep scan, fed the MFT file records of a mutated
// image, then finished, listed and recovered from.
#include <cstddef>
#include <cstdint>

#include "deep_feed.h"
#include "engines/deep/ntfs/professional_ntfs_recovery.h"
#include "fuzz_workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  qm::CProfessionalNtfsRecovery engine;
  qm::fuzz::RunDeepEngine(engine, data, size);
  return 0;
}
