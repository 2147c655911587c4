// MPEG transport streams: 188-byte packets, each opening with the sync byte
// 0x47. BDAV (.mts) streams prefix every packet with a 4-byte time code, so
// their first packet's sync byte sits at offset 4.
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

constexpr size_t kPacketBytes = 188;
constexpr uint8_t kSyncByte = 0x47;
// Bytes read from the candidate start to see a run of packets.
constexpr size_t kRunProbeBytes = 4096;
// Packets starting inside the probe: offsets 0, 188, ..., 3948 (22 packets).
// All of them must carry the sync byte.
constexpr size_t kMinPacketRun = 22;

bool SyncEvery188(const uint8_t* data, size_t len) {
  for (size_t i = 0; i < len; i += kPacketBytes)
    if (data[i] != kSyncByte) return false;
  return true;
}

// Packet starts counted back from the end of the sector before the candidate:
// if the stream was already running there, one of them holds a sync byte.
bool PreviousSectorContinuesStream(const uint8_t* previous, size_t sectorSize) {
  for (size_t back = kPacketBytes; back <= sectorSize; back += kPacketBytes)
    if (previous[sectorSize - back] == kSyncByte) return true;
  return false;
}

bool InsideCarvedStream(const SignatureScanContext& context) {
  for (const auto& [first, last] : context.carvedTransportStreams)
    if (context.startSector >= first && context.startSector <= last) return true;
  return false;
}

}  // namespace

int ts_test(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < kPacketBytes || data[0] != kSyncByte) return kNoSignatureMatch;
  if (data[1] == 0 && data[2] == 0 && data[3] == 0) return kNoSignatureMatch;
  if (!SyncEvery188(data, len)) return kNoSignatureMatch;

  const uint8_t* probe = ReadBytesFromStart(context, 0, kRunProbeBytes);
  if (probe == nullptr) return kNoSignatureMatch;
  size_t run = 0;
  for (size_t at = 0; at < kRunProbeBytes && probe[at] == kSyncByte; at += kPacketBytes) ++run;
  if (run < kMinPacketRun) return kNoSignatureMatch;

  if (InsideCarvedStream(context)) return kNoSignatureMatch;
  if (context.transportStreamStart && context.startSector > 0) {
    if (!ReadSectorsToScratch(context, context.startSector - 1, 1, 0)) return kNoSignatureMatch;
    if (PreviousSectorContinuesStream(context.scratch.data(), context.sectorSize))
      return kNoSignatureMatch;
  }
  return 20;
}

// A BDAV stream's first packet carries the program association table; bytes
// 8-15 are the start of its section: pointer field 0, table id 0, section
// length 17, transport stream id 0, version byte C1, section number 0.
int mts_test(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 16 || !HasAt(data, len, 8, "\x00\x00\xB0\x11\x00\x00\xC1\x00"sv))
    return kNoSignatureMatch;
  // Right after an MTS start only a zero time code (bytes 0-3) counts as the
  // start of a new clip; other repeats of the table belong to the same one.
  const bool zeroTimeCode = data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 0;
  return zeroTimeCode || !context.previousWasMts ? 47 : kNoSignatureMatch;
}

}  // namespace qm::sig
