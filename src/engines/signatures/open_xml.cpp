// Office Open XML documents: ZIP packages whose part names tell the
// application ("word/...", "xl/...", "ppt/...").
//
// ZIP local file header: 50 4B 03 04, name length at +26, name at +30.
// Central directory header: 50 4B 01 02, name length at +28, name at +46.
// End of central directory record: 50 4B 05 06; no header follows it.
#include <algorithm>
#include <cstring>

#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {

constexpr int kWordPackage = 1;
constexpr int kExcelPackage = 4;
constexpr int kPowerPointPackage = 6;

// Sectors read at a time, and how far into the file the names are looked for.
constexpr uint32_t kWindowSectors = 4;
constexpr uint64_t kSearchSectors = 20;

enum class Outcome { kFound, kEndRecord, kGoOn };

int ClassifyPartName(const uint8_t* name, size_t nameLength) {
  if (StartsWithNoCase(name, nameLength, "word"sv)) return kWordPackage;
  if (StartsWithNoCase(name, nameLength, "ppt"sv)) return kPowerPointPackage;
  if (StartsWithNoCase(name, nameLength, "xl"sv)) return kExcelPackage;
  return kNoSignatureMatch;
}

// Looks at the headers that begin before `examineEnd` in buf[0, have): their
// names may run on into the bytes after examineEnd.
Outcome ExamineHeaders(const uint8_t* buf, size_t have, size_t examineEnd, int* type) {
  for (size_t at = 0; at < examineEnd; ++at) {
    if (buf[at] != 'P') continue;
    size_t lengthAt = 0, nameAt = 0;
    if (HasAt(buf, have, at, "PK\x05\x06"sv)) return Outcome::kEndRecord;
    if (HasAt(buf, have, at, "PK\x03\x04"sv)) {
      lengthAt = at + 26;
      nameAt = at + 30;
    } else if (HasAt(buf, have, at, "PK\x01\x02"sv)) {
      lengthAt = at + 28;
      nameAt = at + 46;
    } else {
      continue;
    }
    if (nameAt > have) continue;
    const size_t nameLength = std::min<size_t>(Le16(buf + lengthAt), have - nameAt);
    *type = ClassifyPartName(buf + nameAt, nameLength);
    if (*type != kNoSignatureMatch) return Outcome::kFound;
  }
  return Outcome::kGoOn;
}

// Slides over the first sectors of the candidate four at a time. The buffer
// keeps one window of look-ahead so that a header near the end of a window is
// examined with its name, and every position is examined once.
int SearchSource(SignatureScanContext& context) {
  const uint32_t sectorSize = context.sectorSize;
  const size_t window = size_t{kWindowSectors} * sectorSize;
  if (sectorSize == 0 || 2 * window > context.scratch.size()) return kNoSignatureMatch;
  const uint64_t total = context.source->totalSectors();
  if (context.startSector >= total) return kNoSignatureMatch;
  const uint64_t span = std::min(kSearchSectors, total - context.startSector);

  uint8_t* buf = context.scratch.data();
  size_t have = 0;
  uint64_t next = 0;
  for (;;) {
    while (next < span && have <= window) {
      const auto count = static_cast<uint32_t>(std::min<uint64_t>(kWindowSectors, span - next));
      if (!ReadSectorsToScratch(context, context.startSector + next, count, have))
        return kNoSignatureMatch;
      have += size_t{count} * sectorSize;
      next += count;
    }
    const bool last = next >= span;
    const size_t examineEnd = last ? have : have - window;
    int type = kNoSignatureMatch;
    if (ExamineHeaders(buf, have, examineEnd, &type) != Outcome::kGoOn || last) return type;
    std::memmove(buf, buf + examineEnd, have - examineEnd);
    have -= examineEnd;
  }
}

}  // namespace

int docx_test(const uint8_t* data, size_t len, SignatureScanContext& context) {
  if (len < 31) return kNoSignatureMatch;
  if (!HasAt(data, len, 0, "PK\x03\x04"sv) && !HasAt(data, len, 31, "[Content_Types].xml"sv))
    return kNoSignatureMatch;
  if (context.source == nullptr || !context.source->IsOpen()) {
    int type = kNoSignatureMatch;
    ExamineHeaders(data, len, len, &type);
    return type;
  }
  return SearchSource(context);
}

}  // namespace qm::sig
