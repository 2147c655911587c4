// Identification and sizing of carved files: each file is made at test time
// (real files from Pillow and zip, hand-built ones where no tool writes the
// format), laid at a sector of a raw image between random sectors, and
// IdentifyAt must name it after its start sector and measure it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_source.h"
#include "engines/signatures/signature_catalogue.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qm {
namespace {

using namespace std::literals;

constexpr uint32_t kSector = 512;
constexpr uint64_t kStart = 7;  // sector at which every file is laid

std::string Le32(uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string Be16(uint16_t v) { return {char(v >> 8), char(v)}; }
std::string Le16(uint16_t v) { return {char(v), char(v >> 8)}; }
std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// Random sectors that never start a file: no byte is 0x47, so no transport
// stream packet can be taken for one.
std::string RandomSectors(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(count * kSector, '\0');
  for (char& c : s) {
    c = static_cast<char>(rng() & 0xFF);
    if (c == 0x47) c = 0x48;
  }
  return s;
}

// An NTFS file record sector: the stop check ends a file before it.
std::string FileRecordSector() {
  std::string s = "FILE0\x00\x03\x00"s;
  s.resize(kSector, '\x11');
  return s;
}

std::string PadToSector(std::string bytes) {
  bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, '\0');
  return bytes;
}

// The image: random sectors, the file (its last sector's slack zeroed), an
// optional stopping sector, random sectors.
struct Carve {
  int rc = 0;
  SignatureHit hit;
};

Carve CarveAt(const test::TempDir& dir, const std::string& file, bool stopAfter,
              SignatureScanContext& context, size_t trailingSectors = 16) {
  std::string image = RandomSectors(kStart, 1);
  image += PadToSector(file);
  if (stopAfter) image += FileRecordSector();
  image += RandomSectors(trailingSectors, 2);
  const auto path = dir / "image.raw";
  test::WriteBytes(path, image);
  SectorSource source;
  EXPECT_EQ(source.OpenImageSource(path), 0);
  context.source = &source;
  context.sectorSize = kSector;
  context.startSector = kStart;
  context.currentSector = kStart;
  const uint8_t* first = reinterpret_cast<const uint8_t*>(image.data()) + kStart * kSector;
  Carve carve;
  carve.rc = IdentifyAt(first, kSector, context, carve.hit);
  context.source = nullptr;
  return carve;
}

// Files written by Pillow (python3-pil), keyed by format.
std::string PillowFile(const test::TempDir& dir, const std::string& format,
                       const std::string& extra = "") {
  const auto out = dir / ("pillow." + format);
  const std::string script =
      "import random\n"
      "from PIL import Image\n"
      "random.seed(5)\n"
      "im = Image.new('RGB', (96, 80))\n"
      "im.putdata([(random.randrange(256), random.randrange(256), random.randrange(256))"
      " for _ in range(96 * 80)])\n"
      "im.save(" + test::Quote(out.string()) + ", '" + format + "'" + extra + ")\n";
  const auto py = dir / "make.py";
  test::WriteBytes(py, script);
  std::string output;
  EXPECT_EQ(test::Run("/usr/bin/python3 " + test::Quote(py.string()), &output), 0) << output;
  return test::ReadBytes(out);
}

struct Case {
  std::string name;
  std::string extension;
  std::function<std::string(const test::TempDir&)> make;
  // The size the carved file must have, from the file's bytes: its length,
  // or where the format's rule puts the end.
  std::function<uint64_t(const std::string&)> expected;
  bool stopAfter = false;
};

uint64_t WholeFile(const std::string& file) { return file.size(); }

// A RIFF file's own length field counts the header after its first 8 bytes.
std::string HandBuiltAvi() {
  std::string body = "AVI LIST"s + Le32(4 + 2000) + "hdrl" + test::MakeContent(2000, 3);
  return "RIFF"s + Le32(static_cast<uint32_t>(body.size())) + body;
}

std::string HandBuiltWav() {
  std::string body = "WAVEfmt "s + Le32(16) + "\x01\x00\x01\x00"s + Le32(8000) + Le32(16000) +
                     "\x02\x00\x10\x00"s + "data" + Le32(3000) + test::MakeContent(3000, 4);
  return "RIFF"s + Le32(static_cast<uint32_t>(body.size())) + body;
}

// An uncompressed Flash movie: "FWS", version, total length.
std::string HandBuiltSwf() { return "FWS\x05"s + Le32(1500) + test::MakeContent(1492, 5); }

// An ASF header object holding a file properties object, whose file size
// (at +40) gives the length; the broadcast flag (at +88) is clear.
std::string HandBuiltAsf() {
  const std::string header = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"s;
  const std::string properties =
      "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"s;
  std::string f = header + Le32(134) + Le32(0) + Le32(1) + "\x01\x02"s;
  f += properties + Le32(104) + Le32(0) + std::string(16, '\x09') + Le32(2400) + Le32(0);
  f += std::string(40, '\x00') + Le32(0) + Le32(3200) + Le32(3200) + Le32(128000);
  return f + test::MakeContent(2400 - f.size(), 12);
}

// A cabinet header: "MSCF", reserved, cbCabinet.
std::string HandBuiltCab() {
  std::string f = "MSCF"s + Le32(0) + Le32(2100) + Le32(0) + Le32(44) + Le32(0);
  f += "\x03\x01\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00"s;
  return f + test::MakeContent(2100 - f.size(), 6);
}

// A TrueType table directory of two tables; the second reaches furthest.
std::string HandBuiltTtf() {
  std::string f = "\x00\x01\x00\x00"s + Be16(2) + Be16(32) + Be16(1) + Be16(16);
  f += "cmap"s + Be32(0) + Be32(44) + Be32(4);
  f += "glyf"s + Be32(0) + Be32(48) + Be32(1900);
  f += "\x00\x01\x00\x00"s;  // first table data
  f += test::MakeContent(1948 - f.size(), 7);
  return f;
}

// RAR 1.5-4.x: marker block, archive header, data, end-of-archive block.
std::string HandBuiltRar4() {
  return "Rar!\x1A\x07\x00"s + "\xCF\x90\x73\x00\x00\x0D\x00\x00\x00\x00\x00\x00\x00"s +
         test::MakeContent(1700, 8) + "\xC4\x3D\x7B\x00\x40\x07\x00"s;
}

// 7z: the signature header, packed data, and the encoded header whose tail
// the size finder looks for, 27 bytes from the archive's end.
std::string HandBuilt7z() {
  return "7z\xBC\xAF\x27\x1C\x00\x04"s + test::MakeContent(2500, 9) +
         "\x00\x07\x0B\x01\x00\x01\x23\x03\x01\x01\x05\x5D"s + test::MakeContent(15, 10);
}

// A format-0 MIDI file with two tracks of different lengths.
std::string HandBuiltMidi() {
  std::string f = "MThd"s + Be32(6) + Be16(1) + Be16(2) + Be16(96);
  for (uint32_t length : {900u, 1300u}) f += "MTrk"s + Be32(length) + std::string(length, '\x40');
  return f;
}

// ID3v2 header, frames (no "TAG" in them), ID3v1 tag.
std::string HandBuiltMp3() {
  return "ID3\x03\x00\x00\x00\x00\x00\x0A"s + std::string(10, '\0') +
         std::string(3000, '\x55') + "TAG" + std::string(125, 'x');
}

// Monkey's Audio with an APEv2 tag: header, items, footer.
std::string HandBuiltApe() {
  const std::string tag = "APETAGEX\xD0\x07\x00\x00"s + std::string(20, '\x01');
  return "MAC \x96\x0F\x00\x00"s + std::string(2600, '\x33') + tag + std::string(40, 'i') + tag;
}

// An MP4 whose last box is the muxer's free box with its text.
std::string HandBuiltMp4() {
  return "\x00\x00\x00\x20" "ftypisom\x00\x00\x02\x00isomiso2avc1mp41"s +
         std::string(2200, '\x21') + "\x00\x00\x00\x30" "freeIsoMedia File Produced by test"s;
}

// An MPEG program stream: pack header, system header, data, end code.
std::string HandBuiltMpeg() {
  std::string f = "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8"s;
  f += "\x00\x00\x01\xBB\x00\x0C"s;
  f += std::string(2400, '\x22');
  return f + "\x00\x00\x01\xB9"s;
}

// RealMedia: ".RMF" header, data, and an empty index chunk at the end.
std::string HandBuiltRm() {
  return ".RMF\x00\x00\x00\x12\x00\x00"s + std::string(1900, '\x5A') +
         "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00"s;
}

// 40 transport stream packets.
std::string HandBuiltTs() {
  std::string f;
  for (int i = 0; i < 40; ++i) f += "\x47\x40\x11\x10"s + std::string(184, '\x0F');
  return f;
}

TEST(SignatureSizes, CarvedFilesKeepTheirLength) {
  if (!test::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const std::vector<Case> cases = {
      {"jpeg (Pillow)", "jpg", [](auto& d) { return PillowFile(d, "JPEG"); }, WholeFile},
      {"png (Pillow)", "png", [](auto& d) { return PillowFile(d, "PNG"); }, WholeFile},
      {"gif (Pillow)", "gif", [](auto& d) { return PillowFile(d, "GIF"); }, WholeFile},
      {"bmp (Pillow)", "bmp", [](auto& d) { return PillowFile(d, "BMP"); }, WholeFile},
      {"ico of two images (Pillow)", "ico",
       [](auto& d) { return PillowFile(d, "ICO", ", sizes=[(16, 16), (48, 48)]"); }, WholeFile},
      {"pdf (Pillow)", "pdf", [](auto& d) { return PillowFile(d, "PDF"); }, WholeFile},
      {"zip (zip)", "zip",
       [](const test::TempDir& d) {
         test::WriteBytes(d / "a.bin", test::MakeContent(5000, 11));
         test::WriteBytes(d / "b.txt", std::string(3000, 'b'));
         std::string output;
         EXPECT_EQ(test::Run("cd " + test::Quote(d.path().string()) +
                                 " && zip -q -X archive.zip a.bin b.txt",
                             &output),
                   0)
             << output;
         return test::ReadBytes(d / "archive.zip");
       },
       WholeFile},
      {"avi", "avi", [](auto&) { return HandBuiltAvi(); }, WholeFile},
      {"wav", "wav", [](auto&) { return HandBuiltWav(); }, WholeFile},
      {"swf", "swf", [](auto&) { return HandBuiltSwf(); }, WholeFile},
      {"cab", "cab", [](auto&) { return HandBuiltCab(); }, WholeFile},
      {"asf", "wmv", [](auto&) { return HandBuiltAsf(); }, WholeFile},
      {"ttf", "ttf", [](auto&) { return HandBuiltTtf(); }, WholeFile},
      {"rar 4", "rar", [](auto&) { return HandBuiltRar4(); }, WholeFile},
      {"7z", "7z", [](auto&) { return HandBuilt7z(); }, WholeFile},
      {"mpeg program stream", "mpeg", [](auto&) { return HandBuiltMpeg(); }, WholeFile},
      // The scanning finders below end at a mark near the end; the sector
      // after the file is a file record so the scan stops there too.
      {"midi", "mid", [](auto&) { return HandBuiltMidi(); }, WholeFile, true},
      {"mp3 with ID3v1 tag", "mp3", [](auto&) { return HandBuiltMp3(); }, WholeFile, true},
      {"ape with APEv2 header and footer", "ape", [](auto&) { return HandBuiltApe(); }, WholeFile,
       true},
      {"mp4", "mp4", [](auto&) { return HandBuiltMp4(); }, WholeFile, true},
      {"rm", "rmvb", [](auto&) { return HandBuiltRm(); }, WholeFile, true},
      {"transport stream", "ts", [](auto&) { return HandBuiltTs(); }, WholeFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string file = c.make(dir);
    ASSERT_GT(file.size(), kSector);
    SignatureScanContext context;
    const Carve carve = CarveAt(dir, file, c.stopAfter, context);
    ASSERT_EQ(carve.rc, 0);
    EXPECT_EQ(std::string(carve.hit.name), std::to_string(kStart) + "." + c.extension);
    EXPECT_EQ(carve.hit.size, c.expected(file));
  }
}

// Plain scans run to the next recognised start or file-system structure.
TEST(SignatureSizes, PlainScanEndsBeforeTheNextStart) {
  const std::string psd = "8BPS\x00\x01"s + std::string(3000, '\x31');
  struct Stop {
    std::string name;
    std::string sector;
  };
  std::string boot(kSector, '\0');
  boot.replace(0, 11, "\xEB\x3C\x90MSDOS5.0"s);
  std::string png = "\x89PNG\r\n\x1A\n"s + std::string(kSector - 8, '\x01');
  const std::vector<Stop> stops = {{"file record", FileRecordSector()},
                                   {"FAT boot sector", boot},
                                   {"a PNG start", png}};
  for (const Stop& stop : stops) {
    SCOPED_TRACE(stop.name);
    test::TempDir dir;
    SignatureScanContext context;
    const Carve carve = CarveAt(dir, PadToSector(psd) + stop.sector, false, context);
    ASSERT_EQ(carve.rc, 0);
    EXPECT_EQ(std::string(carve.hit.name), "7.psd");
    EXPECT_EQ(carve.hit.size, PadToSector(psd).size());
  }
}

// A JPEG's FF D9 with more data after it in the same sector does not end
// the picture: here a comment segment holds those bytes.
TEST(SignatureSizes, JpegFooterInsideTheDataIsNotTheEnd) {
  test::TempDir dir;
  std::string jpeg = PillowFile(dir, "JPEG");
  const size_t afterApp0 = 4 + ((uint8_t(jpeg[4]) << 8) | uint8_t(jpeg[5]));
  const std::string comment = "\xFF\xFE\x00\x0C" "ab\xFF\xD9zzzzzz"s;
  jpeg.insert(afterApp0, comment);
  SignatureScanContext context;
  const Carve carve = CarveAt(dir, jpeg, false, context);
  ASSERT_EQ(carve.rc, 0);
  EXPECT_EQ(carve.hit.size, jpeg.size());
}

// Headers whose length is not to be trusted keep the file to one sector: a
// compressed Flash movie, and a broadcast ASF stream (file size undefined).
TEST(SignatureSizes, UntrustedHeaderLengthsGiveOneSector) {
  std::string broadcast = HandBuiltAsf();
  broadcast[30 + 88] = '\x01';
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"compressed swf", "CWS\x08"s + Le32(5000) + test::MakeContent(3000, 13)},
      {"broadcast asf", broadcast},
  };
  for (const auto& [name, file] : cases) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    SignatureScanContext context;
    const Carve carve = CarveAt(dir, file, false, context);
    ASSERT_EQ(carve.rc, 0);
    EXPECT_EQ(carve.hit.size, kSector);
  }
}

