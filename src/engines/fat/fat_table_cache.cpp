#include "engines/fat/fat_table_cache.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"

namespace qm {

void FatTableCache::Reset(uint64_t tableBytes, uint64_t readableBytes, BlockReader reader) {
  std::lock_guard<std::mutex> lock(mutex_);
  blocks_.clear();
  slotOf_.clear();
  lastHit_ = 0;
  useClock_ = 0;
  blockReads_ = 0;
  bytesRead_ = 0;
  tableBytes_ = tableBytes;
  readableBytes_ = std::min(readableBytes, tableBytes);
  reader_ = std::move(reader);
}

const FatTableCache::Block* FatTableCache::BlockFor(uint64_t offset, int& rc) const {
  rc = err::kSuccess;
  const uint64_t start = offset / kBlockBytes * kBlockBytes;
  if (lastHit_ < blocks_.size() && blocks_[lastHit_].start == start) {
    blocks_[lastHit_].lastUse = ++useClock_;
    return &blocks_[lastHit_];
  }
  if (auto it = slotOf_.find(start); it != slotOf_.end()) {
    lastHit_ = it->second;
    blocks_[lastHit_].lastUse = ++useClock_;
    return &blocks_[lastHit_];
  }
  if (start >= readableBytes_) {
    rc = err::kReadFault;
    return nullptr;
  }
  // A new block goes into a free slot, or in place of the one used longest ago.
  size_t slot = blocks_.size();
  if (slot < kMaxBlocks) {
    blocks_.emplace_back();
  } else {
    slot = 0;
    for (size_t i = 1; i < blocks_.size(); ++i)
      if (blocks_[i].lastUse < blocks_[slot].lastUse) slot = i;
  }
  Block& block = blocks_[slot];
  if (block.start != UINT64_MAX) slotOf_.erase(block.start);
  const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kBlockBytes, readableBytes_ - start));
  block.data.resize(kBlockBytes);
  block.start = UINT64_MAX;
  block.bytes = 0;
  uint32_t got = 0;
  rc = reader_ ? reader_(start, length, block.data.data(), got) : err::kInvalidHandle;
  ++blockReads_;
  bytesRead_ += got;
  // A block read in part is kept for the entries that arrived; one that
  // brought nothing is not kept, so that a later call tries again.
  if (got == 0) {
    if (rc == 0) rc = err::kReadFault;
    return nullptr;
  }
  rc = err::kSuccess;
  block.start = start;
  block.bytes = got;
  slotOf_[start] = slot;
  block.lastUse = ++useClock_;
  lastHit_ = slot;
  return &block;
}

int FatTableCache::Copy(uint64_t offset, uint32_t length, uint8_t* out) const {
  if (offset > tableBytes_ || length > tableBytes_ - offset) return err::kInvalidParameter;
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t done = 0;
  while (done < length) {
    const uint64_t at = offset + done;
    int rc = 0;
    const Block* block = BlockFor(at, rc);
    if (block == nullptr) return rc;
    const uint64_t inBlock = at - block->start;
    if (inBlock >= block->bytes) return err::kReadFault;
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(length - done, block->bytes - inBlock));
    std::memcpy(out + done, block->data.data() + inBlock, take);
    done += take;
  }
  return err::kSuccess;
}

uint64_t FatTableCache::blockReads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blockReads_;
}

uint64_t FatTableCache::bytesRead() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytesRead_;
}

}  // namespace qm
