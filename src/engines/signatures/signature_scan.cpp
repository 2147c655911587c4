#include "engines/signatures/signature_scan.h"

#include <vector>

#include "engines/fat/fat_directory_entry.h"
#include "engines/signatures/signature_util.h"
#include "platform/errors.h"

namespace qm::sig {

using namespace std::literals;

namespace {

uint64_t VolumeEnd(const SignatureScanContext& context) {
  uint64_t end = context.source != nullptr ? context.source->totalSectors() : 0;
  if (context.endSector != 0) end = std::min(end, context.endSector);
  return end;
}

// NTFS and FAT structures that no file's data runs through: a file carved
// without a footer ends before them.
bool IsFileSystemStructure(const uint8_t* s, size_t len) {
  if (len < 16) return false;
  if (HasAt(s, len, 0, "FILE"sv) || HasAt(s, len, 0, "INDX"sv)) return true;
  if (HasAt(s, len, 0, "RSTR"sv) && Contains(s, len, "N\0T\0F\0S\0"sv)) return true;
  if (HasAt(s, len, 0, "$\0S\0T\0A\0"sv)) return true;
  if (s[0] == 0xEB && s[2] == 0x90) {
    for (auto oem : {"MSDOS5.0"sv, "MSWIN4.0"sv, "MSWIN4.1"sv, "NTFS    "sv, "EXFAT   "sv})
      if (HasAt(s, len, 3, oem)) return true;
  }
  return IsDirectorySector(s, len);
}

}  // namespace

uint32_t ReadScanChunk(SignatureScanContext& context, uint64_t at, uint32_t want,
                       uint64_t& unreadableSoFar) {
  std::vector<SectorRange> unreadable;
  const int rc = context.source->ReadSectorsFilling(want, context.chunk.data(), at,
                                                    context.sectorSize, unreadable);
  if (rc == err::kSuccess) return want;
  if (rc != err::kReadFault) {
    // The source refused the range or has gone: use what reads one by one.
    uint32_t got = 0;
    context.source->ReadSectors(want, context.chunk.data(), at, context.sectorSize, &got);
    return got;
  }
  for (const SectorRange& bad : unreadable) {
    if (unreadableSoFar + bad.count > kUnreadableSectorsReadThrough)
      return static_cast<uint32_t>(bad.first - at);
    unreadableSoFar += bad.count;
  }
  return want;
}

uint64_t SectorsLeftFrom(const SignatureScanContext& context, uint64_t sector) {
  const uint64_t end = VolumeEnd(context);
  return sector < end ? end - sector : 0;
}

uint64_t BytesLeftFromStart(const SignatureScanContext& context) {
  return SectorsLeftFrom(context, context.startSector) * context.sectorSize;
}

size_t SectorsBeforeStop(const uint8_t* chunk, size_t sectors, SignatureScanContext& context,
                         int ignoredType) {
  const size_t sectorSize = context.sectorSize;
  // Tests that read further sectors must read them around the sector under
  // test, not around the candidate being measured.
  const uint64_t candidate = context.startSector;
  size_t i = 0;
  for (; i < sectors; ++i) {
    const uint8_t* s = chunk + i * sectorSize;
    ++context.currentSector;
    context.startSector = context.currentSector;
    const bool stops = IsFileSystemStructure(s, sectorSize) ||
                       FirstMatchingType(s, sectorSize, context, ignoredType) != kNoSignatureMatch;
    context.startSector = candidate;
    if (stops) break;
  }
  return i;
}

bool ReportScanProgress(SignatureScanContext& context) {
  if (context.progress == nullptr) return true;
  const uint64_t percent =
      context.progressTotal != 0 ? context.progressDone * 100 / context.progressTotal : 0;
  const int answer = context.progress(context.progressUser, static_cast<int>(percent) + 10,
                                      context.progressScale, context.progressSecondsLeft,
                                      context.progressDone, context.progressTotal,
                                      context.progressFound, 0);
  if (answer == 0) return true;
  context.cancelResult = err::kCancelled;
  return false;
}

uint64_t PlainScan(SignatureScanContext& context, uint64_t limitBytes) {
  return ScanForward(context, limitBytes, kNoSignatureMatch,
                     [](const uint8_t*, size_t, uint64_t) { return ChunkVerdict{}; });
}

}  // namespace qm::sig

namespace qm::sig {

bool OnlyZerosToSectorEnd(const uint8_t* bytes, size_t length, size_t end, size_t sectorSize) {
  if (sectorSize == 0) return false;
  const size_t boundary = (end + sectorSize - 1) / sectorSize * sectorSize;
  if (boundary > length) return false;
  for (size_t i = end; i < boundary; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

}  // namespace qm::sig
