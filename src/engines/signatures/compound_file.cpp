// Compound files (OLE2 structured storage): the container of legacy Word,
// Excel and PowerPoint documents, their WPS counterparts, and Flash sources.
//
// Header (512 bytes): signature D0 CF 11 E0 A1 B1 1A E1 at 0, sector shift at
// 30 (9: 512-byte sectors, 12: 4096-byte sectors), first directory sector at
// 48. The header fills compound-file sector -1, so sector n starts at byte
// (n + 1) << shift. A directory sector holds 128-byte entries: the UTF-16LE
// name at 0, its byte length (with the terminating zero) at 64 and the class
// id at 80; entry 0 is the root storage, whose class id names the application.
#include <algorithm>
#include <array>

#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_size_finders.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

constexpr int kWord = 0;
constexpr int kGenericCompound = 2;
constexpr int kExcel = 3;
constexpr int kPowerPoint = 5;

constexpr auto kCompoundSignature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv;
constexpr size_t kDirectoryEntryBytes = 128;
constexpr size_t kHeaderFieldsEnd = 52;  // through the first directory sector field

uint32_t SectorShift(const uint8_t* header) {
  // Only the two sizes the format defines; anything else is read as the
  // common 512-byte layout.
  return Le16(header + 30) == 12 ? 12 : 9;
}

// Word's file information block opens with wIdent A5EC; an Excel workbook
// stream with a BIFF8 BOF record (type 0809, length 16, version 0600).
int ClassifyFirstStreamSector(const uint8_t* p) {
  if (Le16(p) == 0xA5EC) return kWord;
  if (Le16(p) == 0x0809 && Le16(p + 2) == 0x0010 && Le16(p + 4) == 0x0600) return kExcel;
  return kNoSignatureMatch;
}

int ClassifyRootClassId(const uint8_t* entry) {
  const uint8_t* id = entry + 80;
  const uint32_t d0 = Le32(id);
  // {000209xx-0000-0000-C000-000000000046}: the common tail of the Office ids.
  const bool officeTail = Le32(id + 4) == 0 && Le32(id + 8) == 0xC0 && Le32(id + 12) == 0x46000000;
  if (officeTail && d0 == 0x00020906) return kWord;
  if (officeTail && (d0 == 0x00020820 || d0 == 0x00020810)) return kExcel;
  // {64818D10-4F9B-11CF-86EA-00AA00B929E8}: PowerPoint presentation.
  constexpr auto kPowerPointId = "\x10\x8D\x81\x64\x9B\x4F\xCF\x11\x86\xEA\x00\xAA\x00\xB9\x29\xE8"sv;
  if (HasAt(id, 16, 0, kPowerPointId)) return kPowerPoint;
  return kNoSignatureMatch;
}

// Compares a directory entry's UTF-16LE name with an ASCII name, ignoring case.
bool EntryNameIs(const uint8_t* entry, std::string_view name) {
  const uint16_t nameBytes = Le16(entry + 64);
  if (nameBytes != (name.size() + 1) * 2) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (entry[2 * i + 1] != 0) return false;
    uint8_t c = entry[2 * i];
    if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + 32);
    uint8_t n = static_cast<uint8_t>(name[i]);
    if (n >= 'A' && n <= 'Z') n = static_cast<uint8_t>(n + 32);
    if (c != n) return false;
  }
  return true;
}

// The stream names each application gives its main stream.
int ClassifyByStreamNames(const uint8_t* sector, size_t bytes) {
  struct Known {
    std::string_view name;
    int type;
  };
  constexpr std::array<Known, 3> kKnown{{
      {"WordDocument"sv, kWord},
      {"Workbook"sv, kExcel},
      {"PowerPoint Document"sv, kPowerPoint},
  }};
  for (size_t at = 0; at + kDirectoryEntryBytes <= bytes; at += kDirectoryEntryBytes)
    for (const Known& known : kKnown)
      if (EntryNameIs(sector + at, known.name)) return known.type;
  return kNoSignatureMatch;
}

