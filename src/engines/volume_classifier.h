// Recognises the file system at the start of a volume from its first 16 KiB.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

enum class VolumeKind { kUnknown, kNtfs, kFat12_16, kFat32, kExt };

// Bytes read from the start of a volume to classify it.
inline constexpr size_t kClassifyBytes = 0x4000;

// First test that passes wins: NTFS, then FAT (refusing BitLocker), then EXT.
// `length` may be short (a truncated image); tests needing missing bytes fail.
VolumeKind ClassifyVolume(const uint8_t* data, size_t length);

bool IsNtfsBootSector(const uint8_t* data, size_t length);
bool IsFatBootSector(const uint8_t* data, size_t length, VolumeKind* kind = nullptr);
bool IsExtSuperblock(const uint8_t* data, size_t length);
bool IsBitLockerVolume(const uint8_t* data, size_t length);

const char* VolumeKindName(VolumeKind kind);

}  // namespace qm
