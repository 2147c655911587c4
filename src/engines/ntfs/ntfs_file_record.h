// MFT file records: header, update-sequence fixups and the attribute walk.
//
// File record header (offsets in bytes):
//   0x00 "FILE"            0x16 flags (0x01 in use, 0x02 directory)
//   0x04 update seq offset 0x18 bytes in use
//   0x06 update seq count  0x1C bytes allocated
//   0x14 first attribute   0x2C this record's number
//   0x30 update sequence number, followed by one saved word per 512 bytes
//
// Attribute header:
//   0x00 type  0x04 length  0x08 non-resident  0x09 name length
//   0x0A name offset  0x0C flags
//   resident:     0x10 value length  0x14 value offset
//   non-resident: 0x10 lowest VCN  0x18 highest VCN  0x20 run-list offset
//                 0x22 compression unit (log2 clusters)  0x28 allocated size
//                 0x30 data size  0x38 initialized size
#pragma once

#include <cstdint>

#include "engines/ntfs/ntfs_layout.h"

namespace qm::ntfs {

struct RecordHeader {
  uint16_t flags = 0;
  uint32_t bytesInUse = 0;
  uint32_t bytesAllocated = 0;
  uint16_t firstAttribute = 0;
  uint32_t recordNumber = 0;
};

// True when the buffer starts with "FILE".
bool HasFileSignature(Bytes record);
// Reads the header of a record that starts with "FILE"; false otherwise.
bool ParseRecordHeader(Bytes record, RecordHeader& header);

// Checks and removes the update sequence of a record. A driver writes the
// sequence number over the last two bytes of every 512-byte block and keeps
// the bytes it replaced in the update sequence array; a write cut short (a
// power loss) leaves the later blocks with an older number. Block by block,
// while the block's last word equals the sequence number, the saved word is
// put back. Returns how many leading bytes are sound: the blocks before the
// first whose word does not match (the whole record when none), 0 when the
// first block is torn or the array cannot be placed. Bytes past that are left
// as they are and must not be parsed. The array is read where the header's
// offset field says when that lies inside the first block, else at 0x30.
[[nodiscard]] size_t ApplyFixups(MutableBytes record);

// The deep scan's test for a raw sector that starts a file record: "FILE",
// bytes in use within and bytes allocated equal to one record (two sectors of
// up to 512 bytes, else one sector), and the update sequence number present at
// the end of the first 512 bytes. Needs at least 512 bytes.
bool IsFileRecordCandidate(Bytes sector, uint32_t bytesPerSector);

struct Attribute {
  uint32_t type = 0;
  uint32_t offset = 0;  // from the record start
  uint32_t length = 0;
  bool nonResident = false;
  uint8_t nameLength = 0;
  uint16_t flags = 0;
  Bytes bytes;  // the whole attribute, `length` bytes
};

struct NonResidentHeader {
  uint64_t lowestVcn = 0;
  uint64_t highestVcn = 0;
  uint16_t runListOffset = 0;
  uint8_t compressionUnit = 0;
  uint64_t allocatedSize = 0;
  uint64_t dataSize = 0;
  uint64_t initializedSize = 0;
};

// The value of a resident attribute; false when the attribute is
// non-resident or its value does not lie inside the attribute.
bool ResidentValue(const Attribute& attribute, Bytes& value);
// The fixed part of a non-resident header; false when the attribute is
// resident or too short to hold it.
bool ReadNonResidentHeader(const Attribute& attribute, NonResidentHeader& header);

// Walks the attributes of a record from the header's first-attribute offset,
// never past the bytes-in-use field nor the buffer. The walk ends at the end
// marker, a type of 0, an offset below the header, an attribute shorter than
// an attribute header or one that reaches past the limit; every step moves
// forward, so a hostile record cannot make it loop.
class AttributeWalker {
 public:
  explicit AttributeWalker(Bytes record);
  bool Next(Attribute& out);

 private:
  Bytes record_;
  uint32_t offset_ = 0;
  uint32_t limit_ = 0;
};

}  // namespace qm::ntfs
