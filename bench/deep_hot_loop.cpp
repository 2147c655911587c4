// The deep scan's hot loop alone: the read-ahead blocks of a whole image and
// the classification of every sector in them, without the engines the
// sectors are then handed to.
//
//   ReadAhead          the blocks alone (reading overlapped, nothing looked at)
//   ReadAndClassify    the blocks and every sector classified: the pass
//                      (both with blocks of 256 KiB to 4 MiB, the argument)
//   ClassifyInMemory   the classification alone, over 256 MiB of the image
//                      already in memory (one core, no reads)
//
// QM_DEEP_IMAGE names the image (bench/make_deep_image.sh makes one; the
// wrapper bench/deep_hot_loop.sh also times `cat` on it for comparison).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "engines/deep/deep_block_reader.h"
#include "engines/deep/deep_sector_classifier.h"

namespace {

using namespace qm;

constexpr uint32_t kSector = 512;

const char* ImagePath() {
  const char* path = std::getenv("QM_DEEP_IMAGE");
  return path != nullptr && *path != '\0' ? path : nullptr;
}

bool OpenImage(SectorSource& source, benchmark::State& state) {
  const char* path = ImagePath();
  if (path == nullptr) {
    state.SkipWithError("set QM_DEEP_IMAGE to an image (bench/make_deep_image.sh makes one)");
    return false;
  }
  if (source.OpenImageSource(path) != 0) {
    state.SkipWithError("cannot open QM_DEEP_IMAGE");
    return false;
  }
  return true;
}

DeepRangeSource WholeImage(uint64_t sectors) {
  return [sectors, given = false](DeepRange& range) mutable {
    if (given) return false;
    range = {0, sectors};
    given = true;
    return true;
  };
}

using KindCounts = std::array<uint64_t, 6>;

void Classify(const uint8_t* data, uint32_t sectors, KindCounts& counts) {
  for (uint32_t i = 0; i < sectors; ++i)
    ++counts[static_cast<size_t>(ClassifyDeepSector(data + size_t{i} * kSector, kSector))];
}

void ReportCounts(benchmark::State& state, const KindCounts& counts, uint64_t passes) {
  if (passes == 0) return;
  state.counters["carve"] = static_cast<double>(counts[5] / passes);
  state.counters["fat"] = static_cast<double>((counts[3] + counts[4]) / passes);
  state.counters["mft"] = static_cast<double>((counts[1] + counts[2]) / passes);
}

void ReadAhead(benchmark::State& state) {
  SectorSource source;
  if (!OpenImage(source, state)) return;
  uint64_t bytes = 0;
  for (auto _ : state) {
    DeepBlockReader reader(source, kSector, static_cast<size_t>(state.range(0)));
    reader.Start(WholeImage(source.totalSectors()));
    DeepBlock block;
    uint64_t checksum = 0;
    while (reader.Next(block)) {
      checksum += block.data[0];
      bytes += uint64_t{block.sectors} * kSector;
    }
    benchmark::DoNotOptimize(checksum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void ReadAndClassify(benchmark::State& state) {
  SectorSource source;
  if (!OpenImage(source, state)) return;
  uint64_t bytes = 0;
  KindCounts counts{};
  for (auto _ : state) {
    DeepBlockReader reader(source, kSector, static_cast<size_t>(state.range(0)));
    reader.Start(WholeImage(source.totalSectors()));
    DeepBlock block;
    while (reader.Next(block)) {
      Classify(block.data, block.sectors, counts);
      bytes += uint64_t{block.sectors} * kSector;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  ReportCounts(state, counts, state.iterations());
}

void ClassifyInMemory(benchmark::State& state) {
  SectorSource source;
  if (!OpenImage(source, state)) return;
  const uint32_t sectors =
      static_cast<uint32_t>(std::min<uint64_t>(source.totalSectors(), (256u << 20) / kSector));
  std::vector<uint8_t> data(size_t{sectors} * kSector);
  uint32_t got = 0;
  if (source.ReadSectors(sectors, data.data(), 0, kSector, &got) != 0 || got != sectors) {
    state.SkipWithError("cannot read the image");
    return;
  }
  KindCounts counts{};
  for (auto _ : state) Classify(data.data(), sectors, counts);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * sectors * kSector);
  ReportCounts(state, counts, state.iterations());
}

BENCHMARK(ReadAhead)
    ->RangeMultiplier(4)
    ->Range(256 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ReadAndClassify)
    ->RangeMultiplier(4)
    ->Range(256 << 10, 4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ClassifyInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
