// Video containers: MPEG program and elementary streams, ISO base media
// (mp4, 3gp, QuickTime), RealMedia, ASF, Flash, AVI, FLV, Matroska, MXF.
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

int mpeg_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  // A program stream opens with a pack header (00 00 01 BA) soon followed by
  // the system header (BB); an elementary video stream with a sequence header
  // (B3) soon followed by a group of pictures (B8).
  const size_t window = len < 32 ? len : 32;
  if (HasAt(data, len, 0, "\x00\x00\x01\xBA"sv) && Contains(data, window, "\x00\x00\x01\xBB"sv))
    return 15;
  if (HasAt(data, len, 0, "\x00\x00\x01\xB3"sv) && Contains(data, window, "\x00\x00\x01\xB8"sv))
    return 15;
  return kNoSignatureMatch;
}

// ISO base media files open with a box whose size is bytes 0-3 and whose type
// "ftyp" is bytes 4-7; the major brand follows at 8.
int mp4_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 32 || !HasAt(data, len, 4, "ftyp"sv)) return kNoSignatureMatch;
  return HasAt(data, len, 8, "iso"sv) || HasAt(data, len, 8, "mp42"sv) ? 18 : kNoSignatureMatch;
}

int rmvb_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 3 && HasAt(data, len, 0, ".RMF"sv) ? 23 : kNoSignatureMatch;
}

// ASF files open with the header object, identified by its GUID.
int wmv_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  constexpr auto kHeaderObject = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
  return len > 23 && HasAt(data, len, 0, kHeaderObject) ? 24 : kNoSignatureMatch;
}

// Byte 3 is the Flash version; zlib-compressed ("CWS") files exist from 6 on.
int swf_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 7) return kNoSignatureMatch;
  if (HasAt(data, len, 0, "CWS"sv) && data[3] >= 6 && data[3] <= 15) return 26;
  if (HasAt(data, len, 0, "FWS"sv) && data[3] < 6) return 26;
  return kNoSignatureMatch;
}

int avi_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  return HasAt(data, len, 0, "RIFF"sv) && HasAt(data, len, 8, "AVI "sv) &&
                 HasAt(data, len, 12, "LIST"sv)
             ? 22
             : kNoSignatureMatch;
}

// FLV header: "FLV", version 1, flags, then the header size 9 (big-endian).
int flv_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  return HasAt(data, len, 0, "FLV"sv) && data[3] == 1 && HasAt(data, len, 5, "\x00\x00\x00\x09"sv)
             ? 27
             : kNoSignatureMatch;
}

int threegp_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 32) return kNoSignatureMatch;
  return HasAt(data, len, 4, "ftyp"sv) && HasAt(data, len, 8, "3gp"sv) ? 16 : kNoSignatureMatch;
}

// Matroska is EBML; every EBML document starts with the EBML header element.
int mkv_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 15 && HasAt(data, len, 0, "\x1A\x45\xDF\xA3"sv) ? 19 : kNoSignatureMatch;
}

// The SMPTE universal label of an MXF header partition pack.
int mxf_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  constexpr auto kPartitionPack = "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00"sv;
  return len >= 16 && HasAt(data, len, 0, kPartitionPack) ? 48 : kNoSignatureMatch;
}

// QuickTime: either a bare movie atom or an "ftyp" box with brand "qt  ".
int mov_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  if (HasAt(data, len, 0, "moov"sv)) return 17;
  return HasAt(data, len, 4, "ftyp"sv) && HasAt(data, len, 8, "qt  "sv) ? 17 : kNoSignatureMatch;
}

}  // namespace qm::sig
