// Picture formats: GIF, BMP, JPEG (JFIF and Exif), PNG, Photoshop, TIFF and
// Windows icons.
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
}  // namespace

// "GIF87a" / "GIF89a": two version digits and a lower-case letter.
int gif_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 7 || !HasAt(data, len, 0, "GIF"sv)) return kNoSignatureMatch;
  return IsDigit(data[3]) && IsDigit(data[4]) && data[5] >= 'a' && data[5] <= 'z'
             ? 31
             : kNoSignatureMatch;
}

// BITMAPFILEHEADER ("BM", or "BA" for an OS/2 bitmap array) whose two
// reserved words (6-9) are zero, followed by a 40-byte BITMAPINFOHEADER.
int bmp_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 40) return kNoSignatureMatch;
  if (!HasAt(data, len, 0, "BM"sv) && !HasAt(data, len, 0, "BA"sv)) return kNoSignatureMatch;
  return Le32(data + 6) == 0 && Le32(data + 14) == 40 ? 29 : kNoSignatureMatch;
}

// SOI followed by an APP0 "JFIF" or an APP1 "Exif" segment; the identifier
// sits after the segment marker and its 2-byte length.
int jpg_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  if (HasAt(data, len, 0, "\xFF\xD8\xFF\xE0"sv) && HasAt(data, len, 6, "JFIF"sv)) return 10;
  if (HasAt(data, len, 0, "\xFF\xD8\xFF\xE1"sv) && HasAt(data, len, 6, "Exif"sv)) return 10;
  return kNoSignatureMatch;
}

int png_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 7 && HasAt(data, len, 0, "\x89PNG\r\n\x1A\n"sv) ? 30 : kNoSignatureMatch;
}

int psd_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len >= 40 && HasAt(data, len, 0, "8BPS"sv) ? 28 : kNoSignatureMatch;
}

// Byte order mark followed by the magic number 42 in that byte order.
int tif_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 3) return kNoSignatureMatch;
  return HasAt(data, len, 0, "MM\x00\x2A"sv) || HasAt(data, len, 0, "II\x2A\x00"sv)
             ? 32
             : kNoSignatureMatch;
}

// ICONDIR: reserved 0, type 1 (icon), image count; then one 16-byte
// ICONDIRENTRY per image: width, height, colour count, reserved (0), planes,
// bit count, data size (+8) and data offset (+12). Icon writers store the
// images back to back right after the directory, so each offset must equal
// the end of the previous image.
int ico_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 16 || !HasAt(data, len, 0, "\x00\x00\x01\x00"sv)) return kNoSignatureMatch;
  const uint16_t count = Le16(data + 4);
  if (count == 0) return kNoSignatureMatch;
  const uint64_t directoryEnd = uint64_t{count} * 16 + 6;
  if (directoryEnd > len) return kNoSignatureMatch;
  uint64_t expected = directoryEnd;
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = data + 6 + size_t{i} * 16;
    if (entry[3] != 0 || Le32(entry + 12) != expected) return kNoSignatureMatch;
    expected += Le32(entry + 8);
  }
  return 46;
}

}  // namespace qm::sig
