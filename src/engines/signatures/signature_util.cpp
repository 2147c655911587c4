#include "engines/signatures/signature_util.h"

#include <algorithm>
#include <limits>

#include "engines/signatures/signature_scan.h"
#include "platform/errors.h"

namespace qm::sig {

bool ReadSectorsToScratch(SignatureScanContext& context, uint64_t sector, uint32_t count,
                          size_t scratchOffset) {
  const SectorSource* source = context.source;
  const uint32_t sectorSize = context.sectorSize;
  if (source == nullptr || !source->IsOpen() || sectorSize == 0 || count == 0) return false;
  const std::vector<uint8_t>& scratch = context.scratch;
  if (scratchOffset > scratch.size() ||
      uint64_t{count} * sectorSize > scratch.size() - scratchOffset)
    return false;
  // A sector that cannot be read is measured as zeros: a file with a bad
  // sector inside is still found whole, and the source remembers the bad
  // sector so that the file is listed and recovered as damaged.
  std::vector<SectorRange> unreadable;
  const int rc = source->ReadSectorsFilling(count, context.scratch.data() + scratchOffset, sector,
                                            sectorSize, unreadable);
  return rc == err::kSuccess || rc == err::kReadFault;
}

const uint8_t* ReadBytesFromStart(SignatureScanContext& context, uint64_t offset, size_t length) {
  const uint32_t sectorSize = context.sectorSize;
  if (sectorSize == 0 || length == 0) return nullptr;
  const uint64_t firstSector = offset / sectorSize;
  if (firstSector > std::numeric_limits<uint64_t>::max() - context.startSector) return nullptr;
  const size_t within = static_cast<size_t>(offset % sectorSize);
  if (within > context.scratch.size() || length > context.scratch.size() - within) return nullptr;
  const uint64_t count = (within + length + sectorSize - 1) / sectorSize;
  if (count * sectorSize > context.scratch.size()) return nullptr;
  if (!ReadSectorsToScratch(context, context.startSector + firstSector,
                            static_cast<uint32_t>(count), 0))
    return nullptr;
  return context.scratch.data() + within;
}

const uint8_t* StartWindow::At(uint64_t offset, size_t count) {
  if (count > end_ || offset > end_ - count) return nullptr;
  if (offset >= first_ && offset - first_ + count <= length_) return bytes_ + (offset - first_);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindowBytes, end_ - offset));
  if (want < count) return nullptr;
  // A walk through a long file reads as much as a scan would, and can be
  // stopped the same way.
  if (!ReportScanProgress(context_)) {
    length_ = 0;
    return nullptr;
  }
  bytes_ = ReadBytesFromStart(context_, offset, want);
  first_ = offset;
  length_ = bytes_ != nullptr ? want : 0;
  return bytes_;
}

bool StartWindow::BlankToSectorEnd(uint64_t offset, size_t sectorSize) {
  if (sectorSize == 0) return false;
  const size_t within = static_cast<size_t>(offset % sectorSize);
  if (within == 0) return true;
  const uint8_t* slack = At(offset, sectorSize - within);
  if (slack == nullptr) return false;
  for (size_t i = 0; i < sectorSize - within; ++i)
    if (slack[i] != 0) return false;
  return true;
}

}  // namespace qm::sig
