// MPEG program streams (mpeg, mpg, vob) measured by their own packs: pack
// headers, a system header and PES packets follow one another, each giving
// its length, up to the end code or the last packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engines/signatures/signature_catalogue.h"

namespace qm::sig {

// Where the program stream that starts at context.startSector ends, when
// its packs and packets lead to the end code, to a sector boundary or to
// blank slack; 0 when they do not show the end (an elementary stream, a
// damaged or cut stream).
uint64_t ProgramStreamEnd(const uint8_t* data, size_t len, SignatureScanContext& context);

}  // namespace qm::sig