// Nothing to carve: no signature, a signature the catalogue refuses, or a
// type without a size finder.
TEST(SignatureSizes, NoFile) {
  std::string exe(kSector, '\0');
  exe.replace(0, 2, "MZ");
  exe.replace(60, 4, Le32(128));
  exe.replace(128, 4, "PE\0\0"s);
  exe.replace(128 + 22, 2, "\x02\x00"s);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"random", RandomSectors(1, 9)},
      {"GIF with an upper-case sixth byte", "GIF89A"s + std::string(600, '\x01')},
      {"RAR 5", "Rar!\x1A\x07\x01\x00"s + std::string(600, '\x01')},
      {"exe (not carved)", exe + std::string(600, '\x01')},
  };
  for (const auto& [name, file] : cases) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    SignatureScanContext context;
    EXPECT_EQ(CarveAt(dir, file, false, context).rc, err::kInvalidParameter);
  }
}

// A size never runs past the end of the volume, whether a header claims more
// or a scan finds no end.
TEST(SignatureSizes, SizeStaysInsideTheVolume) {
  const std::string bmp = "BM"s + Le32(0x100000) + Le32(0) + Le32(54) + Le32(40) +
                          std::string(600, '\x02');
  const std::string psd = "8BPS\x00\x01"s + std::string(600, '\x31');
  // An end record whose last bytes would lie past the volume's end.
  std::string zip = "PK\x03\x04"s + std::string(5 * kSector - 14, '\x07') + "PK\x05\x06"s;
  for (const std::string& file : {bmp, psd, zip}) {
    test::TempDir dir;
    SignatureScanContext context;
    // Image: 7 random sectors, the file, 16 random sectors; the volume ends
    // 5 sectors after the start.
    context.endSector = kStart + 5;
    const Carve carve = CarveAt(dir, file, false, context);
    ASSERT_EQ(carve.rc, 0);
    EXPECT_EQ(carve.hit.size, 5u * kSector);
    SignatureScanContext wholeSource;
    const Carve whole = CarveAt(dir, file, false, wholeSource);
    EXPECT_EQ(whole.hit.size, file == zip ? file.size() + 18 : 18u * kSector);
  }
}

