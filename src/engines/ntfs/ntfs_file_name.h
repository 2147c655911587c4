// $FILE_NAME attributes and what the scans take from a file record.
//
// $FILE_NAME value (always resident):
//   0x00 parent directory reference (48-bit record number, 16-bit sequence)
//   0x08 creation time      0x10 modification time
//   0x18 MFT change time    0x20 access time
//   0x28 allocated size     0x30 real size
//   0x38 flags              0x3C reparse tag
//   0x40 name length (UTF-16 units)  0x41 namespace  0x42 name (UTF-16LE)
#pragma once

#include <cstdint>
#include <string>

#include "engines/ntfs/ntfs_file_record.h"

namespace qm::ntfs {

struct FileNameInfo {
  uint32_t parent = 0;  // low 32 bits of the parent's record number
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t accessTime = 0;
  uint64_t realSize = 0;
  uint8_t nameSpace = 0;
  std::string name;  // UTF-8, whole (callers cut it to their field)
};

// Decodes a resident $FILE_NAME whose name lies wholly inside its value.
bool ParseFileName(const Attribute& attribute, FileNameInfo& out);

// What the scans need from one fixed-up record.
struct RecordSummary {
  bool hasName = false;
  FileNameInfo first;  // the first $FILE_NAME of the record
  std::string name;    // the first name, replaced by a later Win32 name
  bool hasData = false;  // an unnamed $DATA extent starting at VCN 0
  bool dataResident = false;
  uint64_t dataSize = 0;
  bool hasAttributeList = false;
};

RecordSummary SummarizeRecord(Bytes record);

}  // namespace qm::ntfs
