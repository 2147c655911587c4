#include "engines/fat/fat_directory_entry.h"

#include <cstring>

#include "platform/filetime.h"

namespace qm {

namespace {

// Live entries written by any real driver carry dates inside this range; a
// deep scan uses it to tell entries from random bytes.
constexpr CivilTime kPlausibleFrom{1990, 1, 1, 0, 0, 0, 0};
constexpr CivilTime kPlausibleUntil{2050, 1, 1, 0, 0, 0, 0};

uint64_t ToFileTime(const CivilTime& c) {
  uint64_t t = 0;
  CivilToFileTime(c, t);
  return t;
}

bool InPlausibleRange(uint64_t fileTime) {
  static const uint64_t from = ToFileTime(kPlausibleFrom);
  static const uint64_t until = ToFileTime(kPlausibleUntil);
  return fileTime >= from && fileTime <= until;
}

bool IsForbiddenShortNameByte(uint8_t b) {
  if (b < 0x20) return true;
  if (b >= 'a' && b <= 'z') return true;
  switch (b) {
    case '"': case '*': case '.': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return false;
  }
}

bool IsAllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

// Bytes 13..30 repeating one 4-byte value: a fill pattern, not entries.
bool IsRepeatedFill(const uint8_t* p) {
  return std::memcmp(p + 13, p + 17, 4) == 0 && std::memcmp(p + 13, p + 21, 4) == 0 &&
         std::memcmp(p + 13, p + 25, 4) == 0 && std::memcmp(p + 29, p + 13, 2) == 0;
}

// Name and extension rules of a short entry inside a directory block.
bool ShortNameLooksWritten(const uint8_t* p, bool deleted) {
  for (int i = 0; i < 11; ++i) {
    if (i == 0 && deleted) continue;
    if (p[i] < 0x20 || p[i] == '.') return false;
  }
  // A blank ends the name (or the extension): only blanks may follow it.
  auto blanksOnlyAfterBlank = [](const uint8_t* field, int n) {
    bool blank = false;
    for (int i = 0; i < n; ++i) {
      if (field[i] == ' ') blank = true;
      else if (blank) return false;
    }
    return true;
  };
  if (!blanksOnlyAfterBlank(p + (deleted ? 1 : 0), deleted ? 7 : 8)) return false;
  // Bytes with the top bit set are letters of the OEM code page (0x90 is
  // "É" and 0x9A "Ü" in code page 850) standing alone, or in a double-byte
  // code page lead bytes whose trail byte may be plain ASCII ("真" is 0x90
  // 0x5E in Shift JIS): no rule about them holds for every volume.
  return blanksOnlyAfterBlank(p + 8, 3);
}

}  // namespace

FatDirEntry ReadFatDirEntry(const uint8_t* bytes) {
  FatDirEntry e;
  std::memcpy(&e, bytes, sizeof e);
  return e;
}

FatLongNameEntry ReadFatLongNameEntry(const uint8_t* bytes) {
  FatLongNameEntry e;
  std::memcpy(&e, bytes, sizeof e);
  return e;
}

bool FatDateTimeToFileTime(uint16_t date, uint16_t time, uint8_t hundredths, uint64_t& fileTime) {
  CivilTime c;
  c.year = 1980 + (date >> 9);
  c.month = (date >> 5) & 0x0F;
  c.day = date & 0x1F;
  c.hour = time >> 11;
  c.minute = (time >> 5) & 0x3F;
  c.second = 2 * (time & 0x1F);
  // The creation time's extra byte counts hundredths of a second, 0..199,
  // refining the two-second resolution of the time word.
  c.second += hundredths / 100;
  c.millisecond = 10 * (hundredths % 100);
  return CivilToFileTime(c, fileTime);
}

bool FatCreationTime(const FatDirEntry& e, uint64_t& fileTime) {
  return FatDateTimeToFileTime(e.creationDate, e.creationTime, e.creationHundredths, fileTime);
}

bool FatAccessTime(const FatDirEntry& e, uint64_t& fileTime) {
  return FatDateTimeToFileTime(e.accessDate, 0, 0, fileTime);
}

bool FatWriteTime(const FatDirEntry& e, uint64_t& fileTime) {
  return FatDateTimeToFileTime(e.writeDate, e.writeTime, 0, fileTime);
}

uint8_t ShortNameChecksum(const uint8_t shortName[11]) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum >> 1) | (sum << 7)) + shortName[i]);
  return sum;
}

