#include "engines/ntfs/ntfs_file_record.h"

#include <algorithm>
#include <cstring>

namespace qm::ntfs {

namespace {
constexpr uint32_t kRecordHeaderBytes = 0x30;
// Type, length, resident flag, name, flags, id and the resident value fields.
constexpr uint32_t kMinAttributeBytes = 0x18;
constexpr uint32_t kNonResidentHeaderBytes = 0x40;
}  // namespace

bool HasFileSignature(Bytes record) {
  return record.size() >= 4 && std::memcmp(record.data(), "FILE", 4) == 0;
}

bool ParseRecordHeader(Bytes record, RecordHeader& h) {
  if (record.size() < kRecordHeaderBytes || !HasFileSignature(record)) return false;
  const uint8_t* p = record.data();
  h.firstAttribute = Le16(p + 0x14);
  h.flags = Le16(p + 0x16);
  h.bytesInUse = Le32(p + 0x18);
  h.bytesAllocated = Le32(p + 0x1C);
  h.recordNumber = Le32(p + 0x2C);
  return true;
}

size_t ApplyFixups(MutableBytes record) {
  const size_t blocks = record.size() / kFixupStride;
  if (blocks == 0 || record.size() < kRecordHeaderBytes) return 0;
  uint8_t* p = record.data();
  size_t array = 0x30;
  const size_t declared = Le16(p + 0x04);
  // The array (the sequence number, then one word per block) must end before
  // the first block's own trailing word.
  if (declared >= 0x28 && declared % 2 == 0 && declared + 2 + 2 * blocks <= kFixupStride - 2)
    array = declared;
  if (array + 2 + 2 * blocks > kFixupStride - 2) return 0;
  const uint16_t sequence = Le16(p + array);
  for (size_t i = 0; i < blocks; ++i) {
    const size_t end = (i + 1) * kFixupStride - 2;
    if (Le16(p + end) != sequence) return i * kFixupStride;
    std::memcpy(p + end, p + array + 2 + 2 * i, 2);
  }
  return record.size();
}

bool IsFileRecordCandidate(Bytes sector, uint32_t bytesPerSector) {
  if (sector.size() < 512 || !HasFileSignature(sector)) return false;
  const uint32_t recordBytes = bytesPerSector <= 512 ? 2 * bytesPerSector : bytesPerSector;
  const uint8_t* p = sector.data();
  return Le32(p + 0x18) <= recordBytes && Le32(p + 0x1C) == recordBytes &&
         Le16(p + 0x30) == Le16(p + 510);
}

bool ResidentValue(const Attribute& a, Bytes& value) {
  if (a.nonResident || a.bytes.size() < kMinAttributeBytes) return false;
  const uint32_t length = Le32(a.bytes.data() + 0x10);
  const uint16_t offset = Le16(a.bytes.data() + 0x14);
  if (!Fits(a.bytes, offset, length)) return false;
  value = a.bytes.subspan(offset, length);
  return true;
}

bool ReadNonResidentHeader(const Attribute& a, NonResidentHeader& h) {
  if (!a.nonResident || a.bytes.size() < kNonResidentHeaderBytes) return false;
  const uint8_t* p = a.bytes.data();
  h.lowestVcn = Le64(p + 0x10);
  h.highestVcn = Le64(p + 0x18);
  h.runListOffset = Le16(p + 0x20);
  h.compressionUnit = p[0x22];
  h.allocatedSize = Le64(p + 0x28);
  h.dataSize = Le64(p + 0x30);
  h.initializedSize = Le64(p + 0x38);
  return true;
}

AttributeWalker::AttributeWalker(Bytes record) : record_(record) {
  RecordHeader h;
  if (!ParseRecordHeader(record, h)) return;
  limit_ = static_cast<uint32_t>(std::min<uint64_t>(h.bytesInUse, record.size()));
  offset_ = h.firstAttribute;
  if (offset_ < kMinAttributeBytes) limit_ = 0;
}

bool AttributeWalker::Next(Attribute& out) {
  if (offset_ >= limit_ || limit_ - offset_ < 8) return false;
  const uint8_t* p = record_.data() + offset_;
  const uint32_t type = Le32(p);
  const uint32_t length = Le32(p + 4);
  if (type == kAttrEnd || type == 0 || length < kMinAttributeBytes || length > limit_ - offset_) {
    limit_ = 0;
    return false;
  }
  out.type = type;
  out.offset = offset_;
  out.length = length;
  out.nonResident = p[8] != 0;
  out.nameLength = p[9];
  out.flags = Le16(p + 0x0C);
  out.bytes = record_.subspan(offset_, length);
  offset_ += length;
  return true;
}

}  // namespace qm::ntfs