// A transport stream's sectors are remembered so that no stream starts
// inside it again.
TEST(SignatureSizes, TransportStreamRangeIsRecorded) {
  test::TempDir dir;
  SignatureScanContext context;
  const Carve carve = CarveAt(dir, HandBuiltTs(), false, context);
  ASSERT_EQ(carve.rc, 0);
  ASSERT_EQ(context.carvedTransportStreams.size(), 1u);
  EXPECT_EQ(context.carvedTransportStreams[0],
            std::make_pair(kStart, kStart + (40 * 188 + kSector - 1) / kSector - 1));
}

// A non-zero answer of the progress callback while a size finder reads
// ahead cancels the identification.
TEST(SignatureSizes, CancelWhileSizingTravelsOut) {
  test::TempDir dir;
  struct Calls {
    int count = 0;
  } calls;
  SignatureScanContext context;
  context.progressUser = &calls;
  context.progress = [](void* user, int, int, int64_t, uint64_t, uint64_t, uint64_t, int) {
    ++static_cast<Calls*>(user)->count;
    return 1;
  };
  const std::string psd = "8BPS\x00\x01"s + std::string(3000, '\x31');
  EXPECT_EQ(CarveAt(dir, psd, false, context).rc, err::kCancelled);
  EXPECT_EQ(calls.count, 1);
}

