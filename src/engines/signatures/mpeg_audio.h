// MPEG audio (MP3, MP2) measured frame by frame: an ID3v2 tag, then frames
// whose headers give their lengths, then an optional ID3v1 tag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/signatures/signature_catalogue.h"

namespace qm::sig {

// Length of one MPEG audio frame from its 4-byte header, 0 when the bytes
// are not a frame header (no sync, reserved or free values).
uint32_t MpegAudioFrameBytes(const uint8_t* header);

// Where the MP3 that starts at context.startSector ends, when its ID3v2 tag
// and at least a few frames of one stream lead to an end followed by blank
// slack up to the sector's end; 0 when the frames do not show the end.
uint64_t Mp3FramesEnd(const uint8_t* data, size_t len, SignatureScanContext& context);

}  // namespace qm::sig
