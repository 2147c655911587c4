// The classic MBR partition table.
//
// Sector 0 ends with the signature 55 AA; four 16-byte entries start at byte
// 446:
//
//   +0 status (00 or 80)  +1 CHS first  +4 type  +5 CHS last
//   +8 first LBA (u32)    +12 sector count (u32)
//
// An extended entry (type 05, 0F or 85) holds a chain of extended boot
// records (EBRs). Each EBR is laid out like an MBR: its entry 0 is a logical
// partition, counted from the EBR itself, and its entry 1 links to the next
// EBR, counted from the start of the extended partition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/partitions/partition_table.h"

namespace qm {

class SectorSource;

inline constexpr size_t kMbrEntriesOffset = 446;
inline constexpr size_t kMbrEntrySize = 16;
inline constexpr int kMbrPrimaryEntries = 4;
inline constexpr uint8_t kGptProtectiveType = 0xEE;
// More logical partitions than this means a damaged or hostile chain.
inline constexpr int kMaxLogicalPartitions = 256;

enum class SectorZeroKind { kNoTable, kMbr, kProtectiveMbr };

// What sector 0 holds: an MBR, the protective MBR in front of a GPT, or no
// table at all (no signature, a FAT/NTFS/exFAT boot sector, status bytes
// other than 00/80, or four empty entries).
SectorZeroKind ClassifySectorZero(const uint8_t* sector, size_t size);

bool IsExtendedPartitionType(uint8_t type);

// Reads the primary entries of `sector0` and the logical partitions of the
// extended chain into `table`. Entries that cannot be used are kept with
// their problem; where the chain breaks, a note says so.
void ParseMbr(const SectorSource& source, const uint8_t* sector0, PartitionTable& table);

}  // namespace qm
