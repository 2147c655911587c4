// Other formats: PDF, Ghost images, SQLite databases, Outlook Express and
// Outlook mail stores, TrueType fonts.
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

int pdf_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return HasAt(data, len, 0, "%PDF-"sv) ? 8 : kNoSignatureMatch;
}

int gho_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return HasAt(data, len, 0, "\xFE\xEF\x00\x00"sv) ? 9 : kNoSignatureMatch;
}

// The 16-byte SQLite header string, terminating zero included.
int db_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return HasAt(data, len, 0, "SQLite format 3\x00"sv) ? 39 : kNoSignatureMatch;
}

int dbx_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 15 && HasAt(data, len, 0, "\xCF\xAD\x12\xFE"sv) ? 40 : kNoSignatureMatch;
}

// Personal folders file: "!BDN", then the client signature "SM" at 8.
int pst_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  return HasAt(data, len, 0, "!BDN"sv) && HasAt(data, len, 8, "SM"sv) ? 38 : kNoSignatureMatch;
}

// TrueType offset table: sfnt version 1.0, numTables, searchRange,
// entrySelector and rangeShift (big-endian), then 16-byte table records from
// offset 12. The four bytes right after the records must read version 1.0,
// the version field with which most tables (head, hhea, maxp, GDEF, ...)
// begin when they are stored first.
int ttf_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 16 || !HasAt(data, len, 0, "\x00\x01\x00\x00"sv)) return kNoSignatureMatch;
  const uint16_t numTables = Be16(data + 4);
  if (numTables == 0) return kNoSignatureMatch;
  if (Be16(data + 6) == 0 || Be16(data + 8) == 0 || Be16(data + 10) == 0)
    return kNoSignatureMatch;
  const size_t afterRecords = 12 + size_t{16} * numTables;
  if (afterRecords + 4 > len) return kNoSignatureMatch;
  return Be32(data + afterRecords) == 0x00010000 ? 45 : kNoSignatureMatch;
}

}  // namespace qm::sig
