// Size finders of formats that close with a footer or an end record:
// pictures, PDF and the archives.
#include <algorithm>

#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_size_finders.h"

namespace qm::sig {

using namespace std::literals;

namespace {

constexpr uint64_t kPictureLimit = uint64_t{128} << 20;

// End (offset just past it) of the first `footer` in the bytes after which
// the sector holds nothing but zeros, or npos. A picture's footer bytes can
// occur inside its data; one followed by more data in the same sector is
// not the end.
size_t FirstClosingFooter(const uint8_t* bytes, size_t length, std::string_view footer,
                          size_t sectorSize) {
  for (size_t at = FindIn(bytes, length, footer); at != std::string_view::npos;
       at = FindIn(bytes, length, footer, at + 1)) {
    const size_t end = at + footer.size();
    if (OnlyZerosToSectorEnd(bytes, length, end, sectorSize)) return end;
  }
  return std::string_view::npos;
}

// The footer found last before the next recognised start ends the picture;
// without one the picture runs to that start.
uint64_t FooterSize(const uint8_t* data, size_t len, SignatureScanContext& context,
                    std::string_view footer) {
  const size_t sectorSize = context.sectorSize;
  const size_t inFirst = FirstClosingFooter(data, std::min(len, sectorSize), footer, sectorSize);
  if (inFirst != std::string_view::npos) return inFirst;
  uint64_t remembered = 0;
  const uint64_t scanned =
      ScanForward(context, kPictureLimit, kNoSignatureMatch,
                  [&](const uint8_t* bytes, size_t length, uint64_t offset) {
                    const size_t end = FirstClosingFooter(bytes, length, footer, sectorSize);
                    if (end != std::string_view::npos) remembered = offset + end;
                    return ChunkVerdict{};
                  });
  return remembered != 0 && remembered < scanned ? remembered : scanned;
}

// The end of central directory record: 22 bytes, then the archive comment
// whose length is its last field. A comment that runs past the bytes at hand
// is left out rather than guessed.
uint64_t ZipEndRecordSize(const uint8_t* data, size_t len, SignatureScanContext& context,
                          uint64_t limit) {
  return ScanFromStart(data, len, context, limit, kNoSignatureMatch,
                       [](const uint8_t* bytes, size_t length, uint64_t offset) {
                         const size_t at = FindLastIn(bytes, length, "PK\x05\x06"sv);
                         if (at == std::string_view::npos) return ChunkVerdict{};
                         uint64_t end = at + 22;
                         if (end <= length) {
                           const uint64_t comment = bytes[at + 20] | (bytes[at + 21] << 8);
                           if (end + comment <= length) end += comment;
                         }
                         return ChunkVerdict{true, offset + end};
                       });
}

// The archive's last bytes are its encoded header: a folder of one LZMA
// coder (the 12 bytes searched for), the dictionary size, the unpacked size
// of the header as a 7z number (1 to 9 bytes), its CRC, and two end marks.
// Where that structure is all there, the archive ends exactly after it;
// otherwise 27 bytes after the coder's start, its length when the header
// size takes two bytes.
uint64_t SevenZipTail(const uint8_t* bytes, size_t length, size_t at) {
  constexpr uint64_t kUsualTail = 27;
  size_t p = at + 12 + 4;
  if (p >= length || bytes[p] != 0x0C) return kUsualTail;
  ++p;
  if (p >= length) return kUsualTail;
  // A 7z number: the count of leading one bits of its first byte gives the
  // bytes that follow.
  size_t extra = 0;
  for (uint8_t mask = 0x80; extra < 8 && (bytes[p] & mask) != 0; mask >>= 1) ++extra;
  p += 1 + extra;
  if (p + 8 > length || bytes[p] != 0x0A || bytes[p + 1] != 0x01) return kUsualTail;
  p += 2 + 4;
  if (bytes[p] != 0x00 || bytes[p + 1] != 0x00) return kUsualTail;
  return p + 2 - at;
}

}  // namespace

uint64_t gif_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  // The last data sub-block's terminator, then the trailer ';'.
  return FooterSize(data, len, context, "\x00\x3B"sv);
}

uint64_t jpg_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return FooterSize(data, len, context, "\xFF\xD9"sv);
}

uint64_t png_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  // The IEND chunk's type and its fixed CRC.
  return FooterSize(data, len, context, "\x49\x45\x4E\x44\xAE\x42\x60\x82"sv);
}

// "%%EOF" closes every revision of a PDF; the last one in the chunk wins.
// A file cut before it still has its "trailer".
uint64_t pdf_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return ScanFromStart(data, len, context, uint64_t{1} << 30, kNoSignatureMatch,
                       [](const uint8_t* bytes, size_t length, uint64_t offset) {
                         constexpr size_t npos = std::string_view::npos;
                         size_t at = FindLastIn(bytes, length, "%%EOF"sv);
                         if (at != npos) return ChunkVerdict{true, offset + at + 5};
                         at = FindLastIn(bytes, length, "trailer"sv);
                         if (at != npos) return ChunkVerdict{true, offset + at + 7};
                         return ChunkVerdict{};
                       });
}

uint64_t zip_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return ZipEndRecordSize(data, len, context, uint64_t{4} << 30);
}

uint64_t open_xml_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return ZipEndRecordSize(data, len, context, 0x7FFFFFF);
}

uint64_t sevenz_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return ScanFromStart(data, len, context, uint64_t{4} << 30, kNoSignatureMatch,
                       [](const uint8_t* bytes, size_t length, uint64_t offset) {
                         const size_t at = FindLastIn(
                             bytes, length, "\x00\x07\x0B\x01\x00\x01\x23\x03\x01\x01\x05\x5D"sv);
                         if (at == std::string_view::npos) return ChunkVerdict{};
                         return ChunkVerdict{true, offset + at + SevenZipTail(bytes, length, at)};
                       });
}

// The RAR 1.5-4.x end-of-archive block, closing a sector's data.
uint64_t rar_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const size_t sectorSize = context.sectorSize;
  return ScanFromStart(data, len, context, uint64_t{4} << 30, kNoSignatureMatch,
                       [sectorSize](const uint8_t* bytes, size_t length, uint64_t offset) {
                         const size_t end = FirstClosingFooter(
                             bytes, length, "\xC4\x3D\x7B\x00\x40\x07\x00"sv, sectorSize);
                         if (end == std::string_view::npos) return ChunkVerdict{};
                         return ChunkVerdict{true, offset + end};
                       });
}

}  // namespace qm::sig
