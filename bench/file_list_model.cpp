// The result views on a million found files: building the category tree,
// filling the file list with one group of all of them, sorting it by size
// and by name, and checking the whole group. Each run reports the process's
// peak resident memory (VmHWM) as a counter.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/file_list_model.h"
#include "app/file_type_tree.h"
#include "app/result_selection.h"
#include "results/categories.h"

namespace {

using namespace qm;

constexpr uint32_t kRecords = 1000000;

// A memory figure of /proc/self/status ("VmHWM:", "VmRSS:") in MB.
double StatusMegabytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string name = field;
  while (std::getline(status, line)) {
    if (line.rfind(name, 0) == 0) return std::stod(line.substr(name.size())) / 1024.0;
  }
  return 0;
}

// Names with mixed case and a few shared prefixes, sizes spread widely,
// one record in a hundred a folder.
std::shared_ptr<const std::vector<FoundFileRecord>> MillionRecords() {
  static const auto records = [] {
    auto out = std::make_shared<std::vector<FoundFileRecord>>(kRecords);
    uint64_t seed = 88172645463325252ull;
    for (uint32_t i = 0; i < kRecords; ++i) {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      FoundFileRecord& r = (*out)[i];
      r.volumeLetter = 'C';
      r.engineKind = 1;
      r.recordIndex = i + 1;
      r.isDirectory = seed % 100 == 0 ? 1 : 0;
      r.contentOk = 1;
      r.fileSize = seed % (1ull << 32);
      r.writeTime = 130000000000000000ull + seed % 10000000000000000ull;
      char name[64];
      std::snprintf(name, sizeof name, "%s%07llu.jpg", (seed >> 40) % 2 ? "IMG_" : "img_",
                    static_cast<unsigned long long>(seed % 10000000));
      r.SetName(name);
    }
    return std::shared_ptr<const std::vector<FoundFileRecord>>(std::move(out));
  }();
  return records;
}

void ReportMemory(benchmark::State& state) {
  // The peak includes the grouping's transient second copy; resident is
  // what the views hold once built.
  state.counters["peak_MB"] = StatusMegabytes("VmHWM:");
  state.counters["resident_MB"] = StatusMegabytes("VmRSS:");
}

// Argument 0: grouping and tree together, as SetResults does on the UI
// thread; 1: the tree alone from groups made beforehand (by a worker).
void BM_BuildCategoryTree(benchmark::State& state) {
  const auto records = MillionRecords();
  QTreeWidget widget;
  FileTypeTree tree(&widget);
  for (auto _ : state) {
    if (state.range(0) == 0) {
      tree.SetResults(*records);
    } else {
      state.PauseTiming();
      tree.Clear();
      auto grouped = GroupByExtension(*records);
      state.ResumeTiming();
      tree.SetGroups(std::move(grouped));
    }
    benchmark::DoNotOptimize(tree.Groups().data());
  }
  tree.Clear();
  ReportMemory(state);
}

void BM_FillList(benchmark::State& state) {
  const auto records = MillionRecords();
  ResultSelection selection;
  FileListModel model(selection);
  for (auto _ : state) {
    model.SetRecords(records);
    benchmark::DoNotOptimize(model.rowCount());
  }
  ReportMemory(state);
}

void BM_SortList(benchmark::State& state) {
  const int column = static_cast<int>(state.range(0));
  ResultSelection selection;
  FileListModel model(selection);
  model.SetRecords(MillionRecords());
  for (auto _ : state) model.ClickHeader(column);
  ReportMemory(state);
}

void BM_CheckWholeGroup(benchmark::State& state) {
  ResultSelection selection;
  FileListModel model(selection);
  model.SetRecords(MillionRecords());
  for (auto _ : state) {
    model.SetAllChecked(true);
    state.PauseTiming();
    ReportMemory(state);
    model.SetAllChecked(false);
    state.ResumeTiming();
  }
}

BENCHMARK(BM_BuildCategoryTree)->ArgName("pregrouped")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FillList)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SortList)
    ->ArgName("column")
    ->Arg(FileListModel::kSize)
    ->Arg(FileListModel::kName)
    ->Arg(FileListModel::kModified)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_CheckWholeGroup)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
