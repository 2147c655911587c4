// Portable executables: programs, libraries and drivers.
//
// The DOS header ("MZ") holds the offset of the PE header at 60 (e_lfanew).
// The PE header is "PE" 00 00 followed by the COFF file header, whose
// Characteristics word sits 22 bytes after the signature.
#include "engines/signatures/signature_families.h"
#include "engines/signatures/signature_util.h"

namespace qm::sig {

using namespace std::literals;

namespace {
constexpr size_t kHeaderBytes = 512;
// Latest PE offset whose Characteristics word still lies in the first sector.
constexpr uint32_t kLastPeOffset = 488;
constexpr uint16_t kExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr uint16_t kSystemFile = 0x1000;       // IMAGE_FILE_SYSTEM
constexpr uint16_t kLibrary = 0x2000;          // IMAGE_FILE_DLL
}  // namespace

int exe_test(const uint8_t* data, size_t len, SignatureScanContext&) {
  if (len < kHeaderBytes || !HasAt(data, len, 0, "MZ"sv)) return kNoSignatureMatch;
  const uint32_t peOffset = Le32(data + 60);
  if (peOffset > kLastPeOffset || !HasAt(data, len, peOffset, "PE\x00\x00"sv))
    return kNoSignatureMatch;
  const uint16_t characteristics = Le16(data + peOffset + 22);
  if ((characteristics & kExecutableImage) == 0) return kNoSignatureMatch;
  if (characteristics & kSystemFile) return 43;
  if (characteristics & kLibrary) return 42;
  return 41;
}

}  // namespace qm::sig
