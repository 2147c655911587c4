// Partition tables read by the program itself (never by the kernel), so that
// a copy of a whole disk in an image file can be split into its partitions
// exactly like the disk it came from.
//
// Two schemes: the classic MBR (four primary entries, logical partitions in a
// chain of extended boot records) and GPT (header at LBA 1, backup header in
// the last sector). A table whose entries overlap or leave the disk is
// refused as a whole, with a sentence that says why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class SectorSource;

enum class PartitionScheme { kNone, kMbr, kGpt };

struct PartitionEntry {
  // MBR: 1-4 for primary entries (their slot), 5 and up for logical
  // partitions in chain order. GPT: entry index + 1.
  int number = 0;
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  // MBR type byte; for GPT the MBR type of the same purpose (0x07 for
  // Microsoft basic data, 0x83 for Linux data, ...), 0 when there is none.
  uint8_t typeByte = 0;
  bool logical = false;
  std::string typeGuid;  // GPT only, canonical text form
  std::string name;      // GPT only
};

struct PartitionTable {
  PartitionScheme scheme = PartitionScheme::kNone;
  uint32_t sectorSize = 512;
  uint64_t diskSectors = 0;
  std::vector<PartitionEntry> entries;  // ascending number
  // Something the reader worked around, e.g. a damaged primary GPT header.
  std::string note;
};

// Reads the partition table of `source` (sectors of source.info().sectorSize,
// source.totalSectors() of them). Returns 0 with scheme kNone when sector 0
// holds no table (a volume boot sector, an empty disk), 0 with the entries
// when the table is sound, 13 with `reason` when it is inconsistent, or the
// read error.
int ReadPartitionTable(const SectorSource& source, PartitionTable& table, std::string& reason);

// Opens an image file (512-byte sectors) and reads its table.
int ReadImagePartitionTable(const std::string& imagePath, PartitionTable& table,
                            std::string& reason);

// A stretch of sectors a table claims, named for the reason text
// ("partition 2", "the extended boot record in sector 4096").
struct TableExtent {
  uint64_t start = 0;
  uint64_t count = 0;
  std::string what;
};

// Checks that every extent lies inside [firstUsable, lastUsable] and that no
// two overlap. Returns 0, or 13 with `reason`.
int CheckExtents(std::vector<TableExtent> extents, uint64_t firstUsable, uint64_t lastUsable,
                 std::string& reason);

const char* SchemeName(PartitionScheme scheme);

}  // namespace qm
