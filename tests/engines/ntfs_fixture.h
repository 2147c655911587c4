// Hand-built NTFS file records for the decoding tests: a record is laid out
// attribute by attribute, closed with the end marker and protected with an
// update sequence exactly as a driver writes it to disk.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qm::test {

inline void PutLe(std::vector<uint8_t>& b, size_t offset, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A resident attribute carrying `value`.
inline std::vector<uint8_t> ResidentAttribute(uint32_t type, const std::vector<uint8_t>& value,
                                              uint8_t nameLength = 0) {
  const size_t valueOffset = 0x18 + nameLength * 2u;
  std::vector<uint8_t> a((valueOffset + value.size() + 7) / 8 * 8, 0);
  PutLe(a, 0, type, 4);
  PutLe(a, 4, a.size(), 4);
  a[9] = nameLength;
  PutLe(a, 0x0A, 0x18, 2);
  PutLe(a, 0x10, value.size(), 4);
  PutLe(a, 0x14, valueOffset, 2);
  if (!value.empty()) std::memcpy(a.data() + valueOffset, value.data(), value.size());
  return a;
}

struct NonResidentFields {
  uint32_t type = 0x80;
  std::vector<uint8_t> runList;
  uint64_t dataSize = 0;
  uint64_t initializedSize = UINT64_MAX;  // UINT64_MAX: same as dataSize
  uint64_t lowestVcn = 0;
  uint16_t flags = 0;
  uint8_t compressionUnit = 0;
};

inline std::vector<uint8_t> NonResidentAttribute(const NonResidentFields& s) {
  std::vector<uint8_t> a((0x40 + s.runList.size() + 1 + 7) / 8 * 8, 0);
  PutLe(a, 0, s.type, 4);
  PutLe(a, 4, a.size(), 4);
  a[8] = 1;
  PutLe(a, 0x0C, s.flags, 2);
  PutLe(a, 0x10, s.lowestVcn, 8);
  PutLe(a, 0x20, 0x40, 2);
  a[0x22] = s.compressionUnit;
  PutLe(a, 0x28, s.dataSize, 8);
  PutLe(a, 0x30, s.dataSize, 8);
  PutLe(a, 0x38, s.initializedSize == UINT64_MAX ? s.dataSize : s.initializedSize, 8);
  if (!s.runList.empty()) std::memcpy(a.data() + 0x40, s.runList.data(), s.runList.size());
  return a;
}

inline std::vector<uint8_t> FileNameValue(uint32_t parent, const std::u16string& name,
                                          uint8_t nameSpace = 1, uint64_t realSize = 0) {
  std::vector<uint8_t> v(0x42 + name.size() * 2, 0);
  PutLe(v, 0, parent, 6);
  PutLe(v, 0x08, 0x01D0000000000001ull, 8);  // creation
  PutLe(v, 0x10, 0x01D0000000000002ull, 8);  // modification
  PutLe(v, 0x20, 0x01D0000000000004ull, 8);  // access
  PutLe(v, 0x30, realSize, 8);
  v[0x40] = static_cast<uint8_t>(name.size());
  v[0x41] = nameSpace;
  for (size_t i = 0; i < name.size(); ++i) PutLe(v, 0x42 + 2 * i, name[i], 2);
  return v;
}

// One $ATTRIBUTE_LIST entry naming an attribute extent.
inline std::vector<uint8_t> ListEntry(uint32_t type, uint64_t lowestVcn, uint64_t recordNumber) {
  std::vector<uint8_t> e(0x20, 0);
  PutLe(e, 0, type, 4);
  PutLe(e, 4, e.size(), 2);
  e[7] = 0x1A;
  PutLe(e, 8, lowestVcn, 8);
  PutLe(e, 0x10, recordNumber, 6);
  return e;
}

class RecordBuilder {
 public:
  explicit RecordBuilder(uint32_t number, uint16_t flags = 0, size_t size = 1024)
      : bytes_(size, 0) {
    std::memcpy(bytes_.data(), "FILE", 4);
    PutLe(bytes_, 0x04, 0x30, 2);
    PutLe(bytes_, 0x06, size / 512 + 1, 2);
    PutLe(bytes_, 0x14, kFirstAttribute, 2);
    PutLe(bytes_, 0x16, flags, 2);
    PutLe(bytes_, 0x1C, size, 4);
    PutLe(bytes_, 0x2C, number, 4);
    offset_ = kFirstAttribute;
  }

  RecordBuilder& Add(const std::vector<uint8_t>& attribute) {
    std::memcpy(bytes_.data() + offset_, attribute.data(), attribute.size());
    offset_ += attribute.size();
    return *this;
  }

  // Closes the record and protects it: every 512-byte block's last word is
  // saved in the update sequence array and replaced by the sequence number.
  std::vector<uint8_t> Build(uint16_t sequenceNumber = 0x0007) {
    std::vector<uint8_t> b = bytes_;
    PutLe(b, offset_, 0xFFFFFFFF, 4);
    PutLe(b, 0x18, offset_ + 8, 4);
    PutLe(b, 0x30, sequenceNumber, 2);
    for (size_t i = 0; i < b.size() / 512; ++i) {
      const size_t end = (i + 1) * 512 - 2;
      b[0x32 + 2 * i] = b[end];
      b[0x33 + 2 * i] = b[end + 1];
      PutLe(b, end, sequenceNumber, 2);
    }
    return b;
  }

  size_t used() const { return offset_; }

  // A record as a write cut short leaves it: block `block` onwards (512-byte
  // blocks) still ends in the number of the write before.
  static std::vector<uint8_t> Torn(std::vector<uint8_t> record, size_t block) {
    const uint16_t older = static_cast<uint16_t>((record[0x30] | record[0x31] << 8) - 1);
    for (size_t i = block; i < record.size() / 512; ++i) PutLe(record, (i + 1) * 512 - 2, older, 2);
    return record;
  }

 private:
  static constexpr size_t kFirstAttribute = 0x48;
  std::vector<uint8_t> bytes_;
  size_t offset_;
};

}  // namespace qm::test
