#include "disk/partitions/mbr_table.h"

#include <cstring>
#include <set>
#include <vector>

#include "disk/sector_source.h"
#include "platform/byte_order.h"
#include "platform/errors.h"

namespace qm {

namespace {

struct RawEntry {
  uint8_t status;
  uint8_t type;
  uint32_t firstLba;
  uint32_t sectorCount;
};

RawEntry EntryAt(const uint8_t* sector, int slot) {
  const uint8_t* e = sector + kMbrEntriesOffset + slot * kMbrEntrySize;
  return RawEntry{e[0], e[4], Le32(e + 8), Le32(e + 12)};
}

bool HasSignature(const uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

// Volume boot sectors end in 55 AA as well; their BPB overlaps the entry
// area with boot code, so they must not be read as a table.
bool IsVolumeBootSector(const uint8_t* s) {
  if (std::memcmp(s + 3, "NTFS    ", 8) == 0 || std::memcmp(s + 3, "EXFAT   ", 8) == 0)
    return true;
  const bool jump = (s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9;
  return jump && (std::memcmp(s + 54, "FAT", 3) == 0 || std::memcmp(s + 82, "FAT32", 5) == 0);
}

std::string Range(uint64_t start, uint64_t count) {
  return "sectors " + std::to_string(start) + "-" + std::to_string(start + count - 1);
}

}  // namespace

bool IsExtendedPartitionType(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

SectorZeroKind ClassifySectorZero(const uint8_t* sector, size_t size) {
  if (size < 512 || !HasSignature(sector) || IsVolumeBootSector(sector))
    return SectorZeroKind::kNoTable;
  bool any = false;
  bool protective = false;
  for (int slot = 0; slot < kMbrPrimaryEntries; ++slot) {
    const RawEntry e = EntryAt(sector, slot);
    if (e.status != 0x00 && e.status != 0x80) return SectorZeroKind::kNoTable;
    if (e.type == 0) continue;
    any = true;
    if (e.type == kGptProtectiveType) protective = true;
  }
  if (protective) return SectorZeroKind::kProtectiveMbr;
  return any ? SectorZeroKind::kMbr : SectorZeroKind::kNoTable;
}

namespace {

// The extents a table claims, each with the entry it stands for (-1 for an
// extended boot record or the extended partition itself).
struct Claims {
  std::vector<TableExtent> extents;
  std::vector<int> owners;
  void Add(TableExtent extent, int owner) {
    extents.push_back(std::move(extent));
    owners.push_back(owner);
  }
  // Hands the problems found to the entries; those of structures that are
  // no entry become notes of the table.
  void Apply(PartitionTable& table) const {
    for (size_t i = 0; i < extents.size(); ++i) {
      if (extents[i].problem.empty()) continue;
      if (owners[i] >= 0)
        table.entries[static_cast<size_t>(owners[i])].problem = extents[i].problem;
      else
        table.AddNote(extents[i].what + " cannot be used: " + extents[i].problem);
    }
  }
};

// Walks the EBR chain of the extended partition [extStart, extLast]. Where
// the chain breaks (a loop, a record outside the extended partition, a
// missing signature, a read error) the logical partitions found so far are
// kept and a note says where it broke.
void ReadLogicalPartitions(const SectorSource& source, uint64_t extStart, uint64_t extLast,
                           PartitionTable& table) {
  const uint32_t sectorSize = source.info().sectorSize;
  std::vector<uint8_t> ebr(sectorSize);
  Claims claims;
  std::set<uint64_t> visited;
  uint64_t ebrSector = extStart;
  int number = 5;
  const std::string rest = "; the logical partitions before it are kept";
  for (;;) {
    const std::string record = "the extended boot record in sector " + std::to_string(ebrSector);
    if (static_cast<int>(visited.size()) >= kMaxLogicalPartitions) {
      table.AddNote("the chain of logical partitions holds more than " +
                    std::to_string(kMaxLogicalPartitions) + " entries; the rest is not read");
      break;
    }
    if (!visited.insert(ebrSector).second) {
      table.AddNote("the chain of logical partitions loops back to sector " +
                    std::to_string(ebrSector) + rest);
      break;
    }
    if (ebrSector < extStart || ebrSector > extLast) {
      table.AddNote("the chain of logical partitions points to sector " +
                    std::to_string(ebrSector) + ", outside the extended partition" + rest);
      break;
    }
    uint32_t got = 0;
    if (int rc = source.ReadSectors(1, ebr.data(), ebrSector, sectorSize, &got); rc != 0) {
      table.AddNote(record + " could not be read (" + ErrorText(rc) + ")" + rest);
      break;
    }
    if (!HasSignature(ebr.data())) {
      // An extended partition that holds no logical partition yet.
      if (ebrSector != extStart) table.AddNote(record + " has no 55 AA signature" + rest);
      break;
    }
    claims.Add({ebrSector, 1, record, {}}, -1);

    const RawEntry data = EntryAt(ebr.data(), 0);
    if (data.type != 0 && data.sectorCount != 0) {
      PartitionEntry entry;
      entry.number = number++;
      entry.startSector = ebrSector + data.firstLba;
      entry.sectorCount = data.sectorCount;
      entry.typeByte = data.type;
      entry.logical = true;
      TableExtent extent{entry.startSector, entry.sectorCount,
                         "logical partition " + std::to_string(entry.number) + " (" +
                             Range(entry.startSector, entry.sectorCount) + ")",
                         {}};
      if (data.firstLba == 0) extent.problem = "it starts in its own extended boot record";
      table.entries.push_back(entry);
      claims.Add(std::move(extent), static_cast<int>(table.entries.size() - 1));
    }
    const RawEntry link = EntryAt(ebr.data(), 1);
    if (!IsExtendedPartitionType(link.type) || link.firstLba == 0) break;
    ebrSector = extStart + link.firstLba;
  }
  MarkExtentProblems(claims.extents, extStart, extLast, source.totalSectors());
  for (TableExtent& e : claims.extents)
    if (e.problem.find("outside the usable") != std::string::npos)
      e.problem = "it lies outside the extended partition (" +
                  Range(extStart, extLast - extStart + 1) + ")";
  claims.Apply(table);
}

}  // namespace

void ParseMbr(const SectorSource& source, const uint8_t* sector0, PartitionTable& table) {
  table.entries.clear();
  const uint64_t diskSectors = source.totalSectors();
  Claims claims;
  int extendedSlot = -1;
  for (int slot = 0; slot < kMbrPrimaryEntries; ++slot) {
    const RawEntry e = EntryAt(sector0, slot);
    if (e.type == 0 || e.sectorCount == 0) continue;
    const std::string what = "partition " + std::to_string(slot + 1);
    TableExtent extent{e.firstLba, e.sectorCount, what + " (" + Range(e.firstLba, e.sectorCount) + ")", {}};
    if (e.firstLba == 0) extent.problem = "it starts in sector 0, which holds the partition table";
    if (IsExtendedPartitionType(e.type)) {
      if (extendedSlot >= 0) {
        table.AddNote(what + " is a second extended partition and is not read (a table holds one)");
        continue;
      }
      extendedSlot = static_cast<int>(claims.extents.size());
      extent.what = what + ", the extended partition";
      // Logical partitions that still lie on the disk are read even when
      // the extended partition runs past its end; it is checked for
      // overlaps as far as it reaches.
      if (e.firstLba != 0 && e.firstLba < diskSectors &&
          extent.count - 1 > diskSectors - 1 - extent.start) {
        table.AddNote(extent.what + " runs past the end of the disk; the logical partitions on "
                      "the disk are read");
        extent.count = diskSectors - extent.start;
      }
      claims.Add(std::move(extent), -1);
      continue;
    }
    PartitionEntry entry;
    entry.number = slot + 1;
    entry.startSector = e.firstLba;
    entry.sectorCount = e.sectorCount;
    entry.typeByte = e.type;
    table.entries.push_back(entry);
    claims.Add(std::move(extent), static_cast<int>(table.entries.size() - 1));
  }
  MarkExtentProblems(claims.extents, 1, diskSectors - 1, diskSectors);
  claims.Apply(table);
  if (extendedSlot < 0) return;
  const TableExtent& ext = claims.extents[static_cast<size_t>(extendedSlot)];
  if (ext.start == 0 || ext.start >= diskSectors) return;
  ReadLogicalPartitions(source, ext.start, ext.start + ext.count - 1, table);
}

}  // namespace qm
