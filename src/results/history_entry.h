// HistoryEntry: one remembered deep scan in the history index "config".
//
// The index file is an 8-byte folder counter followed by these 1120-byte
// entries, little-endian and packed. Paths are stored as UTF-16LE, 260 code
// units with a NUL terminator; inside the program they are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// driveNumber of an entry made for an image file.
inline constexpr int32_t kImageDriveNumber = 128;
inline constexpr size_t kHistoryPathUnits = 260;

#pragma pack(push, 1)
struct HistoryEntry {
  int32_t driveNumber;     // disk-table index; kImageDriveNumber for an image
  uint32_t reserved;       // zero
  uint64_t volumeStart;    // absolute first sector (0 for an image)
  uint64_t volumeSectors;
  uint64_t extentStart;    // range being scanned when the scan stopped, sectors from the volume start
  uint64_t extentLength;
  uint64_t extentDone;     // sectors of that range already scanned
  uint64_t totalDone;      // sectors scanned in all
  uint64_t filesFound;
  uint64_t volumeBytes;    // size of the scanned volume in bytes; 0 when unknown
  uint64_t imageTime;      // image's modification time as FILETIME; 0 for a drive
  char16_t imagePath[kHistoryPathUnits];
  char16_t folder[kHistoryPathUnits];  // scan folder, with a trailing '/'

  std::string ImagePath() const;
  std::string Folder() const;
  // False (and the field left empty) when the UTF-16 form does not fit in
  // 259 units: a cut path would name some other file or folder.
  bool SetImagePath(const std::string& path);
  bool SetFolder(const std::string& path);
};
#pragma pack(pop)

inline constexpr size_t kHistoryEntrySize = 1120;
inline constexpr size_t kHistoryHeaderSize = 8;

static_assert(sizeof(HistoryEntry) == kHistoryEntrySize);
static_assert(offsetof(HistoryEntry, volumeStart) == 8);
static_assert(offsetof(HistoryEntry, extentStart) == 24);
static_assert(offsetof(HistoryEntry, filesFound) == 56);
static_assert(offsetof(HistoryEntry, volumeBytes) == 64);
static_assert(offsetof(HistoryEntry, imageTime) == 72);
static_assert(offsetof(HistoryEntry, imagePath) == 80);
static_assert(offsetof(HistoryEntry, folder) == 600);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "HistoryEntry is stored as its in-memory bytes; a big-endian host needs byte swapping");

// Where an interrupted deep scan stopped (the entry's offsets 24 to 63).
struct ResumePoint {
  uint64_t extentStart = 0;
  uint64_t extentLength = 0;
  uint64_t extentDone = 0;
  uint64_t totalDone = 0;
  uint64_t filesFound = 0;
};

}  // namespace qm
