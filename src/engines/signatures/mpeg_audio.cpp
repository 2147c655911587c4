#include "engines/signatures/mpeg_audio.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

// Bit rates in kbit/s by [row][index]: MPEG-1 layers I, II, III, then
// MPEG-2/2.5 layer I, and MPEG-2/2.5 layers II and III.
constexpr std::array<std::array<uint16_t, 15>, 5> kBitRates{{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
// Sample rates by [version][index]; version 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1.
constexpr std::array<std::array<uint32_t, 3>, 4> kSampleRates{{
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}}};

constexpr size_t kId3v1Bytes = 128;
// No MP3 is measured beyond this, as with the scan for its tag.
constexpr uint64_t kLimit = uint64_t{2} << 30;
// Fewer frames than this prove nothing about the stream.
constexpr int kMinFrames = 4;

// The fields that stay the same in every frame of one stream: sync,
// version, layer and sample rate.
uint32_t StreamBits(const uint8_t* h) {
  return ((uint32_t{h[0]} << 24) | (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8)) & 0xFFFE0C00;
}

}  // namespace

uint32_t MpegAudioFrameBytes(const uint8_t* h) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const unsigned version = (h[1] >> 3) & 3;
  const unsigned layer = (h[1] >> 1) & 3;  // 3: layer I, 2: layer II, 1: layer III
  const unsigned rateIndex = h[2] >> 4;
  const unsigned sampleIndex = (h[2] >> 2) & 3;
  const unsigned padding = (h[2] >> 1) & 1;
  if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
    return 0;
  const bool mpeg1 = version == 3;
  const size_t row = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
  const uint32_t bitRate = uint32_t{kBitRates[row][rateIndex]} * 1000;
  const uint32_t sampleRate = kSampleRates[version][sampleIndex];
  if (layer == 3) return (12 * bitRate / sampleRate + padding) * 4;
  // Layer III of MPEG-2 and 2.5 carries half the samples per frame.
  const uint32_t factor = (layer == 1 && !mpeg1) ? 72 : 144;
  return factor * bitRate / sampleRate + padding;
}

uint64_t Mp3FramesEnd(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const uint32_t sectorSize = context.sectorSize;
  if (len < 10 || sectorSize == 0 || context.source == nullptr) return 0;
  // ID3v2: a 10-byte header, its size in 7-bit bytes, and a 10-byte footer
  // when flag bit 4 says so.
  uint64_t offset = 10 + ((uint64_t{data[6]} << 21) | (uint64_t{data[7]} << 14) |
                          (uint64_t{data[8]} << 7) | data[9]);
  if ((data[5] & 0x10) != 0) offset += 10;

  StartWindow window(data, len, context, std::min(kLimit, BytesLeftFromStart(context)));
  uint32_t stream = 0;
  int frames = 0;
  for (;;) {
    const uint8_t* header = window.At(offset, 4);
    if (header == nullptr) break;
    const uint32_t bytes = MpegAudioFrameBytes(header);
    if (bytes == 0 || (frames > 0 && StreamBits(header) != stream)) break;
    stream = StreamBits(header);
    offset += bytes;
    ++frames;
  }
  if (frames < kMinFrames) return 0;
  if (const uint8_t* tag = window.At(offset, kId3v1Bytes); tag != nullptr && HasAt(tag, 3, 0, "TAG"sv))
    offset += kId3v1Bytes;

  if (offset % sectorSize == 0) return 0;
  return window.BlankToSectorEnd(offset, sectorSize) ? offset : 0;
}

}  // namespace qm::sig
