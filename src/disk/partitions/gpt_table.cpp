#include "disk/partitions/gpt_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "disk/partitions/crc32.h"
#include "disk/sector_source.h"
#include "platform/byte_order.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace qm {

namespace {

struct GptHeader {
  uint64_t myLba = 0;
  uint64_t alternateLba = 0;
  uint64_t firstUsable = 0;
  uint64_t lastUsable = 0;
  uint64_t entriesLba = 0;
  uint32_t entryCount = 0;
  uint32_t entrySize = 0;
  std::vector<uint8_t> entries;  // entryCount * entrySize bytes, CRC checked
};

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// Reads and checks the header in sector `lba` and its entry array. Returns
// 0; 13 with `why` when the header or its array fails a check; or the read
// error of the header sector.
int ReadHeader(const SectorSource& source, uint64_t lba, GptHeader& h, std::string& why) {
  const uint32_t sectorSize = source.info().sectorSize;
  const uint64_t diskSectors = source.totalSectors();
  std::vector<uint8_t> sector(sectorSize);
  uint32_t got = 0;
  if (int rc = source.ReadSectors(1, sector.data(), lba, sectorSize, &got); rc != 0) {
    why = "it could not be read";
    return rc;
  }
  const uint8_t* s = sector.data();
  if (std::memcmp(s, "EFI PART", 8) != 0) {
    why = "no \"EFI PART\" signature";
    return err::kInvalidData;
  }
  const uint32_t headerSize = Le32(s + 12);
  if (headerSize < kGptHeaderMinSize || headerSize > sectorSize) {
    why = "header size " + std::to_string(headerSize) + " is out of range";
    return err::kInvalidData;
  }
  const uint32_t storedCrc = Le32(s + 16);
  std::memset(sector.data() + 16, 0, 4);
  if (Crc32(s, headerSize) != storedCrc) {
    why = "header CRC mismatch";
    return err::kInvalidData;
  }
  h.myLba = Le64(s + 24);
  h.alternateLba = Le64(s + 32);
  h.firstUsable = Le64(s + 40);
  h.lastUsable = Le64(s + 48);
  h.entriesLba = Le64(s + 72);
  h.entryCount = Le32(s + 80);
  h.entrySize = Le32(s + 84);
  const uint32_t arrayCrc = Le32(s + 88);
  if (h.myLba != lba) {
    why = "the header names sector " + std::to_string(h.myLba) + " as its own";
    return err::kInvalidData;
  }
  // A usable area that runs past the end is what a disk image cut short
  // looks like: the partitions that still lie on it are read.
  if (h.firstUsable > h.lastUsable || h.firstUsable >= diskSectors || h.firstUsable < 2) {
    why = "usable area " + std::to_string(h.firstUsable) + "-" + std::to_string(h.lastUsable) +
          " does not fit a disk of " + std::to_string(diskSectors) + " sectors";
    return err::kInvalidData;
  }
  if (h.entrySize < kGptEntryMinSize || h.entrySize > kGptEntryMaxSize ||
      !IsPowerOfTwo(h.entrySize)) {
    why = "entry size " + std::to_string(h.entrySize) + " is not a power of two from 128 to 4096";
    return err::kInvalidData;
  }
  const uint64_t arrayBytes = uint64_t{h.entryCount} * h.entrySize;
  if (arrayBytes > kGptMaxArrayBytes) {
    why = std::to_string(h.entryCount) + " entries of " + std::to_string(h.entrySize) +
          " bytes are more than a partition table holds";
    return err::kInvalidData;
  }
  const uint64_t arraySectors = (arrayBytes + sectorSize - 1) / sectorSize;
  const bool arrayOnDisk = h.entriesLba >= 2 && h.entriesLba < diskSectors &&
                           arraySectors <= diskSectors - h.entriesLba;
  const bool arrayOutsideData = h.entriesLba + arraySectors <= h.firstUsable ||
                                h.entriesLba > h.lastUsable;
  const bool arrayClearOfHeader = lba < h.entriesLba || lba >= h.entriesLba + arraySectors;
  if (!arrayOnDisk || !arrayOutsideData || !arrayClearOfHeader) {
    why = "the entry array in sector " + std::to_string(h.entriesLba) +
          " lies outside the disk, over the header or in the usable area";
    return err::kInvalidData;
  }
  h.entries.assign(arraySectors * sectorSize, 0);
  if (arraySectors > 0) {
    // Read in pieces that fit a u32 sector count (the array is at most 1 MiB).
    if (int rc = source.ReadSectors(static_cast<uint32_t>(arraySectors), h.entries.data(),
                                    h.entriesLba, sectorSize, &got);
        rc != 0) {
      why = "its entry array could not be read";
      return err::kInvalidData;
    }
  }
  h.entries.resize(arrayBytes);
  if (Crc32(h.entries.data(), h.entries.size()) != arrayCrc) {
    why = "entry array CRC mismatch";
    return err::kInvalidData;
  }
  return err::kSuccess;
}

bool IsZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

}  // namespace

