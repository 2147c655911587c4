// Size finders of audio and video streams: each scans ahead for the mark
// its format leaves at (or near) the end.
#include <algorithm>
#include <array>

#include "engines/signatures/mpeg_audio.h"
#include "engines/signatures/mpeg_program_stream.h"
#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_size_finders.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

constexpr uint64_t k2GiB = uint64_t{2} << 30;
constexpr size_t kPacket = 188;

// Box types that stand at the top level of an ISO media or QuickTime file.
bool IsTopLevelBox(const uint8_t* type) {
  static constexpr std::array<std::string_view, 18> kTypes{
      "ftyp"sv, "moov"sv, "mdat"sv, "free"sv, "skip"sv, "wide"sv, "uuid"sv, "meta"sv, "moof"sv,
      "mfra"sv, "pdin"sv, "styp"sv, "sidx"sv, "ssix"sv, "prft"sv, "emsg"sv, "pnot"sv, "junk"sv};
  const std::string_view t(reinterpret_cast<const char*>(type), 4);
  return std::find(kTypes.begin(), kTypes.end(), t) != kTypes.end();
}

// Where the run of top-level boxes from the file's start ends, each box
// header giving the length of its box; 0 unless the run is at least two
// boxes long and ends where the file visibly does, with blank slack up to
// its sector's end. A box "to the end of the file" (length 0) tells nothing.
// A run that passes these checks is trusted over the stop check: the movie
// box's type can open a sector and look like the start of another movie.
uint64_t IsoBoxesEnd(const uint8_t* data, size_t len, SignatureScanContext& context,
                     uint64_t limit) {
  constexpr int kMaxBoxes = 100000;
  const uint32_t sectorSize = context.sectorSize;
  if (sectorSize == 0 || context.source == nullptr) return 0;
  const uint64_t available = std::min(limit, BytesLeftFromStart(context));
  uint64_t offset = 0;
  int boxes = 0;
  for (; boxes < kMaxBoxes && offset + 8 <= available; ++boxes) {
    const size_t want = offset + 16 <= available ? 16 : 8;
    const uint8_t* header = offset + want <= len ? data + offset
                                                 : ReadBytesFromStart(context, offset, want);
    if (header == nullptr || !IsTopLevelBox(header + 4)) break;
    uint64_t size = Be32(header);
    if (size == 1 && want == 16) size = (uint64_t{Be32(header + 8)} << 32) | Be32(header + 12);
    if (size < 8 || size > available - offset) return 0;
    offset += size;
  }
  const size_t within = static_cast<size_t>(offset % sectorSize);
  if (boxes < 2 || within == 0) return 0;
  const uint8_t* slack = ReadBytesFromStart(context, offset, sectorSize - within);
  if (slack == nullptr) return 0;
  for (size_t i = 0; i < sectorSize - within; ++i)
    if (slack[i] != 0) return 0;
  return offset;
}

}  // namespace

// The header announces the track count; the tracks follow one another as
// "MTrk" + big-endian length chunks.
uint64_t midi_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const uint64_t scanned = PlainScan(context, uint64_t{8} << 20);
  if (len < 14) return scanned;
  const unsigned tracks = Be16(data + 10);
  uint64_t size = 14;
  for (unsigned i = 0; i < tracks && size < scanned; ++i) {
    const uint8_t* header = ReadBytesFromStart(context, size, 8);
    if (header == nullptr || std::string_view(reinterpret_cast<const char*>(header), 4) != "MTrk")
      return scanned;
    size += 8 + uint64_t{Be32(header + 4)};
  }
  return std::min(size, scanned);
}

// The frames after the ID3v2 tag give the length where they lead to a
// visible end. Otherwise an ID3v1 tag ("TAG" + 125 bytes) closes the file.
// The three letters also turn up by chance in the audio frames of a long
// file, so only a tag that closes its sector (blank slack after it, or a
// sector boundary) ends it; without one the file runs to the next
// recognised start.
uint64_t mp3_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (const uint64_t framesEnd = Mp3FramesEnd(data, len, context); framesEnd != 0)
    return framesEnd;
  constexpr size_t kTagBytes = 128;
  const size_t sectorSize = context.sectorSize;
  return ScanForward(context, k2GiB, kNoSignatureMatch,
                     [sectorSize](const uint8_t* bytes, size_t length, uint64_t offset) {
                       for (size_t at = FindIn(bytes, length, "TAG"sv);
                            at != std::string_view::npos;
                            at = FindIn(bytes, length, "TAG"sv, at + 1)) {
                         if (at + kTagBytes <= length &&
                             OnlyZerosToSectorEnd(bytes, length, at + kTagBytes, sectorSize))
                           return ChunkVerdict{true, offset + at + kTagBytes};
                       }
                       return ChunkVerdict{};
                     });
}

