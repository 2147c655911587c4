// Size finders of formats that close with a footer or an end record:
// pictures, PDF and the archives.
#include <algorithm>

#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_size_finders.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

constexpr uint64_t kPictureLimit = uint64_t{128} << 20;

// End (offset just past it) of the first `footer` at or after `from` in the
// bytes after which the sector holds nothing but zeros, or npos. A
// picture's footer bytes can occur inside its data; one followed by more
// data in the same sector is not the end.
size_t FirstClosingFooter(const uint8_t* bytes, size_t length, std::string_view footer,
                          size_t sectorSize, size_t from = 0) {
  for (size_t at = FindIn(bytes, length, footer, from); at != std::string_view::npos;
       at = FindIn(bytes, length, footer, at + 1)) {
    const size_t end = at + footer.size();
    if (OnlyZerosToSectorEnd(bytes, length, end, sectorSize)) return end;
  }
  return std::string_view::npos;
}

// The footer found last before the next recognised start ends the picture;
// without one the picture runs to that start. Footers that end at or before
// `dataStart` (inside the picture's header) are not looked at.
uint64_t FooterSize(const uint8_t* data, size_t len, SignatureScanContext& context,
                    std::string_view footer, uint64_t dataStart = 0) {
  const size_t sectorSize = context.sectorSize;
  auto firstAfterStart = [&](const uint8_t* bytes, size_t length, uint64_t offset) {
    const uint64_t skip = dataStart > offset ? dataStart - offset : 0;
    if (skip >= length) return std::string_view::npos;
    return FirstClosingFooter(bytes, length, footer, sectorSize, static_cast<size_t>(skip));
  };
  const size_t inFirst = firstAfterStart(data, std::min(len, sectorSize), 0);
  if (inFirst != std::string_view::npos) return inFirst;
  uint64_t remembered = 0;
  const uint64_t scanned =
      ScanForward(context, kPictureLimit, kNoSignatureMatch,
                  [&](const uint8_t* bytes, size_t length, uint64_t offset) {
                    const size_t end = firstAfterStart(bytes, length, offset);
                    if (end != std::string_view::npos) remembered = offset + end;
                    return ChunkVerdict{};
                  });
  return remembered != 0 && remembered < scanned ? remembered : scanned;
}

// Where a JPEG's entropy-coded data begins: after the header segments
// (APPn with an Exif thumbnail, comments, tables), each giving its length,
// and the first start-of-scan header. The thumbnail's end marker lies in
// there and is not the end of the picture. 0 when the segments cannot be
// followed.
uint64_t JpegScanDataStart(const uint8_t* data, size_t len, SignatureScanContext& context) {
  constexpr int kMaxSegments = 1000;
  constexpr uint8_t kStartOfScan = 0xDA;
  StartWindow window(data, len, context,
                     context.source != nullptr ? BytesLeftFromStart(context) : len);
  uint64_t offset = 2;  // after the start-of-image marker
  for (int i = 0; i < kMaxSegments; ++i) {
    const uint8_t* p = window.At(offset, 4);
    if (p == nullptr || p[0] != 0xFF) return 0;
    const uint8_t marker = p[1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++offset;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      offset += 2;
      continue;
    }
    if (marker == 0xD8 || marker == 0xD9) return 0;
    offset += 2 + Be16(p + 2);
    if (marker == kStartOfScan) return offset;
  }
  return 0;
}

