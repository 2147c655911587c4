// Field readers for on-disk structures: little-endian as FAT, NTFS, MBR and
// GPT store them, big-endian for the few file formats that use it. Callers
// check that offset + width lies inside their buffer.
#pragma once

#include <cstdint>

namespace qm {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32); }

inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace qm
