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

// Walks the EBR chain of the extended partition [extStart, extStart+extCount).
int ReadLogicalPartitions(const SectorSource& source, uint64_t extStart, uint64_t extCount,
                          std::vector<PartitionEntry>& entries, std::string& reason) {
  const uint32_t sectorSize = source.info().sectorSize;
  const uint64_t extEnd = extStart + extCount;  // one past the last sector
  std::vector<uint8_t> ebr(sectorSize);
  std::vector<TableExtent> extents;
  std::set<uint64_t> visited;
  uint64_t ebrSector = extStart;
  int number = 5;
  for (;;) {
    if (static_cast<int>(visited.size()) >= kMaxLogicalPartitions) {
      reason = "the chain of logical partitions holds more than " +
               std::to_string(kMaxLogicalPartitions) + " entries";
      return err::kInvalidData;
    }
    if (!visited.insert(ebrSector).second) {
      reason = "the chain of logical partitions loops back to sector " + std::to_string(ebrSector);
      return err::kInvalidData;
    }
    if (ebrSector < extStart || ebrSector >= extEnd) {
      reason = "an extended boot record in sector " + std::to_string(ebrSector) +
               " lies outside the extended partition";
      return err::kInvalidData;
    }
    uint32_t got = 0;
    if (int rc = source.ReadSectors(1, ebr.data(), ebrSector, sectorSize, &got); rc != 0)
      return rc;
    if (!HasSignature(ebr.data())) {
      // An extended partition that holds no logical partition yet.
      if (ebrSector == extStart) break;
      reason = "the extended boot record in sector " + std::to_string(ebrSector) +
               " has no 55 AA signature";
      return err::kInvalidData;
    }
    extents.push_back({ebrSector, 1, "the extended boot record in sector " + std::to_string(ebrSector)});

    const RawEntry data = EntryAt(ebr.data(), 0);
    if (data.type != 0 && data.sectorCount != 0) {
      const std::string what = "logical partition " + std::to_string(number);
      if (data.firstLba == 0) {
        reason = what + " starts in its own extended boot record";
        return err::kInvalidData;
      }
      PartitionEntry entry;
      entry.number = number++;
      entry.startSector = ebrSector + data.firstLba;
      entry.sectorCount = data.sectorCount;
      entry.typeByte = data.type;
      entry.logical = true;
      entries.push_back(entry);
      extents.push_back({entry.startSector, entry.sectorCount,
                         what + " (" + Range(entry.startSector, entry.sectorCount) + ")"});
    }
    const RawEntry link = EntryAt(ebr.data(), 1);
    if (!IsExtendedPartitionType(link.type) || link.firstLba == 0) break;
    ebrSector = extStart + link.firstLba;
  }
  if (extents.empty()) return err::kSuccess;
  if (CheckExtents(std::move(extents), extStart, extEnd - 1, reason) != 0) {
    reason += " (inside the extended partition, " + Range(extStart, extCount) + ")";
    return err::kInvalidData;
  }
  return err::kSuccess;
}

}  // namespace

int ParseMbr(const SectorSource& source, const uint8_t* sector0,
             std::vector<PartitionEntry>& entries, std::string& reason) {
  entries.clear();
  const uint64_t diskSectors = source.totalSectors();
  std::vector<TableExtent> extents;
  bool haveExtended = false;
  uint64_t extStart = 0;
  uint64_t extCount = 0;
  for (int slot = 0; slot < kMbrPrimaryEntries; ++slot) {
    const RawEntry e = EntryAt(sector0, slot);
    if (e.type == 0 || e.sectorCount == 0) continue;
    const std::string what = "partition " + std::to_string(slot + 1);
    if (e.firstLba == 0) {
      reason = what + " starts in sector 0, which holds the partition table";
      return err::kInvalidData;
    }
    extents.push_back({e.firstLba, e.sectorCount, what + " (" + Range(e.firstLba, e.sectorCount) + ")"});
    if (IsExtendedPartitionType(e.type)) {
      if (haveExtended) {
        reason = "the table holds more than one extended partition";
        return err::kInvalidData;
      }
      haveExtended = true;
      extStart = e.firstLba;
      extCount = e.sectorCount;
      continue;
    }
    PartitionEntry entry;
    entry.number = slot + 1;
    entry.startSector = e.firstLba;
    entry.sectorCount = e.sectorCount;
    entry.typeByte = e.type;
    entries.push_back(entry);
  }
  if (diskSectors < 2) {
    reason = "the disk is too small to hold partitions";
    return err::kInvalidData;
  }
  if (int rc = CheckExtents(std::move(extents), 1, diskSectors - 1, reason); rc != 0) return rc;
  if (haveExtended) return ReadLogicalPartitions(source, extStart, extCount, entries, reason);
  return err::kSuccess;
}

}  // namespace qm
