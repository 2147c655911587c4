// Reading ahead from a candidate start: the chunked forward scan that most
// size finders share, and the stop check that ends a file at the next sector
// that starts something else.
//
// A scan never reads past the end of the volume (context.endSector) or of the
// source, never steps backwards, and hands the caller's cancel answer back
// through context.cancelResult.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engines/signatures/signature_catalogue.h"

namespace qm::sig {

// Bytes in a chunk of the forward scan.
inline constexpr size_t kScanChunkBytes = 0x10000;

// Unreadable sectors a forward scan reads through as zeros. A bad sector or
// a few inside a file cost only themselves; a longer unreadable stretch
// ends the file at its first sector, as a file that goes on through it
// would be mostly zeros, and a dying disk is slow to refuse each sector.
inline constexpr uint64_t kUnreadableSectorsReadThrough = 64;

// Reads up to `want` sectors at absolute `at` into the scan chunk, as zeros
// where they cannot be read while the scan's allowance of unreadable
// sectors (`unreadableSoFar`, counted up) lasts. Returns the sectors that
// may be used: all of them, or those before the first unreadable sector
// past the allowance or the first failure of another kind.
uint32_t ReadScanChunk(SignatureScanContext& context, uint64_t at, uint32_t want,
                       uint64_t& unreadableSoFar);

// Sectors from `sector` (absolute) to the end of the volume, 0 when none.
uint64_t SectorsLeftFrom(const SignatureScanContext& context, uint64_t sector);

// Bytes of the volume from the candidate start to its end; a header size is
// never allowed to claim more than this.
uint64_t BytesLeftFromStart(const SignatureScanContext& context);

// Walks the sectors of `chunk` in order, advancing context.currentSector, and
// returns how many come before the first one that stops the file (all of
// them when none does). A sector stops the file when a catalogue test other
// than `ignoredType` matches it, or when it is a file-system structure.
size_t SectorsBeforeStop(const uint8_t* chunk, size_t sectors, SignatureScanContext& context,
                         int ignoredType);

// Reports progress to the carving callback; false when it asked to stop (the
// context then holds the cancel result).
bool ReportScanProgress(SignatureScanContext& context);

// What a chunk visitor answers: go on, or the file ends at a byte offset.
struct ChunkVerdict {
  bool ends = false;
  uint64_t size = 0;
};

// The plain scan: the size starts at one sector; the sectors after the start
// are read in 64 KiB chunks up to `limitBytes` from the start; each chunk is
// cut at the stop check and the part before it is handed to
// `visit(bytes, length, offsetFromStart)`, which may end the file at once.
// Returns the scanned size (whole sectors up to the stop, the limit, the end
// of the volume or a read failure) or the visitor's size.
template <typename Visit>
uint64_t ScanForward(SignatureScanContext& context, uint64_t limitBytes, int ignoredType,
                     Visit&& visit) {
  const uint32_t sectorSize = context.sectorSize;
  if (sectorSize == 0 || sectorSize > kScanChunkBytes) return sectorSize;
  const uint64_t limitSectors = std::max<uint64_t>(1, limitBytes / sectorSize);
  const uint32_t chunkSectors = static_cast<uint32_t>(kScanChunkBytes / sectorSize);
  uint64_t sectors = 1;
  uint64_t unreadable = 0;
  context.currentSector = context.startSector;
  while (sectors < limitSectors) {
    const uint64_t at = context.startSector + sectors;
    const uint64_t want =
        std::min<uint64_t>({chunkSectors, limitSectors - sectors, SectorsLeftFrom(context, at)});
    if (want == 0 || context.source == nullptr) break;
    const uint32_t got = ReadScanChunk(context, at, static_cast<uint32_t>(want), unreadable);
    if (!ReportScanProgress(context)) return sectors * sectorSize;
    const size_t usable = SectorsBeforeStop(context.chunk.data(), got, context, ignoredType);
    const ChunkVerdict verdict =
        visit(static_cast<const uint8_t*>(context.chunk.data()), usable * size_t{sectorSize},
              sectors * sectorSize);
    sectors += usable;
    // A record whose tail would lie past the stop or the volume end is cut
    // there.
    if (verdict.ends) return std::min<uint64_t>(verdict.size, sectors * sectorSize);
    if (usable < want) break;  // stopped, or a read failure
  }
  return sectors * sectorSize;
}

// ScanForward without a visitor.
uint64_t PlainScan(SignatureScanContext& context, uint64_t limitBytes);

}  // namespace qm::sig

namespace qm::sig {

// The visitor also sees the first sector (the bytes the test saw, offset 0)
// before the scan reads ahead, so that a file shorter than a sector ends in
// it.
template <typename Visit>
uint64_t ScanFromStart(const uint8_t* data, size_t len, SignatureScanContext& context,
                       uint64_t limitBytes, int ignoredType, Visit&& visit) {
  const ChunkVerdict first = visit(data, std::min<size_t>(len, context.sectorSize), uint64_t{0});
  if (first.ends) return std::max<uint64_t>(first.size, 1);
  return ScanForward(context, limitBytes, ignoredType, visit);
}

// Where `pattern` first (or last) occurs in the bytes, or npos.
inline size_t FindIn(const uint8_t* bytes, size_t length, std::string_view pattern,
                     size_t from = 0) {
  return std::string_view(reinterpret_cast<const char*>(bytes), length).find(pattern, from);
}
inline size_t FindLastIn(const uint8_t* bytes, size_t length, std::string_view pattern) {
  return std::string_view(reinterpret_cast<const char*>(bytes), length).rfind(pattern);
}

// True when the bytes from `end` up to the next multiple of `sectorSize`
// are all there and all zero: a file whose last byte is at `end` - 1 leaves
// its sector's slack blank.
bool OnlyZerosToSectorEnd(const uint8_t* bytes, size_t length, size_t end, size_t sectorSize);

}  // namespace qm::sig