// A compound file (the container of legacy Office documents). `shift` 9 or
// 12 gives its sector size; allocation-table sector `t` is listed in the
// header (or, past the first 109, in one extra location sector), and
// sector `lastUsed` is the highest one the table marks as used.
std::string CompoundFile(uint16_t shift, uint32_t tableSectors, uint32_t lastUsed) {
  const size_t sector = size_t{1} << shift;
  std::string header = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"s + std::string(16, '\0');
  header += Le16(0x3E) + Le16(shift == 9 ? 3 : 4) + "\xFE\xFF"s + Le16(shift) + Le16(6);
  header += std::string(6, '\0') + Le32(0) + Le32(tableSectors) + Le32(1) + Le32(0) +
            Le32(4096) + Le32(0xFFFFFFFE) + Le32(0);
  // Every listed table sector is sector 0, except the 110th, listed in the
  // extra location sector 2, which is sector 3.
  const bool extra = tableSectors > 109;
  header += Le32(extra ? 2 : 0xFFFFFFFE) + Le32(extra ? 1 : 0);
  for (uint32_t i = 0; i < 109; ++i) header += Le32(i < tableSectors ? 0 : 0xFFFFFFFF);
  header.resize(sector, '\0');

  std::string table(sector, '\xFF');
  table.replace(0, 8, Le32(0xFFFFFFFD) + Le32(0xFFFFFFFE));  // itself, the directory
  std::string directory(sector, '\0');
  const std::u16string name = u"WordDocument";
  for (size_t i = 0; i < name.size(); ++i) directory[128 + 2 * i] = static_cast<char>(name[i]);
  directory.replace(128 + 64, 2, Le16(static_cast<uint16_t>(2 * name.size() + 2)));
  std::string f = header + table + directory;
  if (extra) {
    std::string locations(sector, '\xFF');
    locations.replace(0, 4, Le32(3));
    locations.replace(sector - 4, 4, Le32(0xFFFFFFFE));
    std::string last(sector, '\xFF');
    last.replace(4 * (lastUsed - 109 * (sector / 4)), 4, Le32(0xFFFFFFFE));
    return f + locations + last;
  }
  for (uint32_t s = 2; s <= lastUsed; ++s)
    table.replace(4 * s, 4, Le32(s == lastUsed ? 0xFFFFFFFE : s + 1));
  f.replace(sector, sector, table);
  return f + test::MakeContent((lastUsed - 1) * sector, 14);
}

