// The file signature catalogue: file types known by their content.
//
// One ordered table of rows (extension, type id, test, size finder). The order
// decides which row wins when several tests match the same bytes: carving
// tries the rows top to bottom and takes the first match, and the first row of
// a type id names the files carved of that type. A 256-entry index of the
// first byte only tells which rows can possibly match a block; it never
// changes which row wins.
//
// The content check of the quick scans asks the same table whether the first
// sector of a found file carries the signature its extension promises.
//
// Tests never keep state of their own: everything an identification needs
// (source, sector numbers, flags, the scratch buffer for extra reads) lives in
// a SignatureScanContext owned by the engine that runs the identification.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "disk/sector_source.h"
#include "engines/file_recovery_parse.h"

namespace qm {

// Type id of "no match"; also what every test returns when it refuses.
inline constexpr int kNoSignatureMatch = 49;
// Size of the scratch buffer every extra read and every size finder reuses.
inline constexpr size_t kSignatureScratchBytes = 0x10000;

// State of one identification. The engine that scans owns it and sets the
// source, sector size and start sector before it calls into the catalogue.
struct SignatureScanContext {
  // Where extra reads go. Null when the bytes handed over are all there is
  // (e.g. data stored inside a file record): the Open XML test then looks only
  // at those bytes, the transport-stream test refuses and the compound-file
  // test answers with its generic type.
  const SectorSource* source = nullptr;
  uint32_t sectorSize = 512;
  // Absolute sector at which the candidate file starts.
  uint64_t startSector = 0;
  // First sector past the volume (0: the end of the source). No carved file
  // runs past it.
  uint64_t endSector = 0;
  // Advanced sector by sector while a size finder scans forward.
  uint64_t currentSector = 0;

  // Progress of the whole carving pass, passed through to its callback while
  // a size finder reads ahead; a non-zero answer becomes cancelResult.
  ScanProgressFn progress = nullptr;
  void* progressUser = nullptr;
  int progressScale = 100;
  uint64_t progressDone = 0;
  uint64_t progressTotal = 0;
  uint64_t progressFound = 0;
  int64_t progressSecondsLeft = -1;
  int cancelResult = 0;

  // Set before every identification; when set, a transport stream is not
  // started where the sector before still holds packets of a stream.
  bool transportStreamStart = false;
  // The previous identification found an MTS stream.
  bool previousWasMts = false;
  // Inclusive absolute sector ranges of transport streams already carved.
  std::vector<std::pair<uint64_t, uint64_t>> carvedTransportStreams;

  std::vector<uint8_t> scratch = std::vector<uint8_t>(kSignatureScratchBytes);
  // The chunk a size finder scans. Kept apart from `scratch` because the stop
  // check runs tests that read into `scratch` while the chunk is examined.
  std::vector<uint8_t> chunk = std::vector<uint8_t>(kSignatureScratchBytes);
};

// A test looks at `len` bytes at the candidate start and returns a type id or
// kNoSignatureMatch. It never reads data[len] or beyond.
using SignatureTest = int (*)(const uint8_t* data, size_t len, SignatureScanContext& context);
// Gives the size in bytes of the file that starts at the candidate.
using SignatureSizeFinder = uint64_t (*)(const uint8_t* data, size_t len,
                                         SignatureScanContext& context);

struct SignatureEntry {
  std::string_view extension;  // lower case, no dot
  int typeId;
  SignatureTest test;
  SignatureSizeFinder sizeFinder;  // null: files of this row are not carved
  // Every byte that can stand at offset 0 when `test` matches; empty when the
  // signature does not sit at a fixed first byte.
  std::string_view firstBytes;
};

// The table in its fixed order (87 rows).
const std::vector<SignatureEntry>& SignatureTable();

// Row numbers (indexes into SignatureTable) in table order.
struct SignatureFirstByteIndex {
  std::array<std::vector<uint16_t>, 256> byFirstByte;  // rows with a fixed first byte
  std::vector<uint16_t> anyByte;                       // rows that may start with any byte
};
const SignatureFirstByteIndex& SignatureIndex();

// Runs the tests in table order on the bytes at context.startSector and
// returns the type id of the first match, or kNoSignatureMatch. Sets the
// transport-stream-start flag before the tests run and keeps it only when a
// transport stream was found; records whether an MTS stream was found.
int IdentifyType(const uint8_t* data, size_t len, SignatureScanContext& context);

// Like IdentifyType, but leaves the context's flags alone and skips matches
// of `ignoredType`: whether anything known starts in these bytes.
int FirstMatchingType(const uint8_t* data, size_t len, SignatureScanContext& context,
                      int ignoredType);

// The answer of IdentifyAt: a file of `typeId` starts at the sector, carved
// under `name` ("<start sector>.<extension>") with `size` bytes.
struct SignatureHit {
  int typeId = kNoSignatureMatch;
  uint64_t size = 0;
  char name[48] = {};
};

// Identifies the file starting at context.startSector and measures it.
// 0 with `hit` filled; 87 when nothing that can be carved starts there (no
// match, or a type without a size finder); the cancel code when the progress
// callback asked to stop while the size finder read ahead.
int IdentifyAt(const uint8_t* data, size_t len, SignatureScanContext& context,
               SignatureHit& hit);

// 1 when the bytes carry the signature that `extension` promises (or when the
// table does not know the extension), else 0. A picture extension is kept
// by any picture signature: only a first sector that holds no picture at all
// marks a photo as overwritten. `data` is a file's first sector
// at context.startSector.
int CheckContentByExtension(const uint8_t* data, size_t length, std::string_view extension,
                            SignatureScanContext& context);

// The first extension of a type id (the name given to carved files), or an
// empty view for an unknown id.
std::string_view ExtensionOfType(int typeId);

}  // namespace qm
