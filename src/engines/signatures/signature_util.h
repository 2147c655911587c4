// Bounded byte helpers shared by the signature tests, and the extra reads a
// few tests make through the scan context. Every helper takes the buffer
// length and answers "no" instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/byte_order.h"

#include "engines/signatures/signature_catalogue.h"

namespace qm::sig {

// True when `bytes` sits at `offset` and lies wholly inside the buffer.
inline bool HasAt(const uint8_t* data, size_t len, size_t offset, std::string_view bytes) {
  return offset <= len && bytes.size() <= len - offset &&
         std::memcmp(data + offset, bytes.data(), bytes.size()) == 0;
}

// True when `bytes` occurs anywhere in the first `len` bytes.
inline bool Contains(const uint8_t* data, size_t len, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > len) return false;
  for (size_t i = 0; i + bytes.size() <= len; ++i)
    if (data[i] == static_cast<uint8_t>(bytes[0]) &&
        std::memcmp(data + i, bytes.data(), bytes.size()) == 0)
      return true;
  return false;
}

// ASCII case-insensitive prefix test of `len` bytes against `prefix`.
inline bool StartsWithNoCase(const uint8_t* data, size_t len, std::string_view prefix) {
  if (prefix.size() > len) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    uint8_t a = data[i], b = static_cast<uint8_t>(prefix[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<uint8_t>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

// Reads `count` whole sectors at absolute `sector` into the context's scratch
// buffer at `scratchOffset`. False when there is no source, the sector size is
// unusable, the sectors do not fit the scratch buffer, or any sector fails.
bool ReadSectorsToScratch(SignatureScanContext& context, uint64_t sector, uint32_t count,
                          size_t scratchOffset);

// Reads `length` bytes that lie `offset` bytes after the start of the
// candidate (context.startSector) and returns where they landed in the
// scratch buffer, or null when they could not be read.
const uint8_t* ReadBytesFromStart(SignatureScanContext& context, uint64_t offset, size_t length);

// Bytes at offsets from the candidate start, for finders that walk a file's
// own structure forward: served from the bytes the test saw, then from
// windows of the file read into the scratch buffer as the walk moves on.
// Nothing at or past `end` bytes from the start is read.
class StartWindow {
 public:
  StartWindow(const uint8_t* data, size_t len, SignatureScanContext& context, uint64_t end)
      : context_(context), end_(end), bytes_(data), length_(len) {}
  // `count` bytes at `offset`, or null when they lie past the end, cannot
  // be read, or the progress callback asked to stop before a read (then the
  // context holds the cancel result). The pointer is good until the next
  // call.
  const uint8_t* At(uint64_t offset, size_t count);
  // True when the bytes from `offset` to the next multiple of `sectorSize`
  // are there and all zero (none are needed at a sector boundary): the
  // blank slack a file system leaves after a file's last byte.
  bool BlankToSectorEnd(uint64_t offset, size_t sectorSize);

 private:
  static constexpr size_t kWindowBytes = 0x8000;
  SignatureScanContext& context_;
  uint64_t end_;
  const uint8_t* bytes_;
  uint64_t first_ = 0;
  size_t length_;
};

}  // namespace qm::sig
