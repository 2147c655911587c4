// FAT directory entries: the 32-byte on-disk layout, the decoding of their
// dates and times, and the plausibility tests that tell a block of directory
// entries from any other data (used by the quick walk and by the deep scans,
// which meet raw sectors without a file system around them).
//
//   short entry                         long-name entry (attribute 0x0F)
//   0  name[8]  (0xE5 deleted, 0 end)   0  sequence (0x40 = last piece)
//   8  ext[3]                           1  name1[5]  UTF-16LE
//   11 attributes                       11 attributes = 0x0F
//   12 NT case flags                    12 type (0)
//   13 creation hundredths              13 checksum of the short name
//   14 creation time, 16 creation date  14 name2[6]  UTF-16LE
//   18 access date                      26 first cluster (always 0)
//   20 first cluster high (FAT32)       28 name3[2]  UTF-16LE
//   22 write time, 24 write date
//   26 first cluster low, 28 size
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

namespace fatattr {
inline constexpr uint8_t kReadOnly = 0x01;
inline constexpr uint8_t kHidden = 0x02;
inline constexpr uint8_t kSystem = 0x04;
inline constexpr uint8_t kVolumeLabel = 0x08;
inline constexpr uint8_t kLongName = 0x0F;
inline constexpr uint8_t kDirectory = 0x10;
inline constexpr uint8_t kArchive = 0x20;
}  // namespace fatattr

inline constexpr size_t kFatEntryBytes = 32;
inline constexpr uint8_t kFatDeletedMark = 0xE5;
// 255 UTF-16 units of a long name need 20 pieces of 13.
inline constexpr int kMaxLongNamePieces = 20;
inline constexpr int kLongNamePieceUnits = 13;

#pragma pack(push, 1)
struct FatDirEntry {
  uint8_t name[8];
  uint8_t ext[3];
  uint8_t attributes;
  uint8_t ntCase;
  uint8_t creationHundredths;
  uint16_t creationTime;
  uint16_t creationDate;
  uint16_t accessDate;
  uint16_t firstClusterHigh;
  uint16_t writeTime;
  uint16_t writeDate;
  uint16_t firstClusterLow;
  uint32_t fileSize;
};

struct FatLongNameEntry {
  uint8_t sequence;
  uint8_t name1[10];
  uint8_t attributes;
  uint8_t type;
  uint8_t checksum;
  uint8_t name2[12];
  uint16_t firstClusterLow;
  uint8_t name3[4];
};
#pragma pack(pop)

static_assert(sizeof(FatDirEntry) == kFatEntryBytes);
static_assert(sizeof(FatLongNameEntry) == kFatEntryBytes);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "FAT entries are read as host integers");

// Copies the entry at `bytes` (memcpy: directory buffers are not aligned).
FatDirEntry ReadFatDirEntry(const uint8_t* bytes);
FatLongNameEntry ReadFatLongNameEntry(const uint8_t* bytes);

inline bool IsLongNameEntry(const FatDirEntry& e) { return e.attributes == fatattr::kLongName; }
inline bool IsDeletedEntry(const FatDirEntry& e) { return e.name[0] == kFatDeletedMark; }
inline uint32_t FirstCluster(const FatDirEntry& e) {
  return (uint32_t{e.firstClusterHigh} << 16) | e.firstClusterLow;
}

// FAT times are local civil times without a zone; they become FILETIMEs as
// they stand. Each returns false (and 0) when the fields do not form a date.
bool FatDateTimeToFileTime(uint16_t date, uint16_t time, uint8_t hundredths, uint64_t& fileTime);
bool FatCreationTime(const FatDirEntry& e, uint64_t& fileTime);
bool FatAccessTime(const FatDirEntry& e, uint64_t& fileTime);  // date only
bool FatWriteTime(const FatDirEntry& e, uint64_t& fileTime);

// The three times of an entry as FILETIMEs, 0 where one does not convert.
struct FatEntryTimes {
  uint64_t created = 0;
  uint64_t accessed = 0;
  uint64_t written = 0;
};
FatEntryTimes EntryTimes(const FatDirEntry& e);

// The checksum a long-name chain carries of its 11-byte short name.
uint8_t ShortNameChecksum(const uint8_t shortName[11]);

// The 13 UTF-16LE units of one long-name piece, in order, into `units`.
void LongNamePieceUnits(const FatLongNameEntry& e, char16_t units[kLongNamePieceUnits]);

// `first` and `second` (32 bytes each) are the "." and ".." entries that
// open every sub-directory's first cluster.
bool IsDotClusterStart(const uint8_t* first, const uint8_t* second);

// Does the directory data (`length` bytes) open with that "." / ".." pair?
inline bool StartsWithDots(const uint8_t* data, size_t length) {
  return length >= 2 * kFatEntryBytes && IsDotClusterStart(data, data + kFatEntryBytes);
}

// A live volume-label entry (not a long-name piece, not a folder).
inline bool IsLabelEntry(const FatDirEntry& e) {
  return e.name[0] != 0 && !IsDeletedEntry(e) && !IsLongNameEntry(e) &&
         (e.attributes & fatattr::kVolumeLabel) && !(e.attributes & fatattr::kDirectory);
}

// Is the 32-byte entry at `entry` plausible? `available` is the number of
// bytes from `entry` to the end of the buffer; with 64 or more the entry may
// be recognised as the "." of a "."/".." pair.
bool IsDirectoryEntry(const uint8_t* entry, size_t available);

// Does the block hold FAT directory entries (and, after an end-of-directory
// entry, nothing but zeros)?
bool IsDirectorySector(const uint8_t* data, size_t length);

}  // namespace qm
