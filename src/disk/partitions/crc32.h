// CRC-32 as GPT uses it (IEEE 802.3, reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

uint32_t Crc32(const void* data, size_t length);

}  // namespace qm
