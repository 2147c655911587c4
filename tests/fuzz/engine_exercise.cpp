#include "engine_exercise.h"

#include <string>
#include <vector>

#include "fuzz_workspace.h"
#include "results/categories.h"
#include "session/tree_walk.h"

namespace qm::fuzz {

namespace {

// Bounds the work per input on a tree that lists many records.
constexpr int kMaxRecovered = 16;

}  // namespace

void ExerciseResults(IFileRecoveryParse& engine) {
  std::vector<FoundFileRecord> files;
  session::WalkTree(engine, [&](const FoundFileRecord& r, uint32_t depth, const std::string&) {
    std::string path;
    engine.GetFullPath(r, path);
    if (r.isDirectory) {
      uint32_t count = 0;
      engine.CountFiles(&r, depth, &count);
    } else if (files.size() < kMaxRecovered && r.fileSize <= kMaxRecoveredBytes) {
      files.push_back(r);
    }
  });
  uint32_t total = 0;
  engine.CountFiles(nullptr, 0, &total);
  engine.RecordCount();

  std::vector<FoundFileRecord> pictures;
  engine.ListByCategory(kPhotoList + "|" + kDocumentList + "|*.other", pictures);

  const std::filesystem::path out = FuzzWorkspace::Get().root() / "out";
  std::filesystem::create_directories(out);
  int n = 0;
  for (const FoundFileRecord& r : files) {
    uint8_t head[4096];
    uint32_t headBytes = sizeof head;
    std::string previewPath;
    engine.ExtractForPreview(r, previewPath, head, &headBytes, nullptr, nullptr);
    engine.RecoverItem(r, (out / ("f" + std::to_string(n++))).string(), 0);
    engine.RecoveryProblems();
  }
  engine.ScanWarnings();
}

}  // namespace qm::fuzz

namespace qm::fuzz {

void ScanWholeImage(IFileRecoveryParse& engine, const uint8_t* data, size_t size) {
  auto& workspace = FuzzWorkspace::Get();
  const std::string image = workspace.WriteImage(data, size);
  EngineContext context;
  context.scanFolder = workspace.FreshScanFolder();
  engine.SetContext(context);
  if (engine.OpenImage(image, 1) != 0) return;
  if (engine.Scan(nullptr) != 0) return;
  ExerciseResults(engine);
  engine.BuildClusterBitmap();
  uint64_t start = 0, length = 0;
  for (int i = 0; i < 64 && engine.NextFreeExtent(&start, &length) == 1 && length != 0; ++i) {
    start += length;
  }
}

}  // namespace qm::fuzz
