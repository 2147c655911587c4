#include "engines/signatures/mpeg_program_stream.h"

#include <algorithm>

#include "engines/signatures/signature_scan.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

namespace {

constexpr uint8_t kPackStart = 0xBA;
constexpr uint8_t kSystemHeader = 0xBB;
constexpr uint8_t kProgramEnd = 0xB9;
constexpr uint64_t kLimit = uint64_t{2} << 30;
// Fewer packs than this prove nothing about the stream.
constexpr int kMinPacks = 2;

bool IsStartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

}  // namespace

uint64_t ProgramStreamEnd(const uint8_t* data, size_t len, SignatureScanContext& context) {
  const uint32_t sectorSize = context.sectorSize;
  if (sectorSize == 0 || context.source == nullptr || len < 4 || !IsStartCode(data) ||
      data[3] != kPackStart)
    return 0;
  StartWindow window(data, len, context, std::min(kLimit, BytesLeftFromStart(context)));
  uint64_t offset = 0;
  int packs = 0;
  for (;;) {
    const uint8_t* p = window.At(offset, 4);
    if (p == nullptr) return 0;  // cut by the volume's end or a read failure
    if (!IsStartCode(p)) break;
    if (p[3] == kProgramEnd) {
      offset += 4;
      return packs >= kMinPacks ? offset : 0;
    }
    const uint8_t* h = window.At(offset, p[3] == kPackStart ? 14 : 6);
    if (h == nullptr) return 0;
    if (h[3] == kPackStart) {
      if ((h[4] & 0xC0) == 0x40) {
        offset += 14 + (h[13] & 7);  // MPEG-2, with its stuffing bytes
      } else if ((h[4] & 0xF0) == 0x20) {
        offset += 12;  // MPEG-1
      } else {
        break;
      }
      ++packs;
      continue;
    }
    if (h[3] < kSystemHeader) break;
    offset += 6 + Be16(h + 4);
  }
  if (packs < kMinPacks) return 0;
  // Packs usually fill whole sectors; otherwise the slack after the stream
  // must be blank.
  return window.BlankToSectorEnd(offset, sectorSize) ? offset : 0;
}

}  // namespace qm::sig