void LongNamePieceUnits(const FatLongNameEntry& e, char16_t units[kLongNamePieceUnits]) {
  int k = 0;
  for (int i = 0; i < 10; i += 2) units[k++] = static_cast<char16_t>(e.name1[i] | e.name1[i + 1] << 8);
  for (int i = 0; i < 12; i += 2) units[k++] = static_cast<char16_t>(e.name2[i] | e.name2[i + 1] << 8);
  for (int i = 0; i < 4; i += 2) units[k++] = static_cast<char16_t>(e.name3[i] | e.name3[i + 1] << 8);
}

bool IsDotClusterStart(const uint8_t* first, const uint8_t* second) {
  const FatDirEntry dot = ReadFatDirEntry(first);
  const FatDirEntry dotDot = ReadFatDirEntry(second);
  return dot.name[0] == '.' && (dot.attributes & fatattr::kDirectory) && dot.fileSize == 0 &&
         dotDot.name[0] == '.' && dotDot.name[1] == '.' &&
         (dotDot.attributes & fatattr::kDirectory) && dotDot.fileSize == 0;
}

bool IsDirectoryEntry(const uint8_t* entry, size_t available) {
  if (available < kFatEntryBytes) return false;
  if (available >= 2 * kFatEntryBytes && IsDotClusterStart(entry, entry + kFatEntryBytes))
    return true;
  const FatDirEntry e = ReadFatDirEntry(entry);
  const uint8_t attr = e.attributes;
  const bool longName = attr == fatattr::kLongName;
  const bool deleted = IsDeletedEntry(e);
  const bool directory = (attr & fatattr::kDirectory) != 0;

  if (!longName && !directory && e.fileSize == 0 && FirstCluster(e) != 0) return false;
  if (attr == fatattr::kVolumeLabel) {
    if (e.fileSize != 0 || FirstCluster(e) != 0) return false;
  } else if ((attr & fatattr::kVolumeLabel) && !longName) {
    return false;
  }
  if (attr >= 0x40) return false;
  if (directory && (attr & fatattr::kReadOnly)) return false;
  if (longName && !deleted && (e.name[0] & ~0x40) > kMaxLongNamePieces) return false;
  if (!longName && !deleted && !directory) {
    uint64_t created = 0, accessed = 0, written = 0;
    if (!FatCreationTime(e, created) || !FatAccessTime(e, accessed) || !FatWriteTime(e, written))
      return false;
    if (!InPlausibleRange(created) || !InPlausibleRange(accessed) || !InPlausibleRange(written))
      return false;
  }
  if (!longName && attr != fatattr::kVolumeLabel) {
    for (int i = 0; i < 11; ++i) {
      const uint8_t b = i < 8 ? e.name[i] : e.ext[i - 8];
      if (IsForbiddenShortNameByte(b)) return false;
    }
  }
  if (directory && !deleted && !longName && e.fileSize != 0) return false;
  if (longName && e.firstClusterLow != 0) return false;
  if (attr == fatattr::kVolumeLabel || longName) return true;
  return (attr & (fatattr::kDirectory | fatattr::kArchive)) != 0;
}

bool IsDirectorySector(const uint8_t* data, size_t length) {
  if (length < kFatEntryBytes) return true;
  const size_t count = length / kFatEntryBytes;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = data + i * kFatEntryBytes;
    if (p[0] == 0) {
      if (i == 0) return false;
      return IsAllZero(p, length - i * kFatEntryBytes);
    }
    if (!IsDirectoryEntry(p, length - i * kFatEntryBytes)) return false;
    if (IsRepeatedFill(p)) return false;
    const FatDirEntry e = ReadFatDirEntry(p);
    if (IsLongNameEntry(e)) {
      // The pieces of one long name share the checksum of the short entry
      // that ends the chain.
      const uint8_t checksum = p[13];
      size_t j = i + 1;
      int more = 0;
      while (j < count && more < kMaxLongNamePieces - 1) {
        const uint8_t* q = data + j * kFatEntryBytes;
        if (q[11] != fatattr::kLongName || q[13] != checksum) break;
        ++j;
        ++more;
      }
      if (j == count) continue;
      const uint8_t* q = data + j * kFatEntryBytes;
      if (q[0] == 0 || q[11] == fatattr::kLongName) return false;
      if (q[0] != kFatDeletedMark && ShortNameChecksum(q) != checksum) return false;
      continue;
    }
    const bool deleted = IsDeletedEntry(e);
    if (e.attributes != fatattr::kVolumeLabel) {
      uint64_t created = 0;
      if (!FatCreationTime(e, created)) return false;
    }
    if (!ShortNameLooksWritten(p, deleted)) return false;
  }
  return true;
}

FatEntryTimes EntryTimes(const FatDirEntry& e) {
  FatEntryTimes t;
  FatCreationTime(e, t.created);
  FatAccessTime(e, t.accessed);
  FatWriteTime(e, t.written);
  return t;
}

}  // namespace qm
