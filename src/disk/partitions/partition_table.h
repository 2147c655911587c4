// Partition tables read by the program itself (never by the kernel), so that
// a copy of a whole disk in an image file can be split into its partitions
// exactly like the disk it came from.
//
// Two schemes: the classic MBR (four primary entries, logical partitions in a
// chain of extended boot records) and GPT (header at LBA 1, backup header in
// the last sector). One damaged entry does not cost the others: an entry
// that overlaps another, leaves the disk or starts in the table's own sector
// is kept with the reason it cannot be used, and every sound entry stays
// usable. Only a table with no readable header at all is refused.
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
  // Empty when the entry can be used; otherwise why it cannot ("runs past
  // the end of the disk ..."). Such an entry is listed but never opened.
  std::string problem;
  bool usable() const { return problem.empty(); }
};

struct PartitionTable {
  PartitionScheme scheme = PartitionScheme::kNone;
  uint32_t sectorSize = 512;
  uint64_t diskSectors = 0;
  std::vector<PartitionEntry> entries;  // ascending number
  // What the reader worked around, e.g. a damaged primary GPT header or a
  // chain of logical partitions that loops; sentences joined by "; ".
  std::string note;
  void AddNote(const std::string& sentence) { note += (note.empty() ? "" : "; ") + sentence; }
};

// Reads the partition table of `source` (sectors of source.info().sectorSize,
// source.totalSectors() of them). Returns 0 with scheme kNone when sector 0
// holds no table (a volume boot sector, an empty disk); 0 with the entries,
// unusable ones marked, when a table was found; 13 with `reason` when no
// header of the table can be used; or the read error of sector 0.
int ReadPartitionTable(const SectorSource& source, PartitionTable& table, std::string& reason);

// Opens an image file (512-byte sectors) and reads its table.
int ReadImagePartitionTable(const std::string& imagePath, PartitionTable& table,
                            std::string& reason);

// A stretch of sectors a table claims, named for the reason text
// ("partition 2", "the extended boot record in sector 4096"). `problem`
// is filled in by MarkExtentProblems.
struct TableExtent {
  uint64_t start = 0;
  uint64_t count = 0;
  std::string what;
  std::string problem;
};

// Gives every extent that is empty, lies outside [firstUsable, lastUsable]
// or overlaps another sound extent its problem; `diskSectors` tells an
// extent that runs past the end of the disk from one outside the usable
// area. Extents that already have a problem are left as they are.
void MarkExtentProblems(std::vector<TableExtent>& extents, uint64_t firstUsable,
                        uint64_t lastUsable, uint64_t diskSectors);

const char* SchemeName(PartitionScheme scheme);

}  // namespace qm
