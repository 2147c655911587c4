// Size finders of formats whose length is written in their header, and of
// the scan-to-the-next-start family with its limits.
#include <algorithm>

#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_size_finders.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

// A size read from a header: at least one sector, at most `cap`, and never
// past the end of the volume (a damaged header must not claim the disk).
uint64_t HeaderSize(uint64_t size, uint64_t cap, const SignatureScanContext& context) {
  size = std::min(size, cap);
  if (context.source != nullptr) size = std::min(size, BytesLeftFromStart(context));
  return std::max<uint64_t>(size, context.sectorSize);
}

constexpr uint64_t kNoCap = ~uint64_t{0};

// The first `need` bytes of the file: the bytes the test saw when they are
// enough, else read again from the start (null when that fails).
const uint8_t* Head(const uint8_t* data, size_t len, size_t need, SignatureScanContext& context) {
  if (need <= len) return data;
  if (need > kSignatureScratchBytes) return nullptr;
  return ReadBytesFromStart(context, 0, need);
}

}  // namespace

uint64_t plain_128m_size(const uint8_t*, size_t, SignatureScanContext& context) {
  return PlainScan(context, uint64_t{128} << 20);
}
uint64_t plain_256m_size(const uint8_t*, size_t, SignatureScanContext& context) {
  return PlainScan(context, uint64_t{256} << 20);
}
uint64_t plain_2g_size(const uint8_t*, size_t, SignatureScanContext& context) {
  return PlainScan(context, uint64_t{2} << 30);
}
uint64_t plain_4g_size(const uint8_t*, size_t, SignatureScanContext& context) {
  return PlainScan(context, uint64_t{4} << 30);
}
uint64_t plain_64g_size(const uint8_t*, size_t, SignatureScanContext& context) {
  return PlainScan(context, uint64_t{64} << 30);
}

// BITMAPFILEHEADER.bfSize.
uint64_t bmp_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 6) return HeaderSize(0, 0, context);
  return HeaderSize(Le32(data + 2), 0x8000000, context);
}

// The RIFF chunk size counts everything after its own 8-byte header.
uint64_t riff_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 8) return HeaderSize(0, 0, context);
  return HeaderSize(uint64_t{Le32(data + 4)} + 8, kNoCap, context);
}

uint64_t avi_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len <= 15) return HeaderSize(0, 0, context);
  return riff_size(data, len, context);
}

// Only an uncompressed movie's header length is trusted; a compressed one
// ("CWS") is kept to its first sector.
uint64_t swf_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 8 || data[0] != 'F') return HeaderSize(0, 0, context);
  return HeaderSize(Le32(data + 4), 0x10000000, context);
}

// The file properties object carries the file size, which a broadcast
// (live) stream leaves undefined.
uint64_t asf_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  static constexpr auto kFileProperties =
      "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
  for (size_t at = 30; at + 92 <= len; ++at) {
    if (!HasAt(data, len, at, kFileProperties)) continue;
    if ((Le32(data + at + 88) & 1) != 0) break;
    return HeaderSize(Le64(data + at + 40), 0x10000000, context);
  }
  return HeaderSize(0, 0, context);
}

// CFHEADER.cbCabinet.
uint64_t cab_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 36) return HeaderSize(0, 0, context);
  return HeaderSize(Le32(data + 8), 0x40000000, context);
}

// The images follow the directory back to back; the last one ends the file.
uint64_t ico_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 6) return HeaderSize(0, 0, context);
  const size_t count = Le16(data + 4);
  const uint8_t* dir = Head(data, len, 6 + count * 16, context);
  if (count == 0 || dir == nullptr) return HeaderSize(0, 0, context);
  const uint8_t* last = dir + 6 + (count - 1) * 16;
  return HeaderSize(uint64_t{Le32(last + 12)} + Le32(last + 8), kNoCap, context);
}

// The table that reaches furthest ends the font.
uint64_t ttf_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 12) return HeaderSize(0, 0, context);
  const size_t tables = Be16(data + 4);
  const uint8_t* dir = Head(data, len, 12 + tables * 16, context);
  if (dir == nullptr) return HeaderSize(0, 0, context);
  uint64_t end = 0;
  for (size_t i = 0; i < tables; ++i) {
    const uint8_t* record = dir + 12 + i * 16;
    end = std::max(end, uint64_t{Be32(record + 8)} + Be32(record + 12));
  }
  return HeaderSize(end, kNoCap, context);
}

}  // namespace qm::sig
