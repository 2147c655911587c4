// Constants of the NTFS on-disk format and bounds-checked little-endian reads.
//
// Every reader here takes the buffer it reads from together with its length:
// a field that does not lie wholly inside the buffer reads as "absent"
// (false), never past the end. All NTFS fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/byte_order.h"

namespace qm::ntfs {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

// Attribute types the engines understand.
inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// File record header flags (offset 0x16).
inline constexpr uint16_t kRecordInUse = 0x0001;
inline constexpr uint16_t kRecordIsDirectory = 0x0002;

// Non-resident attribute flags (offset 0x0C).
inline constexpr uint16_t kAttrFlagCompressed = 0x0001;
inline constexpr uint16_t kAttrFlagEncrypted = 0x4000;
inline constexpr uint16_t kAttrFlagSparse = 0x8000;

// $FILE_NAME namespaces (value offset 0x41).
inline constexpr uint8_t kNamespacePosix = 0;
inline constexpr uint8_t kNamespaceWin32 = 1;
inline constexpr uint8_t kNamespaceDos = 2;
inline constexpr uint8_t kNamespaceWin32AndDos = 3;

// Well-known MFT record numbers.
inline constexpr uint32_t kMftRecord = 0;
inline constexpr uint32_t kRootDirectoryRecord = 5;
inline constexpr uint32_t kBitmapRecord = 6;
// Records 0..11 are the file system's own metadata files.
inline constexpr uint32_t kLastSystemRecord = 11;

// Result codes used inside the NTFS code only; they leave an engine solely as
// the result of an open or a scan.
inline constexpr int kNoFileRecord = -1;
inline constexpr int kAttributeNotFound = -100;
inline constexpr int kNoResidentData = -101;

// The update sequence protects every 512-byte block of a multi-sector
// structure, whatever the device's sector size.
inline constexpr uint32_t kFixupStride = 512;

inline bool Fits(Bytes b, size_t offset, size_t length) {
  return offset <= b.size() && length <= b.size() - offset;
}
inline bool ReadU8(Bytes b, size_t offset, uint8_t& v) {
  if (!Fits(b, offset, 1)) return false;
  v = b[offset];
  return true;
}
inline bool ReadU16(Bytes b, size_t offset, uint16_t& v) {
  if (!Fits(b, offset, 2)) return false;
  v = Le16(b.data() + offset);
  return true;
}
inline bool ReadU32(Bytes b, size_t offset, uint32_t& v) {
  if (!Fits(b, offset, 4)) return false;
  v = Le32(b.data() + offset);
  return true;
}
inline bool ReadU64(Bytes b, size_t offset, uint64_t& v) {
  if (!Fits(b, offset, 8)) return false;
  v = Le64(b.data() + offset);
  return true;
}

}  // namespace qm::ntfs
