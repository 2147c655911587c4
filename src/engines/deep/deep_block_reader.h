// DeepBlockReader: the deep pass's reads, done ahead of the work.
//
// A read-ahead thread reads the ranges of the pass in large sequential
// blocks into a small ring of buffers while the scanning thread classifies
// the block before, so that a disk never waits for the processor and the
// processor never waits for a cached image. A block that cannot be read
// whole is read sector by sector; sectors that still fail come back as
// zeros and are listed with the block, so one bad area never ends the pass.
//
// Ranges come from a generator called on the read-ahead thread (free-space
// mode walks the quick engine's cluster map; the whole volume is one range),
// so memory does not grow with the number of ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "disk/sector_source.h"

namespace qm {

// A run of sectors to scan, in absolute sectors of the source.
struct DeepRange {
  uint64_t start = 0;
  uint64_t count = 0;
};

// Gives the next range in ascending order; false when there is none.
using DeepRangeSource = std::function<bool(DeepRange& range)>;

struct DeepBlock {
  uint64_t sector = 0;      // absolute first sector
  uint32_t sectors = 0;     // sectors in `data`
  const uint8_t* data = nullptr;
  size_t rangeIndex = 0;    // which range (0, 1, ...) of the generator
  DeepRange range;          // that range
  // Sectors of the block that could not be read (zeros in `data`).
  std::vector<SectorRange> unreadable;
  // 0; or why the block could not be read at all (the source has gone):
  // the pass ends with it.
  int error = 0;
};

class DeepBlockReader {
 public:
  // Measured on a cached image: blocks of 1 MiB keep the ring in the
  // processor caches; 256 KiB costs more in hand-overs, 4 MiB in misses.
  static constexpr size_t kDefaultBlockBytes = size_t{1} << 20;
  static constexpr int kDefaultDepth = 3;

  DeepBlockReader(const SectorSource& source, uint32_t sectorSize,
                  size_t blockBytes = kDefaultBlockBytes, int depth = kDefaultDepth);
  ~DeepBlockReader();  // stops and joins the read-ahead thread
  DeepBlockReader(const DeepBlockReader&) = delete;
  DeepBlockReader& operator=(const DeepBlockReader&) = delete;

  // Starts the read-ahead thread on the ranges. Blocks never span two
  // ranges; the first block of the first range starts at `firstSector`
  // when that lies inside it (a resumed pass).
  void Start(DeepRangeSource ranges, uint64_t firstSector = 0);
  // The next block in order, waiting for it when it is not read yet; false
  // when every range is done or Stop was called. The block stays valid
  // until the next call to Next.
  bool Next(DeepBlock& block);
  // Sectors before `sector` are no longer wanted (a carved file is passed
  // over): blocks wholly before it need not be read.
  void SkipTo(uint64_t sector);
  // Ends the read-ahead; Next then returns false.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
