// The deep pass's question for every sector: what may start here?
//
// The answer must be the one the full tests give (an MFT file record, the
// first sector of a FAT folder, a FAT directory sector, or whatever the
// signature catalogue's first matching row says), but the pass asks it for
// every sector of volumes of terabytes, so a sector that can start nothing
// is turned away in a few instructions: the catalogue is consulted only
// when the sector's first bytes can begin one of its signatures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

enum class DeepSectorKind {
  kNothing,        // no file, record or folder can start here
  kFileRecord,     // an MFT file record of a file (not of a directory)
  kDirectoryRecord,  // an MFT file record of a directory: passed over
  kDotCluster,     // a FAT folder's first sector ("." and "..")
  kDirectory,      // a FAT directory sector
  kCarveCandidate  // a catalogue signature may start here: run the carving step
};

// `data` is one sector of `sectorSize` bytes (at least 512).
// kCarveCandidate never hides a match: when it is not returned, no row of
// the signature catalogue matches the sector.
DeepSectorKind ClassifyDeepSector(const uint8_t* data, uint32_t sectorSize);

// Bytes of the MFT record that starts in a sector classified kFileRecord.
inline uint32_t DeepFileRecordBytes(uint32_t sectorSize) {
  return sectorSize <= 512 ? 2 * sectorSize : sectorSize;
}

// The catalogue pre-check alone: false only when no catalogue row can
// match a block that starts with these bytes (`length` >= 512).
bool MayStartKnownFile(const uint8_t* data, size_t length);

}  // namespace qm
