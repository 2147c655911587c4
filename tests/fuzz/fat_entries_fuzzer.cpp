// FAT directory entries as the quick walk and the deep scans meet them: the
// plausibility tests on raw blocks, the entry decoders, names and times.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engines/fat/fat_directory_entry.h"
#include "engines/fat/fat_entry_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::IsDirectorySector(data, size);
  // Blocks of the sizes the scans hand over, from every 32-byte step.
  for (size_t block : {size_t{512}, size_t{4096}}) {
    if (size >= block) qm::IsDirectorySector(data + size - block, block);
  }

  std::u16string longName;
  for (size_t offset = 0; offset + qm::kFatEntryBytes <= size; offset += qm::kFatEntryBytes) {
    const uint8_t* entry = data + offset;
    qm::IsDirectoryEntry(entry, size - offset);
    if (offset + 2 * qm::kFatEntryBytes <= size) {
      qm::IsDotClusterStart(entry, entry + qm::kFatEntryBytes);
    }
    const qm::FatDirEntry e = qm::ReadFatDirEntry(entry);
    if (qm::IsLongNameEntry(e)) {
      const qm::FatLongNameEntry piece = qm::ReadFatLongNameEntry(entry);
      char16_t units[qm::kLongNamePieceUnits];
      qm::LongNamePieceUnits(piece, units);
      if (longName.size() < qm::kMaxLongNamePieces * qm::kLongNamePieceUnits) {
        longName.append(units, qm::kLongNamePieceUnits);
      }
      continue;
    }
    qm::ShortNameChecksum(entry);
    qm::ShortEntryName(e);
    qm::IsDotEntryName(e);
    qm::EntryTimes(e);
    if (!longName.empty()) qm::LongEntryName(longName);
    longName.clear();
  }
  return 0;
}
