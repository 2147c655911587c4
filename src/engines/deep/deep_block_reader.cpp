#include "engines/deep/deep_block_reader.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "platform/errors.h"

namespace qm {

namespace {

// After a failed block read the rest of the block is read again in pieces
// this small, so that a stop is noticed between them even while a dying
// disk takes seconds for every bad sector.
constexpr size_t kRetryPieceBytes = 4096;

}  // namespace

struct DeepBlockReader::Impl {
  struct Slot {
    std::vector<uint8_t> buffer;
    DeepBlock block;
  };

  const SectorSource& source;
  const uint32_t sectorSize;
  const uint32_t blockSectors;
  std::vector<Slot> slots;

  std::mutex lock;
  std::condition_variable slotFreed;
  std::condition_variable blockReady;
  // Ring positions: the reader fills slots[written % n] in order, the
  // scanning thread takes slots[taken % n] in the same order.
  uint64_t written = 0;
  uint64_t taken = 0;
  bool holding = false;  // the scanning thread still uses slots[(taken - 1) % n]
  bool finished = false;
  bool stopped = false;
  std::atomic<uint64_t> skipTo{0};
  // The source's end when the pass started: a source closed under the pass
  // is gone, not finished.
  uint64_t sourceEnd = 0;
  // Where the read-ahead thread is (reader thread only).
  uint64_t position = 0;
  size_t positionRange = 0;
  std::jthread thread;

  Impl(const SectorSource& s, uint32_t size, size_t blockBytes, int depth)
      : source(s),
        sectorSize(size == 0 ? 512 : size),
        blockSectors(static_cast<uint32_t>(
            std::clamp<size_t>(blockBytes / sectorSize, 1, UINT32_MAX / sectorSize))),
        slots(static_cast<size_t>(std::max(depth, 2))) {
    for (Slot& slot : slots) slot.buffer.resize(size_t{blockSectors} * sectorSize);
  }

  size_t SlotsInUse() const { return static_cast<size_t>(written - taken) + (holding ? 1 : 0); }

  // Waits for a free slot; null once the pass is stopped.
  Slot* WaitForFreeSlot() {
    std::unique_lock guard(lock);
    slotFreed.wait(guard, [&] { return stopped || SlotsInUse() < slots.size(); });
    if (stopped) return nullptr;
    return &slots[written % slots.size()];
  }

  void Publish() {
    {
      std::lock_guard guard(lock);
      ++written;
    }
    blockReady.notify_one();
  }

  void Finish() {
    {
      std::lock_guard guard(lock);
      finished = true;
    }
    blockReady.notify_all();
  }

  bool StopRequested() {
    std::lock_guard guard(lock);
    return stopped;
  }

  // Reads the block's sectors into its buffer. A read fault leaves the
  // sectors that cannot be read as zeros listed in block.unreadable; only a
  // source that is gone (or a stop during the retry) gives an error, and
  // then block.sectors holds what arrived before it.
  void ReadBlock(Slot& slot) {
    DeepBlock& block = slot.block;
    uint8_t* out = slot.buffer.data();
    const uint32_t count = block.sectors;
    uint32_t got = 0;
    // One system call for the whole block: with the image in the page
    // cache, 64 KiB calls cost the pass more than the copying itself.
    const int rc = source.ReadSectors(count, out, block.sector, sectorSize, &got,
                                      static_cast<uint32_t>(slot.buffer.size()));
    if (rc == err::kSuccess) return;
    if (rc != err::kReadFault) {
      block.sectors = got;
      block.error = rc;
      return;
    }
    const uint32_t pieceSectors =
        static_cast<uint32_t>(std::max<size_t>(1, kRetryPieceBytes / sectorSize));
    uint32_t at = got;
    while (at < count) {
      if (StopRequested()) {
        block.sectors = at;
        block.error = err::kCancelled;
        return;
      }
      const uint32_t piece = std::min(pieceSectors, count - at);
      const int fillRc = source.ReadSectorsFilling(piece, out + size_t{at} * sectorSize,
                                                   block.sector + at, sectorSize, block.unreadable);
      if (fillRc != err::kSuccess && fillRc != err::kReadFault) {
        block.sectors = at;
        block.error = fillRc;
        return;
      }
      at += piece;
    }
  }

  // The read-ahead thread. Nothing thrown on it may escape: a failure
  // (no memory for the list of bad sectors, a generator that throws) ends
  // the pass like a source that has gone.
  void Run(DeepRangeSource ranges) {
    try {
      ReadRanges(ranges);
    } catch (const std::bad_alloc&) {
      PublishError(err::kNotEnoughMemory);
    } catch (...) {
      PublishError(err::kGenFailure);
    }
    Finish();
  }

