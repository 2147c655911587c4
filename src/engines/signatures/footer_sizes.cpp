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

// The last `record` in the first chunk that holds one ends the file
// `tail` bytes after the record's start.
uint64_t LastRecordSize(const uint8_t* data, size_t len, SignatureScanContext& context,
                        uint64_t limit, std::string_view record, uint64_t tail) {
  return ScanFromStart(data, len, context, limit, kNoSignatureMatch,
                       [&](const uint8_t* bytes, size_t length, uint64_t offset) {
                         const size_t at = FindLastIn(bytes, length, record);
                         if (at == std::string_view::npos) return ChunkVerdict{};
                         return ChunkVerdict{true, offset + at + tail};
                       });
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

// The end of central directory record is 22 bytes before its comment.
uint64_t zip_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return LastRecordSize(data, len, context, uint64_t{4} << 30, "PK\x05\x06"sv, 22);
}

uint64_t open_xml_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return LastRecordSize(data, len, context, 0x7FFFFFF, "PK\x05\x06"sv, 22);
}

// The tail of the header database that 7-Zip writes after the packed
// streams; the archive ends 27 bytes after it starts.
uint64_t sevenz_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  return LastRecordSize(data, len, context, uint64_t{4} << 30,
                        "\x00\x07\x0B\x01\x00\x01\x23\x03\x01\x01\x05\x5D"sv, 27);
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
