// Scan log store on a million records: writing, the category listing, a
// folder of 100,000 files, folder paths and flushes with nothing new.
//
// The log is built once in a temporary folder: 5,000 folders in an 8-ary
// tree (every other one without a _DirInfo entry, as lost folders have),
// 100,000 files in the first folder and 895,000 spread over all of them.
// QM_BENCH_KEEP=1 keeps the folder and prints its path, so that the main
// file can be read with `cat` for comparison.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "results/categories.h"
#include "results/result_tree.h"
#include "results/scan_log_store.h"

namespace {

namespace fs = std::filesystem;
using namespace qm;

constexpr uint32_t kFolders = 5000;
constexpr uint32_t kBigFolderFiles = 100000;
constexpr uint32_t kRecords = 1000000;
constexpr uint64_t kRootKey = 5;
constexpr uint32_t kFirstFolderId = 1000;
const char* kExtensions[] = {"jpg", "txt", "doc", "mp3", "xyz", "png", "avi", "zip"};

struct Layout {
  std::vector<uint32_t> depth;  // of each folder; root children have depth 1
};

Layout MakeLayout() {
  Layout layout;
  layout.depth.resize(kFolders);
  for (uint32_t i = 0; i < kFolders; ++i) layout.depth[i] = i == 0 ? 1 : layout.depth[(i - 1) / 8] + 1;
  return layout;
}

uint64_t FolderKey(const Layout& layout, uint32_t folder) {
  return DirectoryKey(layout.depth[folder], kFirstFolderId + folder);
}

void WriteLog(const fs::path& folder, const std::string& name) {
  static const Layout layout = MakeLayout();
  ScanLogStore store;
  if (store.OpenScanLogIn(folder, name) != 0) std::abort();
  char text[64];
  for (uint32_t i = 0; i < kFolders; ++i) {
    FoundFileRecord* r = store.ReserveRecord();
    r->recordIndex = static_cast<uint32_t>(store.RecordCount());
    r->isDirectory = 1;
    r->entryId = kFirstFolderId + i;
    std::snprintf(text, sizeof text, "Folder %u", i);
    r->SetName(text);
    const uint64_t parentKey = i == 0 ? kRootKey : FolderKey(layout, (i - 1) / 8);
    store.AddRelation(parentKey, r->recordIndex, r->entryId, i % 2 == 0 ? text : nullptr);
  }
  for (uint32_t n = 0; n < kRecords - kFolders; ++n) {
    const uint32_t folderOf = n < kBigFolderFiles ? 0 : n % kFolders;
    FoundFileRecord* r = store.ReserveRecord();
    r->recordIndex = static_cast<uint32_t>(store.RecordCount());
    r->contentOk = 1;
    r->fileSize = 1000 + n;
    std::snprintf(text, sizeof text, "file_%07u.%s", (n * 7919u) % 1000003u, kExtensions[n % 8]);
    r->SetName(text);
    store.AddRelation(FolderKey(layout, folderOf), r->recordIndex, 0, nullptr);
  }
  if (store.FlushScanLog() != 0) std::abort();
}

struct Fixture {
  fs::path folder;
  std::string name = "Pro_Ntfs_0_20261271030";
  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "qm-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    ::setenv("QUILLMARK_DATA_DIR", (folder / "ScanLog").c_str(), 1);
    WriteLog(folder, name);
  }
  ~Fixture() {
    if (const char* keep = std::getenv("QM_BENCH_KEEP"); keep && *keep == '1') {
      std::fprintf(stderr, "kept %s\n", (folder / name).c_str());
      return;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

Fixture& Log() {
  static Fixture fixture;
  return fixture;
}

void BM_WriteMillionRecords(benchmark::State& state) {
  const fs::path folder = Log().folder / "write";
  int round = 0;
  for (auto _ : state) {
    WriteLog(folder, "round" + std::to_string(round));
    state.PauseTiming();
    fs::remove_all(folder);
    ++round;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_WriteMillionRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OpenMillionRecordLog(benchmark::State& state) {
  for (auto _ : state) {
    ScanLogStore store;
    if (store.OpenScanLogIn(Log().folder, Log().name) != 0) state.SkipWithError("open");
    benchmark::DoNotOptimize(store.RecordCount());
  }
}
BENCHMARK(BM_OpenMillionRecordLog)->Unit(benchmark::kMillisecond);

// A plain sequential read of the main file with 1 MiB reads: the floor the
// category listing is compared with.
void BM_ReadMainFileRaw(benchmark::State& state) {
  const fs::path path = Log().folder / Log().name;
  std::vector<char> block(1 << 20);
  for (auto _ : state) {
    FileHandle file;
    file.OpenReadOnly(path);
    uint64_t offset = 0;
    size_t got = 0;
    while (file.ReadAt(offset, block.data(), block.size(), got) == 0 && got > 0) offset += got;
    benchmark::DoNotOptimize(offset);
  }
  state.SetBytesProcessed(state.iterations() * fs::file_size(path));
}
BENCHMARK(BM_ReadMainFileRaw)->Unit(benchmark::kMillisecond);

void ListByCategory(benchmark::State& state, const std::string& filter) {
  ScanLogStore store;
  store.OpenScanLogIn(Log().folder, Log().name);
  size_t listed = 0;
  for (auto _ : state) {
    std::vector<FoundFileRecord> out;
    if (store.ListByCategory(filter, out) != 1) state.SkipWithError("listing");
    listed = out.size();
  }
  state.counters["listed"] = static_cast<double>(listed);
  state.SetBytesProcessed(state.iterations() * fs::file_size(Log().folder / Log().name));
}

// Every photo, audio, video, document and archive file: 875,000 records
// listed and sorted.
void BM_ListByCategoryAllTypes(benchmark::State& state) {
  ListByCategory(state, BuildCategoryFilter({}));
}
BENCHMARK(BM_ListByCategoryAllTypes)->Unit(benchmark::kMillisecond);

// One type only: the pass over the file dominates.
void BM_ListByCategoryOneType(benchmark::State& state) {
  ListByCategory(state, BuildCategoryFilter({"zip"}));
}
BENCHMARK(BM_ListByCategoryOneType)->Unit(benchmark::kMillisecond);

// A type no record has: only the pass over the file, nothing to sort.
void BM_ListByCategoryPassOnly(benchmark::State& state) {
  ListByCategory(state, BuildCategoryFilter({"nothing"}));
}
BENCHMARK(BM_ListByCategoryPassOnly)->Unit(benchmark::kMillisecond);

void BM_ListChildrenOf100kFolder(benchmark::State& state) {
  ScanLogStore store;
  store.OpenScanLogIn(Log().folder, Log().name);
  static const Layout layout = MakeLayout();
  size_t listed = 0;
  for (auto _ : state) {
    std::vector<FoundFileRecord> out;
    if (store.ListChildren(FolderKey(layout, 0), out) != 0) state.SkipWithError("list");
    listed = out.size();
  }
  state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_ListChildrenOf100kFolder)->Unit(benchmark::kMillisecond);

// 100,000 files spread over all 5,000 folders, each resolved to its folder
// path; the first lookups build the index from the main file.
void BM_AncestorChain100k(benchmark::State& state) {
  std::vector<uint32_t> indices;
  for (uint32_t i = 0; i < 100000; ++i) indices.push_back(kFolders + kBigFolderFiles + 1 + i * 8);
  std::vector<FoundFileRecord> records(indices.size());
  for (auto _ : state) {
    state.PauseTiming();
    ScanLogStore store;
    store.OpenScanLogIn(Log().folder, Log().name);
    for (size_t i = 0; i < indices.size(); ++i) store.ReadRecord(indices[i], records[i]);
    state.ResumeTiming();
    size_t names = 0;
    std::string path;
    for (const FoundFileRecord& record : records) {
      if (FolderPathOf(store, record, path) != 0) state.SkipWithError("chain");
      names += path.size();
    }
    benchmark::DoNotOptimize(names);
    state.PauseTiming();
    store.CloseScanLog();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * indices.size());
}
BENCHMARK(BM_AncestorChain100k)->Unit(benchmark::kMillisecond);

void BM_CountFilesRoot(benchmark::State& state) {
  ScanLogStore store;
  store.OpenScanLogIn(Log().folder, Log().name);
  uint32_t count = 0;
  for (auto _ : state) {
    if (store.CountFiles(0, count) != 0) state.SkipWithError("count");
  }
  state.counters["files"] = count;
}
BENCHMARK(BM_CountFilesRoot)->Unit(benchmark::kMillisecond);

void BM_FlushWithNothingNew(benchmark::State& state) {
  ScanLogStore store;
  store.OpenScanLogIn(Log().folder, Log().name);
  for (auto _ : state) {
    if (store.FlushScanLog() != 0) state.SkipWithError("flush");
  }
}
BENCHMARK(BM_FlushWithNothingNew);

}  // namespace

BENCHMARK_MAIN();
