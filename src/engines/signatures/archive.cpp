// Archives: gzip, 7-Zip, ZIP, RAR (up to version 4) and Microsoft cabinets.
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

// gzip member header: ID1 ID2, CM 8 (deflate), FLG (0, or FNAME only), MTIME,
// XFL (2 best, 4 fastest compression), OS (0..13, or 255 unknown).
int gz_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15 || !HasAt(data, len, 0, "\x1F\x8B\x08"sv)) return kNoSignatureMatch;
  if (data[3] != 0 && data[3] != 8) return kNoSignatureMatch;
  if (data[8] != 2 && data[8] != 4) return kNoSignatureMatch;
  return data[9] < 14 || data[9] == 0xFF ? 36 : kNoSignatureMatch;
}

// The first five bytes of the 7z signature 37 7A BC AF 27 1C.
int sevenz_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return HasAt(data, len, 0, "7z\xBC\xAF\x27"sv) ? 34 : kNoSignatureMatch;
}

int zip_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len >= 48 && HasAt(data, len, 0, "PK\x03\x04"sv) ? 35 : kNoSignatureMatch;
}

// RAR 1.5-4.x marker block; RAR 5 has 01 00 at byte 6 and is not this format.
int rar_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 6 && HasAt(data, len, 0, "Rar!\x1A\x07\x00"sv) ? 37 : kNoSignatureMatch;
}

int cab_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 35 && HasAt(data, len, 0, "MSCF"sv) ? 33 : kNoSignatureMatch;
}

}  // namespace qm::sig