std::string GuidText(const uint8_t* b) {
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Le32(b),
                Le16(b + 4), Le16(b + 6), b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

uint8_t MbrTypeForGptType(const std::string& guid) {
  struct Pair {
    const char* guid;
    uint8_t type;
  };
  // The usual correspondences (the same ones gdisk shows as its 4-digit
  // codes, whose high byte is the MBR type).
  static constexpr Pair kPairs[] = {
      {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 0x07},  // Microsoft basic data
      {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", 0x27},  // Windows recovery
      {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", 0x83},  // Linux file system
      {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", 0x82},  // Linux swap
      {"E6D6D379-F507-44C2-A23C-238F2A3DF928", 0x8E},  // Linux LVM
      {"A19D880F-05FC-4D3B-A006-743F0F84911E", 0xFD},  // Linux RAID
      {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 0xEF},  // EFI system
  };
  for (const auto& p : kPairs)
    if (guid == p.guid) return p.type;
  return 0;
}

int ParseGpt(const SectorSource& source, PartitionTable& table, std::string& reason) {
  const uint64_t diskSectors = source.totalSectors();
  if (diskSectors < 3) {
    reason = "the disk is too small to hold a GPT";
    return err::kInvalidData;
  }
  GptHeader header;
  std::string primaryWhy;
  int rc = ReadHeader(source, 1, header, primaryWhy);
  if (rc != 0) {
    std::string backupWhy;
    const uint64_t backupLba = diskSectors - 1;
    header = GptHeader{};
    if (ReadHeader(source, backupLba, header, backupWhy) != 0) {
      reason = "GPT primary header: " + primaryWhy + "; backup header in sector " +
               std::to_string(backupLba) + ": " + backupWhy;
      return err::kInvalidData;
    }
    table.AddNote("the primary GPT header is damaged (" + primaryWhy +
                  "); the backup header in sector " + std::to_string(backupLba) + " was used");
  }

  uint64_t lastUsable = header.lastUsable;
  if (lastUsable >= diskSectors) {
    // The backup header sits in the last sector of the disk the table was
    // written for.
    const uint64_t reach = std::max({header.lastUsable, header.myLba, header.alternateLba});
    table.AddNote("the table was made for a disk that reaches sector " + std::to_string(reach) +
                  " but this one has " + std::to_string(diskSectors) +
                  " sectors (an image cut short?): partitions past its end cannot be used");
    lastUsable = diskSectors - 1;
  }

  std::vector<TableExtent> extents;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const uint8_t* e = header.entries.data() + size_t{i} * header.entrySize;
    if (IsZero(e, 16)) continue;  // unused entry
    const uint64_t first = Le64(e + 32);
    const uint64_t last = Le64(e + 40);
    PartitionEntry entry;
    entry.number = static_cast<int>(i + 1);
    entry.startSector = first;
    entry.sectorCount = last >= first ? last - first + 1 : 0;
    entry.typeGuid = GuidText(e);
    entry.typeByte = MbrTypeForGptType(entry.typeGuid);
    entry.name = Utf16LeBytesToUtf8(e + 56, 36);
    TableExtent extent{first, entry.sectorCount,
                       "partition " + std::to_string(i + 1) + " (sectors " +
                           std::to_string(first) + "-" + std::to_string(last) + ")",
                       {}};
    if (last < first)
      extent.problem = "it ends (sector " + std::to_string(last) + ") before it starts (sector " +
                       std::to_string(first) + ")";
    table.entries.push_back(entry);
    extents.push_back(std::move(extent));
  }
  MarkExtentProblems(extents, header.firstUsable, lastUsable, diskSectors);
  for (size_t i = 0; i < extents.size(); ++i) table.entries[i].problem = extents[i].problem;
  return err::kSuccess;
}

}  // namespace qm
