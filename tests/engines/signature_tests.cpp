// Signature catalogue: every row's test on hand-built fixtures, the order in
// which rows win, and the content check of compound files.
//
// Each fixture is the start of a file. It is stored at sector 1 of a small
// image (sector 0 is the sector "before" the candidate) so that tests making
// extra reads go through a real SectorSource.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_source.h"
#include "engines/signatures/signature_catalogue.h"
#include "support/test_support.h"

namespace qm {
namespace {

using namespace std::literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSector = 512;

// A zero-filled buffer with little helpers to lay out header fields.
struct Fixture {
  Bytes b;
  explicit Fixture(size_t size) : b(size, 0) {}
  explicit Fixture(Bytes bytes) : b(std::move(bytes)) {}
  Fixture& put(size_t at, std::string_view s) {
    if (s.empty()) return *this;
    if (b.size() < at + s.size()) b.resize(at + s.size());
    std::memcpy(b.data() + at, s.data(), s.size());
    return *this;
  }
  Fixture& le16(size_t at, uint16_t v) { return put(at, {reinterpret_cast<char*>(&v), 2}); }
  Fixture& le32(size_t at, uint32_t v) { return put(at, {reinterpret_cast<char*>(&v), 4}); }
  Fixture& be16(size_t at, uint16_t v) {
    const char s[2] = {char(v >> 8), char(v)};
    return put(at, {s, 2});
  }
  Fixture& be32(size_t at, uint32_t v) {
    const char s[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return put(at, {s, 4});
  }
  operator Bytes() const { return b; }
};

// An image: the "before" sector, then the file, padded with zeros to at
// least 24 sectors after the start so every extra read of a test fits.
class Image {
 public:
  Image(const test::TempDir& dir, const std::string& name, const Bytes& file,
        const Bytes& before = {}) {
    std::string bytes(before.begin(), before.begin() + std::min<size_t>(before.size(), kSector));
    bytes.resize(kSector, '\0');
    bytes.append(file.begin(), file.end());
    const size_t minimum = 25 * kSector;
    bytes.resize(std::max(minimum, (bytes.size() + kSector - 1) / kSector * kSector), '\0');
    path_ = dir / (name + ".img");
    test::WriteBytes(path_, bytes);
    EXPECT_EQ(source_.OpenImageSource(path_), 0);
  }
  void Attach(SignatureScanContext& context) const {
    context.source = &source_;
    context.sectorSize = kSector;
    context.startSector = 1;
    context.currentSector = 1;
  }

