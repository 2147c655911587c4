// A small cache of aligned blocks of the FAT.
//
// Following one file's chain touches a few entries close together; a
// recovery of many scattered files touches entries all over the table. Both
// are served by keeping a handful of fixed, aligned blocks, so that each
// entry asked for costs at most one block read, whatever was asked before,
// and the table is never read in pieces larger than one block.
//
// Safe to use from several threads at once: a scan and a browsing or
// recovery call may look up entries of the same volume concurrently.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace qm {

class FatTableCache {
 public:
  // Small blocks keep a look-up that misses cheap (a FAT32 of 512-byte
  // clusters on a large disk has a table of hundreds of MiB, touched in
  // scattered places); 256 of them keep 4 MiB of the table at hand.
  static constexpr uint32_t kBlockBytes = 16 * 1024;
  static constexpr size_t kMaxBlocks = 256;

  // Reads `length` bytes at byte `offset` of the table into `out`; returns 0
  // or an error code, with the bytes that arrived in `got`.
  using BlockReader =
      std::function<int(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got)>;

  // Forgets every block. The table holds `tableBytes` bytes, of which only
  // the first `readableBytes` can be read (the rest lies past the end of
  // the source). Both are whole multiples of the reader's sector size,
  // which must divide kBlockBytes.
  void Reset(uint64_t tableBytes, uint64_t readableBytes, BlockReader reader);

  // Copies `length` bytes at `offset` of the table (they may span two
  // blocks). 0; 87 outside the table; 30 or the read's error when a block
  // holding them cannot be read.
  int Copy(uint64_t offset, uint32_t length, uint8_t* out) const;

  // Blocks read from the source since the last Reset, and their bytes.
  uint64_t blockReads() const;
  uint64_t bytesRead() const;

 private:
  struct Block {
    uint64_t start = UINT64_MAX;
    uint32_t bytes = 0;
    uint64_t lastUse = 0;
    std::vector<uint8_t> data;
  };

  // Under the lock: the block holding `offset`, read if need be.
  const Block* BlockFor(uint64_t offset, int& rc) const;

  mutable std::mutex mutex_;
  mutable std::vector<Block> blocks_;
  mutable std::unordered_map<uint64_t, size_t> slotOf_;  // block start -> index in blocks_
  mutable size_t lastHit_ = 0;
  mutable uint64_t useClock_ = 0;
  mutable uint64_t blockReads_ = 0;
  mutable uint64_t bytesRead_ = 0;
  uint64_t tableBytes_ = 0;
  uint64_t readableBytes_ = 0;
  BlockReader reader_;
};

}  // namespace qm
