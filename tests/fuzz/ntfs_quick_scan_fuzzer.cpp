// The NTFS quick scan of a whole mutated image: boot sector, the $MFT runs,
// every record and its parents, and the listing and recovery of what it found.
#include <cstddef>
#include <cstdint>

#include "engine_exercise.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "fuzz_workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  auto& workspace = qm::fuzz::FuzzWorkspace::Get();
  const std::string image = workspace.WriteImage(data, size);
  qm::CFastNtfsRecovery engine;
  qm::EngineContext context;
  context.scanFolder = workspace.FreshScanFolder();
  engine.SetContext(context);
  if (engine.OpenImage(image, 1) != 0) return 0;
  if (engine.Scan(nullptr) != 0) return 0;
  qm::fuzz::ExerciseResults(engine);
  engine.BuildClusterBitmap();
  uint64_t start = 0, length = 0;
  for (int i = 0; i < 64 && engine.NextFreeExtent(&start, &length) == 1 && length != 0; ++i) {
    start += length;
  }
  return 0;
}
