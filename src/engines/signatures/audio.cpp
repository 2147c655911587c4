// Audio formats: MP3 with an ID3v2 tag, standard MIDI, Monkey's Audio, WAVE,
// MPEG-1 layer II frames, SMAF (mobile ringtones).
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

// ID3v2 header: "ID3", version and revision (never FF), flags (only the top
// three bits defined), and a 28-bit size stored as four 7-bit bytes. The
// whole 10-byte header must be present.
int mp3_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < 10 || !HasAt(data, len, 0, "ID3"sv)) return kNoSignatureMatch;
  if (data[3] == 0xFF || data[4] == 0xFF || (data[5] & 0x1F) != 0) return kNoSignatureMatch;
  for (size_t i = 6; i < 10; ++i)
    if (data[i] >= 0x80) return kNoSignatureMatch;
  return 12;
}

// Standard MIDI file: "MThd", header length 6 (big-endian), and the first
// track chunk "MTrk" right after the 6-byte header.
int mid_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15 || !HasAt(data, len, 0, "MThd"sv)) return kNoSignatureMatch;
  return Be32(data + 4) == 6 && HasAt(data, len, 14, "MTrk"sv) ? 13 : kNoSignatureMatch;
}

int ape_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 3 && HasAt(data, len, 0, "MAC "sv) ? 25 : kNoSignatureMatch;
}

int wav_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len <= 15) return kNoSignatureMatch;
  return HasAt(data, len, 0, "RIFF"sv) && HasAt(data, len, 8, "WAVE"sv) &&
                 HasAt(data, len, 12, "fmt "sv)
             ? 21
             : kNoSignatureMatch;
}

// An MPEG-1 layer II frame header (sync, layer II without CRC, 384 kbit/s at
// 48 kHz) as it opens the files this row stands for.
int mp2_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 3 && HasAt(data, len, 0, "\xFF\xFD\xE4\x00"sv) ? 11 : kNoSignatureMatch;
}

int mmf_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  return len > 3 && HasAt(data, len, 0, "MMMD"sv) ? 14 : kNoSignatureMatch;
}

}  // namespace qm::sig