// A compound file ends after the highest sector its allocation table uses.
// Carving never measures one this way (the Flash-source row takes every
// compound file first); the rows of the Office types carry it for callers
// that know the file is a document.
TEST(SignatureSizes, CompoundFileMeasuredByItsAllocationTable) {
  const auto& table = SignatureTable();
  const auto doc = std::find_if(table.begin(), table.end(),
                                [](const SignatureEntry& e) { return e.extension == "doc"; });
  ASSERT_NE(doc, table.end());
  ASSERT_NE(doc->sizeFinder, nullptr);
  struct Case {
    std::string name;
    std::string file;
    uint64_t size;
  };
  std::string badShift = CompoundFile(9, 1, 9);
  badShift.replace(30, 2, Le16(7));
  const std::vector<Case> cases = {
      {"512-byte sectors", CompoundFile(9, 1, 9), 11 * 512},
      {"4096-byte sectors", CompoundFile(12, 1, 5), 7 * 4096},
      {"table listed past the header", CompoundFile(9, 110, 109 * 128 + 5),
       (109 * 128 + 5 + 2) * uint64_t{512}},
      {"unknown sector size", badShift, kSector},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    // The image: the file at kStart, then room enough for what it claims.
    std::string image = RandomSectors(kStart, 1) + c.file;
    image.resize(kStart * kSector + std::max<uint64_t>(c.size, c.file.size()) + 4 * kSector,
                 '\x5A');
    test::WriteBytes(dir / "image.raw", image);
    SectorSource source;
    ASSERT_EQ(source.OpenImageSource(dir / "image.raw"), 0);
    SignatureScanContext context;
    context.source = &source;
    context.startSector = kStart;
    EXPECT_EQ(doc->sizeFinder(reinterpret_cast<const uint8_t*>(c.file.data()), kSector, context),
              c.size);
  }
}

}  // namespace
}  // namespace qm
