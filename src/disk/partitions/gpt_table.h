// The GUID partition table.
//
// LBA 1 holds the primary header, the last sector of the disk the backup
// header; each points at its own copy of the entry array. Header (92 bytes
// used, little-endian):
//
//   +0 "EFI PART"   +8 revision      +12 header size   +16 header CRC32
//   +24 my LBA      +32 other LBA    +40 first usable  +48 last usable
//   +56 disk GUID   +72 entries LBA  +80 entry count   +84 entry size
//   +88 entry array CRC32
//
// Entry (entry size bytes, at least 128): +0 type GUID, +16 unique GUID,
// +32 first LBA, +40 last LBA (inclusive), +48 attributes, +56 name in
// UTF-16LE (36 units).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/partitions/partition_table.h"

namespace qm {

class SectorSource;

inline constexpr uint32_t kGptHeaderMinSize = 92;
inline constexpr uint32_t kGptEntryMinSize = 128;
inline constexpr uint32_t kGptEntryMaxSize = 4096;
// Real tables hold 128 entries of 128 bytes (16 KiB); anything past 1 MiB
// is damage or an attack on our memory.
inline constexpr uint64_t kGptMaxArrayBytes = 1u << 20;

// Reads the GPT of `source`, falling back to the backup header when the
// primary one fails its checks (and saying so in table.note). Entries that
// cannot be used are kept with their problem. Returns 0, or 13 with
// `reason` when neither header holds.
int ParseGpt(const SectorSource& source, PartitionTable& table, std::string& reason);

// Canonical text of a GUID stored in the mixed-endian GPT layout.
std::string GuidText(const uint8_t* bytes);
// The MBR type byte that stands for the same purpose as a GPT type GUID
// (0 when there is none).
uint8_t MbrTypeForGptType(const std::string& guidText);

}  // namespace qm
