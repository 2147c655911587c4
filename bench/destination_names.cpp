// Recovering many files of one name into one folder: each needs a free
// "name(n).ext". The time per file should stay flat as the folder fills
// (a search that starts from (1) every time grows with the folder).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engines/extraction/destination_names.h"
#include "platform/file_handle.h"

namespace {

namespace fs = std::filesystem;

// `remembering`: one namer for all files, as a recovery uses; otherwise a
// fresh search from (1) for every file, for comparison.
void SameNameFiles(benchmark::State& state, bool remembering) {
  const int files = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    std::string pattern = (fs::temp_directory_path() / "qm-bench-names-XXXXXX").string();
    const fs::path folder = ::mkdtemp(pattern.data());
    state.ResumeTiming();

    qm::DestinationNamer namer;
    for (int i = 0; i < files; ++i) {
      qm::FileHandle file;
      const fs::path wanted = folder / "IMG_0001.JPG";
      const fs::path path = remembering ? namer.Next(wanted) : qm::UniqueDestinationPath(wanted);
      if (path.empty() || file.CreateExclusive(path) != 0) state.SkipWithError("no free name");
    }

    state.PauseTiming();
    fs::remove_all(folder);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK_CAPTURE(SameNameFiles, remembering, true)
    ->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SameNameFiles, searching_from_1, false)
    ->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