// Sector ids with a meaning of their own in the allocation table.
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kLastRegularSector = 0xFFFFFFFA;
// The header holds the locations of the first 109 allocation-table sectors;
// the rest are listed in a chain of extra sectors.
constexpr size_t kHeaderTableLocations = 109;
// More allocation-table sectors than this (4 GiB of 512-byte sectors)
// belong to no real document: the header is damaged.
constexpr uint32_t kMaxTableSectors = 0x10000;

// Collects the locations of the allocation-table sectors: from the header,
// then from the chain of extra location sectors. Stops at the first sector
// that cannot be read.
std::vector<uint32_t> TableSectorLocations(const uint8_t* header, uint32_t shift,
                                           SignatureScanContext& context) {
  const uint32_t tableSectors = std::min(Le32(header + 44), kMaxTableSectors);
  std::vector<uint32_t> locations;
  for (size_t i = 0; i < kHeaderTableLocations && locations.size() < tableSectors; ++i)
    locations.push_back(Le32(header + 76 + 4 * i));
  const size_t sectorBytes = size_t{1} << shift;
  const size_t perSector = sectorBytes / 4 - 1;  // the last entry links to the next one
  uint32_t next = Le32(header + 68);
  for (uint32_t hops = 0; locations.size() < tableSectors && next <= kLastRegularSector &&
                          hops < kMaxTableSectors;
       ++hops) {
    const uint8_t* p = ReadBytesFromStart(context, (uint64_t{next} + 1) << shift, sectorBytes);
    if (p == nullptr) break;
    for (size_t i = 0; i < perSector && locations.size() < tableSectors; ++i)
      locations.push_back(Le32(p + 4 * i));
    next = Le32(p + 4 * perSector);
  }
  return locations;
}

}  // namespace

// The file ends after the highest sector its allocation table uses (the
// table marks its own sectors too). Where the table cannot be read at all,
// the header sector is all that is known.
uint64_t compound_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const uint64_t oneSector = context.sectorSize;
  if (len < 512 || !HasAt(data, len, 0, kCompoundSignature)) return oneSector;
  const uint16_t shiftField = Le16(data + 30);
  if (shiftField != 9 && shiftField != 12) return oneSector;
  const uint32_t shift = shiftField;
  const size_t sectorBytes = size_t{1} << shift;
  const size_t entriesPerSector = sectorBytes / 4;

  const std::vector<uint32_t> locations = TableSectorLocations(data, shift, context);
  uint64_t highest = 0;
  bool any = false;
  for (size_t t = 0; t < locations.size(); ++t) {
    if (locations[t] > kLastRegularSector) break;
    const uint8_t* table =
        ReadBytesFromStart(context, (uint64_t{locations[t]} + 1) << shift, sectorBytes);
    if (table == nullptr) break;
    for (size_t i = entriesPerSector; i-- > 0;) {
      if (Le32(table + 4 * i) == kFreeSector) continue;
      highest = std::max<uint64_t>(highest, t * entriesPerSector + i);
      any = true;
      break;
    }
  }
  if (!any) return oneSector;
  uint64_t size = (highest + 2) << shift;
  if (context.source != nullptr) size = std::min(size, BytesLeftFromStart(context));
  return std::max(size, oneSector);
}

int fla_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len >= 16 && HasAt(data, len, 0, "\xD0\xCF\x11\xE0"sv) ? 44 : kNoSignatureMatch;
}

int doc_test(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (!HasAt(data, len, 0, kCompoundSignature)) return kNoSignatureMatch;
  if (len < kHeaderFieldsEnd) return kGenericCompound;
  const uint32_t shift = SectorShift(data);
  const size_t sectorBytes = size_t{1} << shift;

  // Small documents put their main stream right after the header.
  const uint8_t* first = ReadBytesFromStart(context, sectorBytes, 6);
  if (first == nullptr) return kGenericCompound;
  if (const int type = ClassifyFirstStreamSector(first); type != kNoSignatureMatch) return type;

  const uint64_t directorySector = Le32(data + 48);
  const uint8_t* directory =
      ReadBytesFromStart(context, (directorySector + 1) << shift, sectorBytes);
  if (directory == nullptr) return kGenericCompound;
  int type = ClassifyRootClassId(directory);
  if (type == kNoSignatureMatch) type = ClassifyByStreamNames(directory, sectorBytes);
  return type == kNoSignatureMatch ? kGenericCompound : type;
}

}  // namespace qm::sig
