// LZNT1, the compression of NTFS compressed files.
//
// A compression unit (usually 16 clusters) is stored as a sequence of chunks,
// each standing for up to 4096 bytes of output:
//
//   chunk header (16 bits):  bit 15     1 = compressed, 0 = stored
//                            bits 12-14 signature (3)
//                            bits 0-11  chunk data bytes - 1
//
// A header of 0 ends the unit. A compressed chunk is a series of groups: one
// flag byte, then eight tokens, bit i of the flag telling whether token i is
// a literal byte (0) or a 16-bit back-reference (1). A back-reference splits
// into offset and length fields whose widths depend on how far into the
// chunk's output it stands: the further, the more offset bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qm::ntfs {

inline constexpr size_t kLznt1ChunkBytes = 4096;

// Decompresses one compression unit into `out` (the unit's full size). Bytes
// after the last chunk are zero. Returns false for data that is not a valid
// LZNT1 stream (a reference before the start of its chunk, a chunk that
// reaches past the input, output past the unit): such a unit cannot be
// recovered and is not to be passed off as file content.
bool DecompressLznt1(std::span<const uint8_t> in, std::span<uint8_t> out);

}  // namespace qm::ntfs
