#include "engines/ntfs/lznt1.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace qm::ntfs {

namespace {

// Decodes one compressed chunk's data into dest[0 .. limit); returns the
// bytes produced, or -1 for invalid data.
long DecompressChunk(const uint8_t* in, size_t inSize, uint8_t* dest, size_t limit) {
  size_t ip = 0;
  size_t op = 0;
  while (ip < inSize && op < limit) {
    const uint8_t flags = in[ip++];
    for (int bit = 0; bit < 8 && ip < inSize && op < limit; ++bit) {
      if (!(flags & (1 << bit))) {
        dest[op++] = in[ip++];
        continue;
      }
      if (ip + 2 > inSize) return -1;
      const uint16_t token = Le16(&in[ip]);
      ip += 2;
      // The offset field widens by one bit each time the output position
      // passes a power of two from 16 on: 4 bits up to 16 bytes, 12 at 2048.
      unsigned offsetBits = 4;
      for (size_t pos = op - 1; op > 0 && pos >= 0x10; pos >>= 1) ++offsetBits;
      const unsigned lengthBits = 16 - offsetBits;
      const size_t offset = (token >> lengthBits) + 1u;
      const size_t length = (token & ((1u << lengthBits) - 1)) + 3u;
      if (offset > op || length > limit - op) return -1;
      // Overlapping copies repeat the pattern, so copy byte by byte.
      for (size_t i = 0; i < length; ++i, ++op) dest[op] = dest[op - offset];
    }
  }
  return static_cast<long>(op);
}

}  // namespace

bool DecompressLznt1(std::span<const uint8_t> in, std::span<uint8_t> out) {
  std::fill(out.begin(), out.end(), 0);
  size_t ip = 0;
  size_t op = 0;
  while (ip + 2 <= in.size() && op < out.size()) {
    const uint16_t header = Le16(&in[ip]);
    if (header == 0) break;
    const size_t dataBytes = (header & 0x0FFF) + 1u;
    ip += 2;
    if (dataBytes > in.size() - ip) return false;
    const size_t room = std::min(kLznt1ChunkBytes, out.size() - op);
    if (header & 0x8000) {
      if (DecompressChunk(in.data() + ip, dataBytes, out.data() + op, room) < 0) return false;
    } else {
      if (dataBytes > room) return false;
      std::memcpy(out.data() + op, in.data() + ip, dataBytes);
    }
    // Every chunk stands for a whole 4096 bytes; a short one is zero-padded.
    ip += dataBytes;
    op += room;
  }
  return true;
}

}  // namespace qm::ntfs
