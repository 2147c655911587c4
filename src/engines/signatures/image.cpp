// Picture formats: GIF, BMP, JPEG, PNG, Photoshop, TIFF and Windows icons.
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

namespace {

// Smallest length field (which counts its own two bytes) a first segment of
// this marker can carry, or 0 for a marker no encoder writes right after SOI.
// DQT holds at least one 64-entry table with its precision/id byte, DHT the
// 16 code-length counts and its class/id byte, SOFn the 6 frame header bytes
// and one 3-byte component.
uint16_t FirstSegmentMinimum(uint8_t marker) {
  if (marker >= 0xE0 && marker <= 0xEF) return 2;  // APP0..APP15 (JFIF, Exif, ICC, Adobe)
  if (marker == 0xFE) return 2;                    // COM
  if (marker == 0xDB) return 2 + 65;               // DQT
  if (marker == 0xC4) return 2 + 17;               // DHT
  // SOF0..SOF15 except DHT (C4), JPG (C8, reserved) and DAC (CC).
  if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC8 && marker != 0xCC) return 2 + 9;
  return 0;
}

}  // namespace

// SOI (FF D8), then the first segment: FF, its marker and a big-endian length.
// Cameras and encoders open with an APPn (JFIF, Exif, Adobe), a quantization
// table, a Huffman table, a frame header or a comment. What follows the first
// segment is not looked at: a photo wrongly refused here is hidden as
// overwritten, which costs more than a false start in carving. Only a few
// byte compares: the deep scan runs this on every sector.
int jpg_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 6 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return kNoSignatureMatch;
  const uint16_t minimum = FirstSegmentMinimum(data[3]);
  if (minimum == 0 || Be16(data + 4) < minimum) return kNoSignatureMatch;
  return 10;
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

// Pictures are often saved under another picture format's extension (a PNG
// named .ico, a JPEG named .png): any picture signature shows the first
// sector still holds a picture.
bool IsPicture(const uint8_t* data, size_t len, SignatureScanContext& context) {
  for (SignatureTest test : {gif_test, bmp_test, jpg_test, png_test, psd_test, tif_test, ico_test})
    if (test(data, len, context) != kNoSignatureMatch) return true;
  return false;
}

bool IsPictureTest(SignatureTest test) {
  return test == gif_test || test == bmp_test || test == jpg_test || test == png_test ||
         test == psd_test || test == tif_test || test == ico_test;
}

}  // namespace qm::sig
