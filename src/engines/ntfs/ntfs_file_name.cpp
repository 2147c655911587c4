#include "engines/ntfs/ntfs_file_name.h"

#include "platform/text.h"

namespace qm::ntfs {

namespace {
constexpr size_t kFileNameFixedBytes = 0x42;
}

bool ParseFileName(const Attribute& attribute, FileNameInfo& out) {
  if (attribute.type != kAttrFileName) return false;
  Bytes value;
  if (!ResidentValue(attribute, value) || value.size() < kFileNameFixedBytes) return false;
  const uint8_t* p = value.data();
  const size_t units = p[0x40];
  if (!Fits(value, kFileNameFixedBytes, units * 2)) return false;
  out.parent = Le32(p);
  out.creationTime = Le64(p + 0x08);
  out.modificationTime = Le64(p + 0x10);
  out.accessTime = Le64(p + 0x20);
  out.realSize = Le64(p + 0x30);
  out.nameSpace = p[0x41];
  out.name = Utf16LeBytesToUtf8(p + kFileNameFixedBytes, units);
  return true;
}

RecordSummary SummarizeRecord(Bytes record) {
  RecordSummary s;
  AttributeWalker walker(record);
  Attribute a;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList) {
      s.hasAttributeList = true;
    } else if (a.type == kAttrFileName) {
      FileNameInfo info;
      if (!ParseFileName(a, info)) continue;
      if (!s.hasName) {
        s.hasName = true;
        s.name = info.name;
        s.first = std::move(info);
      } else if (info.nameSpace == kNamespaceWin32) {
        // The long name wins over a short (DOS) name stored before it.
        s.name = info.name;
      }
    } else if (a.type == kAttrData && a.nameLength == 0 && !s.hasData) {
      if (!a.nonResident) {
        Bytes value;
        if (!ResidentValue(a, value)) continue;
        s.hasData = true;
        s.dataResident = true;
        s.dataSize = value.size();
      } else {
        NonResidentHeader h;
        if (!ReadNonResidentHeader(a, h) || h.lowestVcn != 0) continue;
        s.hasData = true;
        s.dataSize = h.dataSize;
      }
    }
  }
  return s;
}

}  // namespace qm::ntfs
