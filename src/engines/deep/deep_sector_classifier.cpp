#include "engines/deep/deep_sector_classifier.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "engines/fat/fat_directory_entry.h"
#include "engines/ntfs/ntfs_file_record.h"
#include "engines/signatures/signature_catalogue.h"
#include "engines/signatures/signature_families.h"

namespace qm {

namespace {

using namespace std::literals;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "prefixes are compared as host words");

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// What the first eight bytes of a sector must hold for a catalogue test to
// match it: bytes under a set mask bit must equal the value. Each prefix is
// a necessary condition of one test, never more, so a sector that fits no
// prefix matches no test; a sector that fits one is only a candidate and
// the catalogue decides.
struct PrefixRule {
  std::string_view bytes;
  std::string_view mask;  // per byte of `bytes`; 0xFF when shorter
};

// clang-format off
constexpr PrefixRule kPrefixRules[] = {
    {"\x00\x00\x01\xBA"sv, {}},                    // MPEG program stream pack header
    {"\x00\x00\x01\xB3"sv, {}},                    // MPEG video sequence header
    {".RMF"sv, {}},                                // RealMedia
    {"\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, {}},    // ASF header object GUID
    {"CWS"sv, {}},                                 // compressed Flash
    {"FWS"sv, {}},                                 // Flash
    {"RIFF"sv, {}},                                // AVI, WAVE
    {"FLV\x01\x00\x00\x00\x00"sv, "\xFF\xFF\xFF\xFF\x00\xFF\xFF\xFF"sv},  // header size 9
    {"\x1A\x45\xDF\xA3"sv, {}},                    // Matroska (EBML)
    {"\x06\x0E\x2B\x34\x02\x05\x01\x01"sv, {}},    // MXF partition pack
    // ID3v2: flags with no low bits, the first two size bytes 7-bit.
    {"ID3\x00\x00\x00\x00\x00"sv, "\xFF\xFF\xFF\x00\x00\x1F\x80\x80"sv},
    {"MThd\x00\x00\x00\x06"sv, {}},                // MIDI, header length 6
    {"MAC "sv, {}},                                // Monkey's Audio
    {"moov"sv, {}},                                // QuickTime movie atom
    {"\xFF\xFD\xE4\x00"sv, {}},                    // MPEG-1 layer II frame
    {"MMMD"sv, {}},                                // SMAF
    {"\xD0\xCF\x11\xE0"sv, {}},                    // compound file
    // GIF: two digits (0x3_) and a lower-case letter (0x6_ or 0x7_).
    {"GIF\x30\x30\x60"sv, "\xFF\xFF\xFF\xF0\xF0\xE0"sv},
    // BMP: reserved words zero (bytes 6-7 are in reach).
    {"BM\x00\x00\x00\x00\x00\x00"sv, "\xFF\xFF\x00\x00\x00\x00\xFF\xFF"sv},
    {"BA\x00\x00\x00\x00\x00\x00"sv, "\xFF\xFF\x00\x00\x00\x00\xFF\xFF"sv},
    // JPEG: SOI, then a marker of the first segment (all at C0 or above).
    {"\xFF\xD8\xFF\xC0"sv, "\xFF\xFF\xFF\xC0"sv},
    {"\x89PNG\r\n\x1A\n"sv, {}},
    {"8BPS"sv, {}},                                // Photoshop
    {"MM\x00\x2A"sv, {}},                          // TIFF, big-endian
    {"II\x2A\x00"sv, {}},                          // TIFF, little-endian
    {"\x00\x00\x01\x00"sv, {}},                    // icon directory
    {"PK\x03\x04"sv, {}},                          // ZIP, Open XML
    {"%PDF-"sv, {}},
    {"\x1F\x8B\x08\x00"sv, "\xFF\xFF\xFF\xF7"sv},  // gzip, flags 0 or 8
    {"7z\xBC\xAF\x27"sv, {}},
    {"Rar!\x1A\x07\x00"sv, {}},
    {"MSCF"sv, {}},                                // cabinet
    {"MZ"sv, {}},                                  // executable
    {"\xFE\xEF\x00\x00"sv, {}},                    // Ghost image
    {"SQLite f"sv, {}},
    {"\xCF\xAD\x12\xFE"sv, {}},                    // Outlook Express
    {"!BDN"sv, {}},                                // Outlook
    {"\x00\x01\x00\x00"sv, {}},                    // TrueType
};
// clang-format on

constexpr size_t kRuleCount = std::size(kPrefixRules);

struct Prefix {
  uint64_t mask = 0;
  uint64_t value = 0;
};

struct PrefixTable {
  std::array<Prefix, kRuleCount> prefixes{};  // ordered by first byte
  std::array<uint8_t, 257> begin{};           // prefixes of first byte b: [begin[b], begin[b + 1])
};

constexpr Prefix MakePrefix(const PrefixRule& rule) {
  Prefix p;
  for (size_t i = 0; i < rule.bytes.size() && i < 8; ++i) {
    const uint64_t m = i < rule.mask.size() ? static_cast<uint8_t>(rule.mask[i]) : 0xFF;
    p.mask |= m << (8 * i);
    p.value |= (static_cast<uint8_t>(rule.bytes[i]) & m) << (8 * i);
  }
  return p;
}

constexpr PrefixTable MakePrefixTable() {
  PrefixTable t;
  size_t n = 0;
  for (int b = 0; b < 256; ++b) {
    t.begin[b] = static_cast<uint8_t>(n);
    for (const PrefixRule& rule : kPrefixRules)
      if (static_cast<uint8_t>(rule.bytes[0]) == b) t.prefixes[n++] = MakePrefix(rule);
  }
  t.begin[256] = static_cast<uint8_t>(n);
  return t;
}

constexpr PrefixTable kPrefixTable = MakePrefixTable();
static_assert(kPrefixTable.begin[256] == kRuleCount);

constexpr uint8_t kTransportSync = 0x47;
constexpr size_t kTransportPacket = 188;
constexpr uint32_t kFtyp = 0x70797466;               // "ftyp" at 4: mp4, 3gp, QuickTime
constexpr uint32_t kContentTypesStart = 0x6E6F435B;  // "[Con" at 31: Open XML part name
// Bytes 8-15 of a BDAV stream's first packet (program association table).
constexpr uint64_t kMtsTable = 0x00C1000011B00000;

// Rows whose signature does not sit at byte 0, and the transport stream,
// whose test looks at every 188th byte.
inline bool MayStartOffsetSignature(const uint8_t* data) {
  if (Load32(data + 4) == kFtyp || Load64(data + 8) == kMtsTable ||
      Load32(data + 31) == kContentTypesStart)
    return true;
  return data[0] == kTransportSync && (data[1] | data[2] | data[3]) != 0 &&
         data[kTransportPacket] == kTransportSync && data[2 * kTransportPacket] == kTransportSync;
}

// The prefixes above were read off these tests of the catalogue. A row
// with any other test (a format added later) is not turned away by them:
// a sector at one of its first bytes goes to the catalogue, and a row at no
// fixed first byte makes every sector go there, so that the pre-check never
// hides a match.
struct CatalogueCoverage {
  std::array<bool, 256> uncoveredFirstByte{};
  bool uncoveredOffsetRow = false;
};

CatalogueCoverage CheckCoverage() {
  using namespace sig;
  const SignatureTest covered[] = {
      mpeg_test,    mp4_test, rmvb_test, wmv_test,    swf_test, avi_test, flv_test,
      threegp_test, mkv_test, ts_test,   mts_test,    mxf_test, mp3_test, mid_test,
      ape_test,     wav_test, mov_test,  mp2_test,    mmf_test, fla_test, gif_test,
      bmp_test,     jpg_test, png_test,  psd_test,    tif_test, ico_test, doc_test,
      docx_test,    pdf_test, gz_test,   sevenz_test, zip_test, rar_test, cab_test,
      exe_test,     gho_test, db_test,   dbx_test,    pst_test, ttf_test};
  CatalogueCoverage coverage;
  for (const SignatureEntry& row : SignatureTable()) {
    if (std::find(std::begin(covered), std::end(covered), row.test) != std::end(covered)) continue;
    if (row.firstBytes.empty()) coverage.uncoveredOffsetRow = true;
    for (char c : row.firstBytes) coverage.uncoveredFirstByte[static_cast<uint8_t>(c)] = true;
  }
  return coverage;
}

const CatalogueCoverage kCoverage = CheckCoverage();

inline bool MayStartAtFirstByte(const uint8_t* data) {
  const uint8_t first = data[0];
  if (kCoverage.uncoveredFirstByte[first]) return true;
  const unsigned end = kPrefixTable.begin[first + 1];
  const uint64_t head = Load64(data);
  for (unsigned i = kPrefixTable.begin[first]; i < end; ++i)
    if ((head & kPrefixTable.prefixes[i].mask) == kPrefixTable.prefixes[i].value) return true;
  return false;
}

// A FAT folder's first sector: "." and ".." made together, so with the same
// creation and write times.
bool IsDotClusterWithEqualTimes(const uint8_t* data) {
  if (!IsDotClusterStart(data, data + kFatEntryBytes)) return false;
  const uint8_t* dotDot = data + kFatEntryBytes;
  return std::memcmp(data + 14, dotDot + 14, 4) == 0 &&  // creation time and date
         std::memcmp(data + 22, dotDot + 22, 4) == 0;    // write time and date
}

// Bytes no short name holds, live or deleted: controls, lower-case letters
// and the characters FAT forbids.
constexpr std::array<bool, 256> MakeForbiddenNameBytes() {
  std::array<bool, 256> forbidden{};
  for (int b = 0; b < 0x20; ++b) forbidden[b] = true;
  for (int b = 'a'; b <= 'z'; ++b) forbidden[b] = true;
  for (char c : "\"*.:<>?\\|"sv) forbidden[static_cast<uint8_t>(c)] = true;
  return forbidden;
}
constexpr std::array<bool, 256> kForbiddenNameByte = MakeForbiddenNameBytes();

// Cheap necessary condition of IsDirectorySector for a block of 64 bytes or
// more: the first entry is not the end mark and is plausible. A plausible
// entry is a "."/".." pair, a volume label, a long-name entry, or a short
// entry with attributes below 0x40 holding 0x10 or 0x20 (not a read-only
// directory) whose 11 name bytes are all allowed.
inline bool MayBeDirectorySector(const uint8_t* data) {
  if (data[0] == 0) return false;
  if (data[0] == '.') return true;
  const uint8_t attr = data[11];
  if (attr == fatattr::kVolumeLabel || attr == fatattr::kLongName) return true;
  if (attr >= 0x40 || (attr & (fatattr::kDirectory | fatattr::kArchive)) == 0) return false;
  if ((attr & fatattr::kDirectory) && (attr & fatattr::kReadOnly)) return false;
  for (int i = 0; i < 11; ++i)
    if (kForbiddenNameByte[data[i]]) return false;
  return true;
}

constexpr uint32_t kFileSignature = 0x454C4946;  // "FILE"
constexpr uint16_t kRecordIsDirectory = 0x0002;

}  // namespace

bool MayStartKnownFile(const uint8_t* data, size_t length) {
  // Every test of the table needs at least one byte; the offset checks below
  // need the 512 bytes the callers promise. A shorter block is not turned
  // away: only the catalogue can say.
  if (length < 512 || kCoverage.uncoveredOffsetRow) return length > 0;
  return MayStartAtFirstByte(data) || MayStartOffsetSignature(data);
}

DeepSectorKind ClassifyDeepSector(const uint8_t* data, uint32_t sectorSize) {
  if (sectorSize < 512) {
    if (sectorSize >= 2 * kFatEntryBytes && IsDotClusterWithEqualTimes(data))
      return DeepSectorKind::kDotCluster;
    if (sectorSize > 0 && IsDirectorySector(data, sectorSize)) return DeepSectorKind::kDirectory;
    return MayStartKnownFile(data, sectorSize) ? DeepSectorKind::kCarveCandidate
                                               : DeepSectorKind::kNothing;
  }
  if (Load32(data) == kFileSignature &&
      ntfs::IsFileRecordCandidate(ntfs::Bytes(data, sectorSize), sectorSize)) {
    uint16_t flags;
    std::memcpy(&flags, data + 22, sizeof flags);
    return (flags & kRecordIsDirectory) ? DeepSectorKind::kDirectoryRecord
                                        : DeepSectorKind::kFileRecord;
  }
  if (data[0] == '.' && IsDotClusterWithEqualTimes(data)) return DeepSectorKind::kDotCluster;
  if (MayBeDirectorySector(data) && IsDirectorySector(data, sectorSize))
    return DeepSectorKind::kDirectory;
  return MayStartKnownFile(data, sectorSize) ? DeepSectorKind::kCarveCandidate
                                             : DeepSectorKind::kNothing;
}

}  // namespace qm