// The end of central directory record: 22 bytes, then the archive comment
// whose length is its last field. Archives stored inside the archive (zip
// keeps .zip members uncompressed) bring end records of their own; the
// archive's own one says where its central directory lies, right before it.
// Where no record says so (a damaged directory, or a Zip64 archive that
// keeps the figures elsewhere), the last record of the first chunk that
// holds one ends the file. A comment that runs past the bytes at hand is
// left out rather than guessed.
uint64_t ZipEndRecordSize(const uint8_t* data, size_t len, SignatureScanContext& context,
                          uint64_t limit) {
  constexpr auto kEndRecord = "PK\x05\x06"sv;
  constexpr size_t kRecordBytes = 22;
  uint64_t fallback = 0;
  bool ended = false;
  const uint64_t scanned = ScanFromStart(
      data, len, context, limit, kNoSignatureMatch,
      [&](const uint8_t* bytes, size_t length, uint64_t offset) {
        constexpr size_t npos = std::string_view::npos;
        for (size_t at = FindIn(bytes, length, kEndRecord); at != npos;
             at = FindIn(bytes, length, kEndRecord, at + 1)) {
          const uint8_t* record = at + kRecordBytes <= length
                                      ? bytes + at
                                      : ReadBytesFromStart(context, offset + at, kRecordBytes);
          if (record == nullptr) continue;
          const uint32_t directoryBytes = Le32(record + 12);
          const uint32_t directoryOffset = Le32(record + 16);
          const bool zip64 = directoryBytes == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF;
          if (!zip64 && uint64_t{directoryOffset} + directoryBytes != offset + at) continue;
          ended = true;
          return ChunkVerdict{true, offset + at + kRecordBytes + Le16(record + 20)};
        }
        if (fallback == 0) {
          if (const size_t at = FindLastIn(bytes, length, kEndRecord); at != npos) {
            fallback = offset + at + kRecordBytes;
            if (at + kRecordBytes <= length) {
              const uint64_t comment = Le16(bytes + at + 20);
              if (at + kRecordBytes + comment <= length) fallback += comment;
            }
          }
        }
        return ChunkVerdict{};
      });
  if (ended) return scanned;
  return fallback != 0 && fallback < scanned ? fallback : scanned;
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

// Where a GIF ends, from its own blocks: the screen descriptor and colour
// table, then extensions and images (each a chain of sub-blocks closed by a
// zero length) up to the trailer ';'. Colour tables and pixel data can hold
// the bytes 00 3B anywhere; the blocks cannot be mistaken. 0 when the blocks
// cannot be followed to a trailer after at least one image.
uint64_t GifBlocksEnd(const uint8_t* data, size_t len, SignatureScanContext& context) {
  constexpr int kMaxBlocks = 1 << 20;
  StartWindow window(data, len, context,
                     std::min(kPictureLimit, context.source != nullptr
                                                 ? BytesLeftFromStart(context)
                                                 : uint64_t{len}));
  auto colourTable = [](uint8_t flags) -> uint64_t {
    return (flags & 0x80) != 0 ? 3u << ((flags & 7) + 1) : 0;
  };
  // Skips a chain of sub-blocks; false when it runs off what can be read.
  auto skipSubBlocks = [&](uint64_t& offset) {
    for (int i = 0; i < kMaxBlocks; ++i) {
      const uint8_t* size = window.At(offset, 1);
      if (size == nullptr) return false;
      offset += 1 + *size;
      if (*size == 0) return true;
    }
    return false;
  };
  const uint8_t* screen = window.At(6, 7);
  if (screen == nullptr) return 0;
  uint64_t offset = 13 + colourTable(screen[4]);
  int images = 0;
  for (int i = 0; i < kMaxBlocks; ++i) {
    const uint8_t* block = window.At(offset, 1);
    if (block == nullptr) return 0;
    switch (*block) {
      case 0x3B:  // trailer
        return images > 0 ? offset + 1 : 0;
      case 0x21:  // extension: label, then sub-blocks
        offset += 2;
        if (!skipSubBlocks(offset)) return 0;
        break;
      case 0x2C: {  // image descriptor, local colour table, code size, data
        const uint8_t* descriptor = window.At(offset, 10);
        if (descriptor == nullptr) return 0;
        offset += 10 + colourTable(descriptor[9]) + 1;
        if (!skipSubBlocks(offset)) return 0;
        ++images;
        break;
      }
      default:
        return 0;
    }
  }
  return 0;
}

}  // namespace

uint64_t gif_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (const uint64_t blocksEnd = GifBlocksEnd(data, len, context); blocksEnd != 0)
    return blocksEnd;
  if (context.cancelResult != 0) return context.sectorSize;
  // The last data sub-block's terminator, then the trailer ';'.
  return FooterSize(data, len, context, "\x00\x3B"sv);
}

uint64_t jpg_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const uint64_t dataStart = JpegScanDataStart(data, len, context);
  if (context.cancelResult != 0) return context.sectorSize;
  return FooterSize(data, len, context, "\xFF\xD9"sv, dataStart);
}

uint64_t png_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  // The IEND chunk's type and its fixed CRC.
  return FooterSize(data, len, context, "\x49\x45\x4E\x44\xAE\x42\x60\x82"sv);
}

// "%%EOF" closes every revision of a PDF, and a linearized file has one
// right after its first-page section, so only the one followed by blank
// slack (after a line end at most) is known to be the end of the file.
// Where none is, the last one before the scan stopped is taken; failing
// that, a file cut before it still has its "trailer". A line end right
// after "%%EOF" belongs to the file.
uint64_t pdf_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const size_t sectorSize = context.sectorSize;
  uint64_t lastEof = 0;
  uint64_t lastTrailer = 0;
  bool closed = false;
  const uint64_t scanned = ScanFromStart(
      data, len, context, uint64_t{1} << 30, kNoSignatureMatch,
      [&](const uint8_t* bytes, size_t length, uint64_t offset) {
        constexpr size_t npos = std::string_view::npos;
        for (size_t at = FindIn(bytes, length, "%%EOF"sv); at != npos;
             at = FindIn(bytes, length, "%%EOF"sv, at + 1)) {
          size_t end = at + 5;
          if (end < length && bytes[end] == '\r') ++end;
          if (end < length && bytes[end] == '\n') ++end;
          // A sector boundary right after it proves nothing: a linearized
          // file may pad its first-page section to one.
          if (end % sectorSize != 0 && OnlyZerosToSectorEnd(bytes, length, end, sectorSize)) {
            closed = true;
            return ChunkVerdict{true, offset + end};
          }
          lastEof = offset + end;
        }
        if (const size_t at = FindLastIn(bytes, length, "trailer"sv); at != npos)
          lastTrailer = offset + at + 7;
        return ChunkVerdict{};
      });
  if (closed) return scanned;
  if (lastEof != 0) return lastEof;
  if (lastTrailer != 0) return lastTrailer;
  return scanned;
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