 private:
  std::filesystem::path path_;
  SectorSource source_;
};

// The first sector of a file, as a quick scan hands it to the catalogue.
Bytes FirstSector(const Bytes& file) {
  Bytes sector(kSector, 0);
  std::memcpy(sector.data(), file.data(), std::min<size_t>(file.size(), kSector));
  return sector;
}

const SignatureEntry& RowOf(std::string_view ext) {
  for (const SignatureEntry& e : SignatureTable())
    if (e.extension == ext) return e;
  ADD_FAILURE() << "no row " << ext;
  return SignatureTable().front();
}

// ---- fixtures of the formats that need more than a few bytes ----

Bytes TransportStream(size_t packets, size_t brokenPacket = SIZE_MAX) {
  Bytes ts(packets * 188, 0xFF);
  for (size_t i = 0; i < packets; ++i) {
    ts[i * 188] = i == brokenPacket ? 0x00 : 0x47;
    ts[i * 188 + 1] = 0x40;
    ts[i * 188 + 2] = 0x11;
    ts[i * 188 + 3] = 0x10;
  }
  return ts;
}

Bytes PeHeader(uint16_t characteristics, uint32_t peOffset = 0x80) {
  Fixture f(512);
  f.put(0, "MZ").le32(60, peOffset);
  if (uint64_t{peOffset} + 24 <= 512) f.put(peOffset, "PE\0\0"sv).le16(peOffset + 4, 0x14C).le16(peOffset + 22, characteristics);
  return f;
}

// An icon directory with images of the given sizes stored back to back.
Fixture Icon(const std::vector<uint32_t>& sizes) {
  Fixture f(64);
  f.le16(2, 1).le16(4, static_cast<uint16_t>(sizes.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    const size_t e = 6 + 16 * i;
    f.put(e, "\x20\x20\x00\x00"sv).le16(e + 4, 1).le16(e + 6, 32).le32(e + 8, sizes[i]).le32(e + 12, offset);
    offset += sizes[i];
  }
  return f;
}

// A TrueType offset table with three table records; `after` is the dword
// right after the records.
Fixture Font(uint16_t searchRange = 32, uint32_t after = 0x00010000, uint16_t numTables = 3) {
  Fixture f(64);
  f.be32(0, 0x00010000).be16(4, numTables).be16(6, searchRange).be16(8, 1).be16(10, 16);
  for (int i = 0; i < 3; ++i) f.put(12 + 16 * i, i == 0 ? "head" : i == 1 ? "hhea" : "maxp");
  f.be32(60, after);
  return f;
}

struct CompoundOptions {
  std::string_view firstStream = {};  // bytes at compound sector 0 (file offset 512)
  uint32_t classId0 = 0;         // root entry class id, first dword
  bool officeTail = true;        // ... with the C0...46 tail of the Office ids
  std::string_view streamName = {};   // name of directory entry 1
  uint32_t directorySector = 2;
  uint16_t sectorShift = 9;
};

void PutUtf16(Fixture& f, size_t at, std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) f.b[at + 2 * i] = static_cast<uint8_t>(name[i]);
  f.le16(at + 64, static_cast<uint16_t>((name.size() + 1) * 2));
}

// A compound file: header, a first stream sector, the directory sector.
Bytes CompoundFile(const CompoundOptions& o) {
  const size_t sector = size_t{1} << o.sectorShift;
  const size_t directoryAt = (size_t{o.directorySector} + 1) * sector;
  Fixture f(std::min<size_t>(directoryAt + sector, 64 * 1024));
  f.put(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv).le16(24, 0x3E).le16(26, o.sectorShift == 12 ? 4 : 3);
  f.le16(28, 0xFFFE).le16(30, o.sectorShift).le16(32, 6).le32(48, o.directorySector);
  f.put(sector, o.firstStream);
  if (directoryAt + sector <= f.b.size()) {
    PutUtf16(f, directoryAt, "Root Entry");
    f.b[directoryAt + 66] = 5;
    f.le32(directoryAt + 80, o.classId0);
    if (o.officeTail) f.le32(directoryAt + 88, 0xC0).le32(directoryAt + 92, 0x46000000);
    if (!o.streamName.empty()) {
      PutUtf16(f, directoryAt + 128, o.streamName);
      f.b[directoryAt + 128 + 66] = 2;
    }
  }
  return f;
}

const Bytes kWordFib = Fixture(8).put(0, "\xEC\xA5\xC1\x00"sv);
const Bytes kExcelBof = Fixture(8).put(0, "\x09\x08\x10\x00\x00\x06\x05\x00"sv);

// ---- the table of cases ----

struct Case {
  std::string name;
  std::string_view row;   // extension whose row's test runs
  Bytes file;             // the start of the file at the candidate sector
  int expect;             // that test's answer on the first sector
  int identifyAs;         // IdentifyType's answer (rows earlier in the table win)
  size_t minLen = 0;      // shortest prefix the test matches; 0: no truncation check
  std::function<void(SignatureScanContext&)> setup = {};
  Bytes before = {};      // the sector before the candidate
};

std::vector<Case> Cases() {
  const Bytes ts = TransportStream(30);
  const Bytes word = CompoundFile({.firstStream = {reinterpret_cast<const char*>(kWordFib.data()), 4}});
  Bytes tsTail(kSector, 0);
  tsTail[kSector - 188] = 0x47;
  return {
      // Video
      {"mpeg program stream", "mpeg", Fixture(64).put(0, "\0\0\x01\xBA"sv).put(14, "\0\0\x01\xBB"sv), 15, 15, 18},
      {"mpeg elementary stream", "mpg", Fixture(64).put(0, "\0\0\x01\xB3"sv).put(12, "\0\0\x01\xB8"sv), 15, 15, 16},
      {"mpeg without system header", "mpeg", Fixture(64).put(0, "\0\0\x01\xBA"sv).put(40, "\0\0\x01\xBB"sv), 49, 49},
      {"mp4 isom", "mp4", Fixture(64).be32(0, 32).put(4, "ftypisom"), 18, 18, 32},
      {"mp4 mp42", "mp4", Fixture(64).be32(0, 32).put(4, "ftypmp42"), 18, 18, 32},
      {"realmedia", "rmvb", Fixture(32).put(0, ".RMF"), 23, 23, 4},
      {"asf", "wmv", Fixture(32).put(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv), 24, 24, 24},
      {"swf plain", "swf", Fixture(16).put(0, "FWS\x05"), 26, 26, 8},
      {"swf compressed", "swf", Fixture(16).put(0, "CWS\x0A"), 26, 26, 8},
      {"swf compressed too old", "swf", Fixture(16).put(0, "CWS\x05"), 49, 49},
      {"swf plain too new", "swf", Fixture(16).put(0, "FWS\x06"), 49, 49},
      {"avi", "avi", Fixture(32).put(0, "RIFF\x10\0\0\0AVI LIST"sv), 22, 22, 16},
      {"flv", "flv", Fixture(32).put(0, "FLV\x01\x05\0\0\0\x09"sv), 27, 27, 16},
      {"3gp", "3gp", Fixture(64).be32(0, 20).put(4, "ftyp3gp4"), 16, 16, 32},
      {"mkv", "mkv", Fixture(32).put(0, "\x1A\x45\xDF\xA3"), 19, 19, 16},
      {"transport stream", "ts", ts, 20, 20, 188},
      {"ts with 21 packets in the probe", "ts", TransportStream(30, 21), 49, 49},
      {"ts all-zero header bytes", "ts", Fixture(TransportStream(30)).put(1, "\0\0\0"sv), 49, 49},
      {"ts continuing the sector before", "ts", ts, 49, 49, 0,
       [](SignatureScanContext& c) { c.transportStreamStart = true; }, tsTail},
      {"ts continuation ignored without start flag", "ts", ts, 20, 49, 0, {}, tsTail},
      {"ts inside a carved stream", "ts", ts, 49, 49, 0,
       [](SignatureScanContext& c) { c.carvedTransportStreams.push_back({0, 5}); }},
      {"mts", "mts", Fixture(32).put(4, "\x47\x40\x00\x10\0\0\xB0\x11\0\0\xC1\0"sv), 47, 47, 16},
      {"mts repeat after an mts start", "mts", Fixture(32).put(0, "\x01\x02\x03\x04\x47\x40\x00\x10\0\0\xB0\x11\0\0\xC1\0"sv), 49, 49, 0,
       [](SignatureScanContext& c) { c.previousWasMts = true; }},
      {"mts zero time code after an mts start", "mts", Fixture(32).put(4, "\x47\x40\x00\x10\0\0\xB0\x11\0\0\xC1\0"sv), 47, 47, 0,
       [](SignatureScanContext& c) { c.previousWasMts = true; }},
      {"mxf", "mxf", Fixture(32).put(0, "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00"sv), 48, 48, 16},
      {"mov moov", "mov", Fixture(32).put(0, "moov"), 17, 17, 16},
      {"mov ftyp qt", "mov", Fixture(32).be32(0, 20).put(4, "ftypqt  "), 17, 17, 16},
      // Audio
      {"mp3 id3", "mp3", Fixture(32).put(0, "ID3\x03\x00\x00\x00\x00\x10\x7F"sv), 12, 12, 10},
      {"mp3 undefined flag bits", "mp3", Fixture(32).put(0, "ID3\x03\x00\x01\x00\x00\x10\x7F"sv), 49, 49},
      {"mp3 size byte with top bit", "mp3", Fixture(32).put(0, "ID3\x03\x00\x00\x00\x80\x10\x7F"sv), 49, 49},
      {"midi", "mid", Fixture(32).put(0, "MThd").be32(4, 6).be16(8, 1).be16(10, 1).be16(12, 96).put(14, "MTrk"), 13, 13, 18},
      {"midi header length 7", "mid", Fixture(32).put(0, "MThd").be32(4, 7).put(14, "MTrk"), 49, 49},
      {"ape", "ape", Fixture(32).put(0, "MAC \x96\x0F"sv), 25, 25, 4},
      {"wav", "wav", Fixture(32).put(0, "RIFF\x24\0\0\0WAVEfmt "sv), 21, 21, 16},
      {"mp2", "mp2", Fixture(32).put(0, "\xFF\xFD\xE4\x00"sv), 11, 11, 4},
      {"mmf", "mmf", Fixture(32).put(0, "MMMD"), 14, 14, 4},
      // Pictures
      {"gif89a", "gif", Fixture(32).put(0, "GIF89a"), 31, 31, 8},
      {"gif upper-case sixth byte", "gif", Fixture(32).put(0, "GIF89A"), 49, 49},
      {"bmp", "bmp", Fixture(64).put(0, "BM").le32(2, 70).le32(10, 54).le32(14, 40), 29, 29, 40},
      {"bmp core header", "bmp", Fixture(64).put(0, "BM").le32(2, 70).le32(10, 26).le32(14, 12), 49, 49},
      {"jpg jfif", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\0"sv).put(20, "\xFF\xDB"sv), 10, 10, 6},
      {"jpg exif", "jpeg", Fixture(32).put(0, "\xFF\xD8\xFF\xE1\x1F\xFE" "Exif\0\0"sv), 10, 10, 6},
      {"jpg quantization table first", "jpg", Fixture(80).put(0, "\xFF\xD8\xFF\xDB\x00\x43"sv).put(71, "\xFF\xC0"sv), 10, 10, 6},
      {"jpg comment first", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xFE\x00\x05hi\x00\xFF\xDB"sv), 10, 10, 6},
      {"jpg adobe app14", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xEE\x00\x0E" "Adobe"sv).put(18, "\xFF\xDB"sv), 10, 10, 6},
      {"jpg huffman table first", "jpe", Fixture(32).put(0, "\xFF\xD8\xFF\xC4\x01\xA2"sv).put(4 + 0x1A2, "\xFF\xDB"sv), 10, 10, 6},
      {"jpg frame header first", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00\xFF\xC4"sv), 10, 10, 6},
      {"jpg quantization table too short", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xDB\x00\x10"sv), 49, 49},
      {"jpg segment length below its own size", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xE0\x00\x01"sv), 49, 49},
      {"jpg scan before any table", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xDA\x00\x08"sv), 49, 49},
      {"jpg arithmetic conditioning first", "jpg", Fixture(32).put(0, "\xFF\xD8\xFF\xCC\x00\x04"sv), 49, 49},
      {"png", "png", Fixture(32).put(0, "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"sv), 30, 30, 8},
      {"psd", "psd", Fixture(64).put(0, "8BPS\0\x01"sv), 28, 28, 40},
      {"tiff big-endian", "tif", Fixture(16).put(0, "MM\0\x2A"sv), 32, 32, 4},
      {"tiff little-endian", "tiff", Fixture(16).put(0, "II\x2A\0"sv), 32, 32, 4},
      {"ico one image", "ico", Icon({1128}), 46, 46, 22},
      {"ico two images", "ico", Icon({1128, 4264}), 46, 46, 38},
      {"ico gap between images", "ico", Icon({1128, 4264}).le32(6 + 16 + 12, 1128 + 38 + 2), 49, 49},
      {"ico reserved byte set", "ico", Icon({1128}).put(6 + 3, "\x01"sv), 49, 49},
      {"ico no images", "ico", Fixture(32).le16(2, 1), 49, 49},
      {"ico directory past the buffer", "ico", Icon({1128}).le16(4, 40), 49, 49},
      // Compound files: row 20 (fla) wins over the office rows in carving
      {"compound file as fla", "fla", word, 44, 44, 16},
      {"compound word document", "doc", word, 0, 44, 8},
      // Archives
      {"gzip", "gz", Fixture(32).put(0, "\x1F\x8B\x08\x08\0\0\0\0\x02\x03"sv), 36, 36, 16},
      {"gzip unknown os", "gzip", Fixture(32).put(0, "\x1F\x8B\x08\x00\0\0\0\0\x04\xFF"sv), 36, 36, 16},
      {"gzip with header crc flag", "gz", Fixture(32).put(0, "\x1F\x8B\x08\x02\0\0\0\0\x02\x03"sv), 49, 49},
      {"7z", "7z", Fixture(32).put(0, "7z\xBC\xAF\x27\x1C"sv), 34, 34, 5},
      {"zip of other files", "zip", Fixture(64).put(0, "PK\x03\x04\x14\0\0\0\0\0"sv).le16(26, 10).put(30, "random.txt"), 35, 35, 48},
      {"zip of other files is not docx", "docx", Fixture(64).put(0, "PK\x03\x04\x14\0\0\0\0\0"sv).le16(26, 10).put(30, "random.txt"), 49, 35},
      {"rar 4", "rar", Fixture(32).put(0, "Rar!\x1A\x07\x00\xCF\x90\x73"sv), 37, 37, 7},
      {"rar 5", "rar", Fixture(32).put(0, "Rar!\x1A\x07\x01\x00"sv), 49, 49},
      {"cab", "cab", Fixture(64).put(0, "MSCF").le32(8, 4096), 33, 33, 36},
      // Executables
      {"pe program", "exe", PeHeader(0x0102), 41, 41, 512},
      {"pe library", "dll", PeHeader(0x2102), 42, 42, 512},
      {"pe driver", "sys", PeHeader(0x1102), 43, 43, 512},
      {"pe driver flagged as library too", "sys", PeHeader(0x3102), 43, 43, 512},
      {"pe not an executable image", "exe", PeHeader(0x2100), 49, 49},
      {"pe header at the last allowed offset", "exe", PeHeader(0x0102, 488), 41, 41, 512},
      {"pe header past the first sector", "exe", Fixture(PeHeader(0x0102, 489)).put(489, "PE\0\0"sv), 49, 49},
      {"pe offset far outside", "exe", PeHeader(0x0102, 0xFFFFFFF0u), 49, 49},
      // Others
      {"pdf", "pdf", Fixture(16).put(0, "%PDF-1.7"), 8, 8, 5},
      {"ghost image", "gho", Fixture(16).put(0, "\xFE\xEF\x00\x00\x01"sv), 9, 9, 4},
      {"sqlite", "db", Fixture(32).put(0, "SQLite format 3\0"sv), 39, 39, 16},
      {"outlook express", "dbx", Fixture(32).put(0, "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F"sv), 40, 40, 16},
      {"pst", "pst", Fixture(32).put(0, "!BDN").put(8, "SM"), 38, 38, 16},
      {"ttf", "ttf", Font(), 45, 45, 64},
      {"ttf zero search range", "ttf", Font(0), 49, 49},
      {"ttf other dword after records", "ttf", Font(32, 0x00000001), 49, 49},
      {"ttf records past the buffer", "ttf", Font(32, 0x00010000, 40), 49, 49},
  };
}

// Every row: the answer of its test, of the content check for its extension
// and of IdentifyType; then every shorter prefix of the bytes, each in an
// allocation of exactly that size so that a read past it trips the
// address sanitizer.
TEST(SignatureCatalogue, RowTestsOnFixtures) {
  test::TempDir dir;
  int n = 0;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Image image(dir, "case" + std::to_string(n++), c.file, c.before);
    const SignatureEntry& row = RowOf(c.row);
    const Bytes sector = FirstSector(c.file);

    SignatureScanContext context;
    image.Attach(context);
    if (c.setup) c.setup(context);
    EXPECT_EQ(row.test(sector.data(), sector.size(), context), c.expect);
    EXPECT_EQ(CheckContentByExtension(sector.data(), sector.size(), c.row, context),
              c.expect == row.typeId ? 1 : 0);

    SignatureScanContext fresh;
    image.Attach(fresh);
    if (c.setup) c.setup(fresh);
    EXPECT_EQ(IdentifyType(sector.data(), sector.size(), fresh), c.identifyAs);

    if (c.minLen == 0) continue;
    for (size_t len = 0; len <= c.minLen; ++len) {
      auto prefix = std::make_unique<uint8_t[]>(len);
      std::copy_n(sector.begin(), len, prefix.get());
      SignatureScanContext cut;
      image.Attach(cut);
      const int result = row.test(prefix.get(), len, cut);
      if (len < c.minLen)
        EXPECT_EQ(result, kNoSignatureMatch) << "prefix of " << len << " bytes";
      else
        EXPECT_NE(result, kNoSignatureMatch) << "prefix of " << len << " bytes";
      IdentifyType(prefix.get(), len, cut);
    }
  }
}

TEST(SignatureCatalogue, TableOrderAndNames) {
  const std::vector<SignatureEntry>& table = SignatureTable();
  ASSERT_EQ(table.size(), 87u);
  EXPECT_EQ(table.front().extension, "mpeg");
  EXPECT_EQ(table.back().extension, "ico");
  auto rowOf = [&](std::string_view ext) {
    for (size_t i = 0; i < table.size(); ++i)
      if (table[i].extension == ext) return i;
    return table.size();
  };
  EXPECT_LT(rowOf("fla"), rowOf("doc"));
  EXPECT_LT(rowOf("mso07"), rowOf("zip"));
  // The first row of a type id names carved files of that type.
  EXPECT_EQ(ExtensionOfType(15), "mpeg");
  EXPECT_EQ(ExtensionOfType(10), "jpg");
  EXPECT_EQ(ExtensionOfType(3), "xls");
  EXPECT_EQ(ExtensionOfType(4), "xlsx");
  EXPECT_EQ(ExtensionOfType(44), "fla");
  EXPECT_EQ(ExtensionOfType(kNoSignatureMatch), "");
  for (const SignatureEntry& e : table) {
    EXPECT_NE(e.test, nullptr) << e.extension;
    EXPECT_NE(e.typeId, kNoSignatureMatch) << e.extension;
  }
}

// IdentifyType keeps the transport-stream-start flag only after a transport
// stream and remembers an MTS start for the next identification.
TEST(SignatureCatalogue, IdentifyTypeFlags) {
  test::TempDir dir;
  const Bytes mts = Fixture(32).put(0, "\x01\x02\x03\x04\x47\x40\x00\x10\0\0\xB0\x11\0\0\xC1\0"sv);
  const Image image(dir, "mts", mts);
  SignatureScanContext context;
  image.Attach(context);
  const Bytes sector = FirstSector(mts);
  EXPECT_EQ(IdentifyType(sector.data(), sector.size(), context), 47);
  EXPECT_TRUE(context.previousWasMts);
  EXPECT_FALSE(context.transportStreamStart);
  EXPECT_EQ(IdentifyType(sector.data(), sector.size(), context), kNoSignatureMatch);
  EXPECT_FALSE(context.previousWasMts);

  const Bytes ts = TransportStream(30);
  const Image tsImage(dir, "ts", ts);
  tsImage.Attach(context);
  const Bytes tsSector = FirstSector(ts);
  EXPECT_EQ(IdentifyType(tsSector.data(), tsSector.size(), context), 20);
  EXPECT_TRUE(context.transportStreamStart);
}

// The content check of compound files: the extension's type must be the one
// the compound-file test finds through its extra reads.
TEST(SignatureContentCheck, CompoundFiles) {
  struct CompoundCase {
    std::string name;
    Bytes file;
    std::string_view passes;                 // an extension that passes
    std::vector<std::string_view> fails;     // extensions that do not
  };
  const std::string_view fib{reinterpret_cast<const char*>(kWordFib.data()), 4};
  const std::string_view bof{reinterpret_cast<const char*>(kExcelBof.data()), 6};
  const std::vector<CompoundCase> cases = {
      {"word by its first stream", CompoundFile({.firstStream = fib}), "DOC", {"xls", "ppt", "ole"}},
      {"excel by its first stream", CompoundFile({.firstStream = bof}), "xls", {"doc", "ppt"}},
      {"word by root class id", CompoundFile({.classId0 = 0x00020906}), "dot", {"xls", "ole"}},
      {"excel 97 by root class id", CompoundFile({.classId0 = 0x00020820}), "xlt", {"doc"}},
      {"excel 5 by root class id", CompoundFile({.classId0 = 0x00020810}), "et", {"doc"}},
      {"class id without the office tail", CompoundFile({.classId0 = 0x00020906, .officeTail = false}), "ole", {"doc"}},
      {"powerpoint by stream name", CompoundFile({.streamName = "PowerPoint Document"}), "pps", {"doc", "xls"}},
      {"word by stream name, other case", CompoundFile({.streamName = "worddocument"}), "wps", {"ppt"}},
      {"excel by stream name", CompoundFile({.streamName = "Workbook"}), "xls", {"doc"}},
      {"stream name as a prefix only", CompoundFile({.streamName = "WordDocumentX"}), "ole", {"doc"}},
      {"nothing known", CompoundFile({.streamName = "Contents"}), "ole", {"doc", "xls", "ppt"}},
      {"directory sector outside the image", CompoundFile({.directorySector = 0x7FFFFFF0}), "ole", {"doc"}},
      {"4096-byte compound sectors", CompoundFile({.firstStream = fib, .directorySector = 1, .sectorShift = 12}), "doc", {"ole"}},
  };
  test::TempDir dir;
  int n = 0;
  for (const CompoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Image image(dir, "cf" + std::to_string(n++), c.file);
    const Bytes sector = FirstSector(c.file);
    SignatureScanContext context;
    image.Attach(context);
    EXPECT_EQ(CheckContentByExtension(sector.data(), sector.size(), c.passes, context), 1);
    for (std::string_view ext : c.fails)
      EXPECT_EQ(CheckContentByExtension(sector.data(), sector.size(), ext, context), 0) << ext;
  }
}

// A picture under another picture format's extension still holds a picture;
// text or another kind of file under a picture extension does not.
TEST(SignatureContentCheck, PicturesUnderAnotherPictureExtension) {
  const Bytes png = FirstSector(Fixture(32).put(0, "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"sv));
  const Bytes jpeg = FirstSector(Fixture(32).put(0, "\xFF\xD8\xFF\xDB\x00\x43"sv).put(71, "\xFF\xC0"sv));
  const Bytes text = FirstSector(Fixture(Bytes(kSector, 'a')).put(0, "Dear Sir,\n"));
  const Bytes pdf = FirstSector(Fixture(16).put(0, "%PDF-1.7"));
  const struct {
    const char* name;
    const Bytes& sector;
    std::string_view extension;
    int expect;
  } cases[] = {
      {"png named ico", png, "ico", 1},   {"jpeg named png", jpeg, "png", 1},
      {"png named jpg", png, "JPG", 1},   {"text named jpg", text, "jpg", 0},
      {"text named ico", text, "ico", 0}, {"pdf named gif", pdf, "gif", 0},
      {"png named pdf", png, "pdf", 0},   {"jpeg named doc", jpeg, "doc", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SignatureScanContext context;
    EXPECT_EQ(CheckContentByExtension(c.sector.data(), c.sector.size(), c.extension, context), c.expect);
  }
}

// Extensions the table does not know pass; without a source the compound
// test cannot look further and answers with the generic type.
TEST(SignatureContentCheck, UnknownExtensionsAndMissingSource) {
  const Bytes junk(kSector, 0xA7);
  SignatureScanContext context;
  EXPECT_EQ(CheckContentByExtension(junk.data(), junk.size(), "xyz", context), 1);
  EXPECT_EQ(CheckContentByExtension(junk.data(), junk.size(), "", context), 1);
  EXPECT_EQ(CheckContentByExtension(junk.data(), junk.size(), "jpg", context), 0);

  const Bytes word = FirstSector(CompoundFile({.classId0 = 0x00020906}));
  EXPECT_EQ(CheckContentByExtension(word.data(), word.size(), "doc", context), 0);
  EXPECT_EQ(CheckContentByExtension(word.data(), word.size(), "ole", context), 1);
}

// A disk with 4096-byte sectors holds a 512-byte-sector compound file: the
// stream after the header lies inside the first disk sector.
TEST(SignatureContentCheck, CompoundFileOnLargeSectors) {
  test::TempDir dir;
  const std::string_view fib{reinterpret_cast<const char*>(kWordFib.data()), 4};
  Bytes file = CompoundFile({.firstStream = fib});
  file.resize(8 * 4096, 0);
  const auto path = dir / "large-sectors.img";
  test::WriteBytes(path, std::string(file.begin(), file.end()));
  SectorSource source;
  ASSERT_EQ(source.OpenImageSource(path), 0);
  SignatureScanContext context;
  context.source = &source;
  context.sectorSize = 4096;
  context.startSector = 0;
  const Bytes first(file.begin(), file.begin() + 4096);
  EXPECT_EQ(CheckContentByExtension(first.data(), first.size(), "doc", context), 1);
}

}  // namespace
}  // namespace qm