// An APEv2 tag closes the file: an optional 32-byte header, the items, and
// a 32-byte footer, both opening with "APETAGEX" and version 2000, both
// giving the tag's size (items and footer) and flags, where bit 29 marks the
// header. Two in one chunk are header and footer; a lone one is a footer
// (the header is optional) or a header whose footer lies in the next chunk,
// and its fields tell where the tag ends. Where they cannot be read, the
// file runs to the end of the chunk that holds it.
uint64_t ape_size(const uint8_t*, size_t, SignatureScanContext& context) {
  static constexpr auto kTag = "APETAGEX\xD0\x07"sv;
  constexpr size_t kTagHeaderBytes = 32;
  constexpr uint32_t kIsHeader = 1u << 29;
  return ScanForward(context, k2GiB, kNoSignatureMatch,
                     [&context](const uint8_t* bytes, size_t length, uint64_t offset) {
                       const size_t at = FindIn(bytes, length, kTag);
                       if (at == std::string_view::npos) return ChunkVerdict{};
                       const size_t second = FindIn(bytes, length, kTag, at + 1);
                       if (second != std::string_view::npos)
                         return ChunkVerdict{true, offset + second + kTagHeaderBytes};
                       const uint8_t* tag =
                           at + kTagHeaderBytes <= length
                               ? bytes + at
                               : ReadBytesFromStart(context, offset + at, kTagHeaderBytes);
                       if (tag == nullptr) return ChunkVerdict{true, offset + length};
                       const uint64_t end = offset + at + kTagHeaderBytes;
                       if ((Le32(tag + 20) & kIsHeader) != 0)
                         return ChunkVerdict{true, end + Le32(tag + 12)};
                       return ChunkVerdict{true, end};
                     });
}

// An ISO media file ends with its last top-level box. Where the boxes do
// not show the end, a file written by the GPAC muxer still closes with its
// text in a free box.
uint64_t mp4_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (const uint64_t boxesEnd = IsoBoxesEnd(data, len, context, k2GiB); boxesEnd != 0)
    return boxesEnd;
  return ScanForward(context, k2GiB, kNoSignatureMatch,
                     [](const uint8_t* bytes, size_t length, uint64_t offset) {
                       const size_t at = FindIn(bytes, length, "freeIsoMedia File Produced"sv);
                       if (at == std::string_view::npos) return ChunkVerdict{};
                       size_t end = at + 26;
                       while (end < length && bytes[end] != 0) ++end;
                       return ChunkVerdict{true, offset + end};
                     });
}

// QuickTime and 3GPP files are boxes too; without a visible end they run
// to the next recognised start.
uint64_t iso_media_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (const uint64_t boxesEnd = IsoBoxesEnd(data, len, context, k2GiB); boxesEnd != 0)
    return boxesEnd;
  return PlainScan(context, k2GiB);
}

// A program stream ends where its packs do. Otherwise a video elementary
// stream (sequence header B3) ends with a sequence end code B7, a program
// stream with the program end code B9. Pack headers of the stream itself
// must not stop it.
uint64_t mpeg_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (const uint64_t packsEnd = ProgramStreamEnd(data, len, context); packsEnd != 0)
    return packsEnd;
  const bool video = len > 3 && data[3] == 0xB3;
  const std::string_view endCode = video ? "\x00\x00\x01\xB7"sv : "\x00\x00\x01\xB9"sv;
  const size_t sectorSize = context.sectorSize;
  return ScanFromStart(data, len, context, k2GiB, 15,
                       [&](const uint8_t* bytes, size_t length, uint64_t offset) {
                         const size_t end = [&] {
                           for (size_t at = FindIn(bytes, length, endCode);
                                at != std::string_view::npos;
                                at = FindIn(bytes, length, endCode, at + 1))
                             if (OnlyZerosToSectorEnd(bytes, length, at + 4, sectorSize))
                               return at + 4;
                           return std::string_view::npos;
                         }();
                         if (end == std::string_view::npos) return ChunkVerdict{};
                         return ChunkVerdict{true, offset + end};
                       });
}

// RealMedia closes with its index; an empty index chunk header is the end.
uint64_t rm_size(const uint8_t*, size_t, SignatureScanContext& context) {
  static constexpr auto kEmptyIndex =
      "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00"sv;
  return ScanForward(context, k2GiB, kNoSignatureMatch,
                     [](const uint8_t* bytes, size_t length, uint64_t offset) {
                       const size_t at = FindIn(bytes, length, kEmptyIndex);
                       if (at == std::string_view::npos) return ChunkVerdict{};
                       return ChunkVerdict{true, offset + at + 20};
                     });
}

// The stream runs as long as 188-byte packets keep opening with 0x47. Its
// sectors are remembered so that no stream is started inside it again.
uint64_t ts_size(const uint8_t* data, size_t len, SignatureScanContext& context) {
  uint64_t next = 0;  // offset of the next packet to check
  bool broken = false;
  auto follow = [&](const uint8_t* bytes, size_t length, uint64_t offset) {
    while (!broken && next >= offset && next < offset + length) {
      if (bytes[next - offset] != 0x47) {
        broken = true;
        break;
      }
      next += kPacket;
    }
    return ChunkVerdict{};
  };
  const size_t firstLength = std::min<size_t>(len, context.sectorSize);
  follow(data, firstLength, 0);
  uint64_t scanned = firstLength;
  if (!broken) scanned = ScanForward(context, uint64_t{64} << 30, kNoSignatureMatch, follow);
  // `next` is one packet past the last good one, or past a packet whose
  // start was never seen (then the scanned size is smaller).
  const uint64_t size = std::max<uint64_t>(std::min(next, scanned), 1);
  if (context.sectorSize != 0) {
    const uint64_t sectors = (size + context.sectorSize - 1) / context.sectorSize;
    context.carvedTransportStreams.emplace_back(context.startSector,
                                                context.startSector + sectors - 1);
  }
  return size;
}

}  // namespace qm::sig
