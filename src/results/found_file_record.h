// FoundFileRecord: one found file or folder.
//
// The same 346 bytes live in memory and in a scan log's main file (record n at
// byte (n - 1) * 346), so the layout is a stored format: little-endian,
// packed, fields at odd offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text.h"

namespace qm {

enum class EngineKind : uint32_t {
  kNtfsQuick = 0,
  kFatQuick = 1,
  kNtfsDeep = 2,
  kFatDeep = 3,
  kCarving = 4,
};

#pragma pack(push, 1)
struct FoundFileRecord {
  // The tag the engine was opened with: a number its caller picks so that
  // records of several sources open at once can be told apart (the name is
  // from the format's first design; Linux has no drive letters). Compared,
  // never shown.
  uint16_t volumeLetter;
  uint32_t engineKind;         // EngineKind
  uint32_t isDirectory;        // 1 folder, 0 file
  uint32_t isDeleted;          // files: found deleted; FAT folders: deleted or inside a deleted one
  uint32_t contentOk;          // kContentOk, or why the content is damaged (below)
  uint32_t recordIndex;        // 1-based position in the main file
  uint32_t entryId;            // FAT first cluster, NTFS MFT record number, 0 for carved files
  uint32_t clusterBytes;       // 0xFFFFFFFF for carved files and lost folders
  uint64_t creationTime;       // FILETIME
  uint64_t accessTime;         // FILETIME
  uint64_t writeTime;          // FILETIME
  uint64_t fileSize;
  uint64_t dataAreaSector;     // FAT: data region start relative to the volume
  uint64_t anchorSector;       // absolute sector of the entry / MFT record / carved content
  uint64_t volumeStartSector;  // 0 for images and carved records
  char name[260];              // UTF-8, NUL-terminated, no path

  std::string Name() const { return NameFromField(name, sizeof name); }
  void SetName(std::string_view text) { CopyNameToField(text, name, sizeof name); }
};
#pragma pack(pop)

inline constexpr uint32_t kNoClusterChain = 0xFFFFFFFFu;

// contentOk values. Logs written before the third one hold only 0 and 1.
inline constexpr uint32_t kContentMismatch = 0;         // first data sector fails its signature check
inline constexpr uint32_t kContentOk = 1;
inline constexpr uint32_t kContentPartlyUnreadable = 2;  // sectors inside it could not be read
inline constexpr size_t kFoundFileRecordSize = 346;

static_assert(sizeof(FoundFileRecord) == kFoundFileRecordSize);
static_assert(offsetof(FoundFileRecord, volumeLetter) == 0);
static_assert(offsetof(FoundFileRecord, engineKind) == 2);
static_assert(offsetof(FoundFileRecord, isDirectory) == 6);
static_assert(offsetof(FoundFileRecord, isDeleted) == 10);
static_assert(offsetof(FoundFileRecord, contentOk) == 14);
static_assert(offsetof(FoundFileRecord, recordIndex) == 18);
static_assert(offsetof(FoundFileRecord, entryId) == 22);
static_assert(offsetof(FoundFileRecord, clusterBytes) == 26);
static_assert(offsetof(FoundFileRecord, creationTime) == 30);
static_assert(offsetof(FoundFileRecord, accessTime) == 38);
static_assert(offsetof(FoundFileRecord, writeTime) == 46);
static_assert(offsetof(FoundFileRecord, fileSize) == 54);
static_assert(offsetof(FoundFileRecord, dataAreaSector) == 62);
static_assert(offsetof(FoundFileRecord, anchorSector) == 70);
static_assert(offsetof(FoundFileRecord, volumeStartSector) == 78);
static_assert(offsetof(FoundFileRecord, name) == 86);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "FoundFileRecord is stored as its in-memory bytes; a big-endian host needs byte swapping");

}  // namespace qm
