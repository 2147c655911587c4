// The signature catalogue over a mutated image: every row's test on the
// first sectors, the size finder of every row that matches (they read ahead
// through the image), the identification the carving pass runs, and the
// content check the quick scans run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "engines/signatures/signature_catalogue.h"
#include "fuzz_workspace.h"

namespace {

constexpr uint32_t kSectorBytes = 512;
// Candidate starts tried per input.
constexpr uint64_t kStarts = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  qm::SectorSource source;
  if (source.OpenImageSource(qm::fuzz::FuzzWorkspace::Get().WriteImage(data, size)) != 0) return 0;

  qm::SignatureScanContext context;
  context.source = &source;
  context.sectorSize = kSectorBytes;
  const uint64_t starts = std::min(source.totalSectors(), kStarts);
  for (uint64_t start = 0; start < starts; ++start) {
    // Exactly one sector: a test must not read past the bytes it is given.
    const std::vector<uint8_t> sector(data + start * kSectorBytes,
                                      data + (start + 1) * kSectorBytes);
    context.startSector = start;
    context.currentSector = start;
    for (const qm::SignatureEntry& row : qm::SignatureTable()) {
      if (row.test(sector.data(), sector.size(), context) == qm::kNoSignatureMatch) continue;
      if (row.sizeFinder != nullptr) {
        context.currentSector = start;
        row.sizeFinder(sector.data(), sector.size(), context);
      }
      qm::CheckContentByExtension(sector.data(), sector.size(), row.extension, context);
    }
    qm::SignatureHit hit;
    qm::IdentifyAt(sector.data(), sector.size(), context, hit);
    qm::FirstMatchingType(sector.data(), sector.size(), context, qm::kNoSignatureMatch);
  }

  // Bytes with nothing behind them, as a resident NTFS stream hands them over.
  qm::SignatureScanContext detached;
  std::vector<uint8_t> head(data, data + std::min<size_t>(size, 4096));
  qm::IdentifyType(head.data(), head.size(), detached);
  for (const char* extension : {"jpg", "png", "docx", "zip", "mp4", "pdf"}) {
    qm::CheckContentByExtension(head.data(), head.size(), extension, detached);
  }
  return 0;
}