  // Walks the ranges block by block until they end, the source fails or the
  // pass is stopped.
  void ReadRanges(DeepRangeSource& ranges) {
    uint64_t previousEnd = 0;
    for (size_t rangeIndex = 0;; ++rangeIndex) {
      if (StopRequested()) return;
      DeepRange range;
      if (!ranges || !ranges(range)) return;
      // Ranges come in ascending order; one that reaches back is cut so that
      // the pass never reads a sector twice or steps backwards. No range runs
      // past the end of the source.
      const uint64_t end =
          std::min(range.start + std::min(range.count, UINT64_MAX - range.start), sourceEnd);
      uint64_t at = std::max(range.start, previousEnd);
      previousEnd = std::max(previousEnd, end);
      while (true) {
        at = std::max(at, skipTo.load(std::memory_order_acquire));
        position = at;
        positionRange = rangeIndex;
        if (at >= end) break;
        Slot* slot = WaitForFreeSlot();
        if (slot == nullptr) return;
        DeepBlock& block = slot->block;
        block = DeepBlock{};
        block.sector = at;
        block.sectors = static_cast<uint32_t>(std::min<uint64_t>(blockSectors, end - at));
        block.rangeIndex = rangeIndex;
        block.range = range;
        block.data = slot->buffer.data();
        ReadBlock(*slot);
        if (block.error == err::kCancelled) return;
        const bool failed = block.error != err::kSuccess;
        at += block.sectors;
        Publish();
        if (failed) return;
      }
    }
  }

  // Hands on an error block in the next slot (the one that was being filled,
  // when the failure came while reading).
  void PublishError(int error) {
    Slot* slot = WaitForFreeSlot();
    if (slot == nullptr) return;
    DeepBlock& block = slot->block;
    block.sector = position;
    block.sectors = 0;
    block.rangeIndex = positionRange;
    block.data = slot->buffer.data();
    block.unreadable.clear();
    block.error = error;
    Publish();
  }

  bool Next(DeepBlock& out) {
    std::unique_lock guard(lock);
    for (;;) {
      if (holding) {
        holding = false;
        slotFreed.notify_one();
      }
      blockReady.wait(guard, [&] { return stopped || finished || written > taken; });
      if (stopped || written == taken) return false;
      Slot& slot = slots[taken % slots.size()];
      ++taken;
      holding = true;
      const DeepBlock& block = slot.block;
      // Blocks read before a later SkipTo and wholly before its sector are
      // passed over here; a block that failed is always handed on.
      const uint64_t skip = skipTo.load(std::memory_order_acquire);
      if (block.error == err::kSuccess && block.sector + block.sectors <= skip) continue;
      out.sector = block.sector;
      out.sectors = block.sectors;
      out.data = block.data;
      out.rangeIndex = block.rangeIndex;
      out.range = block.range;
      out.unreadable = block.unreadable;
      out.error = block.error;
      return true;
    }
  }

  void Stop() {
    {
      std::lock_guard guard(lock);
      stopped = true;
    }
    slotFreed.notify_all();
    blockReady.notify_all();
  }

  void Join() {
    if (thread.joinable()) thread.join();
  }
};

DeepBlockReader::DeepBlockReader(const SectorSource& source, uint32_t sectorSize, size_t blockBytes,
                                 int depth)
    : impl_(std::make_unique<Impl>(source, sectorSize, blockBytes, depth)) {}

DeepBlockReader::~DeepBlockReader() {
  impl_->Stop();
  impl_->Join();
}

void DeepBlockReader::Start(DeepRangeSource ranges, uint64_t firstSector) {
  Impl& impl = *impl_;
  impl.Stop();
  impl.Join();
  impl.written = 0;
  impl.taken = 0;
  impl.holding = false;
  impl.finished = false;
  impl.stopped = false;
  impl.skipTo.store(firstSector, std::memory_order_release);
  impl.sourceEnd = impl.source.totalSectors();
  impl.thread =
      std::jthread([&impl, ranges = std::move(ranges)]() mutable { impl.Run(std::move(ranges)); });
}

bool DeepBlockReader::Next(DeepBlock& block) { return impl_->Next(block); }

void DeepBlockReader::SkipTo(uint64_t sector) {
  uint64_t current = impl_->skipTo.load(std::memory_order_relaxed);
  while (current < sector &&
         !impl_->skipTo.compare_exchange_weak(current, sector, std::memory_order_acq_rel)) {
  }
}

void DeepBlockReader::Stop() { impl_->Stop(); }

}  // namespace qm
