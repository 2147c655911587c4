#include "deep_feed.h"

#include <algorithm>
#include <vector>

#include "engine_exercise.h"
#include "engines/deep/deep_sector_classifier.h"
#include "fuzz_workspace.h"

namespace qm::fuzz {

void RunDeepEngine(DeepFileSystemEngine& engine, const uint8_t* data, size_t size) {
  constexpr uint32_t kSectorBytes = 512;
  auto& workspace = FuzzWorkspace::Get();
  const std::string image = workspace.WriteImage(data, size);
  EngineContext context;
  context.scanFolder = workspace.FreshScanFolder();
  engine.SetContext(context);
  if (engine.OpenImage(image, 1) != 0) return;
  if (engine.BeginDeepScan("") != 0) return;

  const uint64_t sectors = size / kSectorBytes;
  for (uint64_t sector = 0; sector < sectors; ++sector) {
    const uint8_t* at = data + sector * kSectorBytes;
    switch (ClassifyDeepSector(at, kSectorBytes)) {
      case DeepSectorKind::kFileRecord: {
        // A record cut by the end of the image arrives zero-filled, as the
        // pass reads it.
        std::vector<uint8_t> record(DeepFileRecordBytes(kSectorBytes), 0);
        const size_t have = std::min<size_t>(record.size(), size - sector * kSectorBytes);
        std::copy(at, at + have, record.begin());
        engine.OnFileRecord(record.data(), record.size(), sector);
        break;
      }
      case DeepSectorKind::kDotCluster:
        engine.OnDotClusterSector(at, kSectorBytes, sector);
        break;
      case DeepSectorKind::kDirectory:
        engine.OnDirectorySector(at, kSectorBytes, sector);
        break;
      default:
        break;
    }
  }
  engine.FlushLog();
  if (engine.FinishDeepScan() != 0) return;
  ExerciseResults(engine);
}

}  // namespace qm::fuzz
