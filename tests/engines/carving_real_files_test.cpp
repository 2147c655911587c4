// Carving real files end to end: files written at test time by Pillow,
// Python's zipfile, wave and gzip modules, zip, 7z, gcab and qpdf (and hand-built where
// no light tool writes the format) are laid at sector offsets of one raw
// image between random sectors. The image is carved sector by sector as the
// deep pass does it, and every carved copy is compared with the original:
// byte for byte where the format's end can be found, otherwise against the
// size rule of that format, noted at each case.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engines/carving/file_type_recovery.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

constexpr uint32_t kSector = 512;

std::string Le16(uint16_t v) { return {char(v), char(v >> 8)}; }
std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string Be16(uint16_t v) { return {char(v >> 8), char(v)}; }
std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// Random sectors that start nothing: no transport-stream sync byte, and a
// first byte per sector that no signature begins with.
std::string RandomSectors(size_t sectors, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(sectors * kSector, '\0');
  for (char& c : s) {
    c = static_cast<char>(rng() & 0xFF);
    if (c == 0x47) c = 0x48;
  }
  for (size_t at = 0; at < s.size(); at += kSector) s[at] = 'q';
  return s;
}

std::string Noise(size_t bytes, uint32_t seed) {
  std::string s = RandomSectors((bytes + kSector - 1) / kSector, seed);
  s.resize(bytes);
  return s;
}

// Writes the files of `script` (Python, run by the system interpreter that
// has Pillow) into `dir`.
bool RunPython(const test::TempDir& dir, const std::string& script) {
  const fs::path py = dir / "make.py";
  test::WriteBytes(py, script);
  std::string output;
  const int rc = test::Run("cd " + test::Quote(dir.path().string()) + " && /usr/bin/python3 " +
                               test::Quote(py.string()),
                           &output);
  EXPECT_EQ(rc, 0) << output;
  return rc == 0;
}

constexpr const char* kMakeFiles = R"(
import gzip, random, wave, zipfile
from PIL import Image
random.seed(7)
def noise_image(w, h):
    im = Image.new('RGB', (w, h))
    im.putdata([(random.randrange(256), random.randrange(256), random.randrange(256))
                for _ in range(w * h)])
    return im
photo = noise_image(120, 90)
photo.save('photo.jpg', 'JPEG', quality=90)
noise_image(8, 8).save('thumb.jpg', 'JPEG')
photo.save('photo.png', 'PNG')
photo.save('photo.gif', 'GIF')
photo.save('photo.bmp', 'BMP')
photo.save('photo.tif', 'TIFF')
photo.save('page.pdf', 'PDF')
noise_image(300, 240).save('large.pdf', 'PDF', quality=95)
noise_image(64, 64).save('icon.ico', 'ICO', sizes=[(16, 16), (32, 32), (64, 64)])
def package(name, parts):
    with zipfile.ZipFile(name, 'w', zipfile.ZIP_DEFLATED) as z:
        for part, text in parts:
            z.writestr(part, text)
types = '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'
rels = '<?xml version="1.0"?><Relationships/>'
words = ' '.join(random.choice(['disk', 'sector', 'cluster', 'file']) for _ in range(3000))
package('letter.docx', [('[Content_Types].xml', types), ('_rels/.rels', rels),
                        ('word/document.xml', '<w:document>' + words + '</w:document>')])
package('table.xlsx', [('[Content_Types].xml', types), ('_rels/.rels', rels),
                       ('xl/workbook.xml', '<workbook/>'),
                       ('xl/worksheets/sheet1.xml', '<sheetData>' + words + '</sheetData>')])
with wave.open('tone.wav', 'wb') as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(8000)
    w.writeframes(bytes(random.randrange(256) for _ in range(9000)))
with open('blob.bin', 'wb') as f:
    f.write(bytes(random.randrange(256) for _ in range(7000)))
# Level 9 marks the header's XFL byte as maximum compression.
with open('blob.bin', 'rb') as src, gzip.GzipFile('blob.gz', 'wb', 9, mtime=0) as dst:
    dst.write(src.read())
)";

// ID3v2 tag, MPEG-1 layer III frames (128 kbit/s, 44.1 kHz: 417 bytes),
// and an ID3v1 tag when asked for. The letters "TAG" turn up inside one of
// the frames, as they do by chance in long files. A damaged file has one
// frame header overwritten, so its frames no longer lead to its end.
std::string Mp3(bool withId3v1, bool damaged = false) {
  std::string f = "ID3\x03\x00\x00\x00\x00\x02\x00"s;
  f += "TIT2"s + Be32(6) + "\x00\x00\x00Test"s;
  f.resize(10 + 256, '\0');
  for (int i = 0; i < 12; ++i) {
    std::string frame = Noise(413, 30 + i);
    if (i == 5) frame.replace(200, 3, "TAG");
    f += (damaged && i == 8 ? "\x12\x34\x56\x78"s : "\xFF\xFB\x90\x64"s) + frame;
  }
  if (!withId3v1) return f;
  return f + "TAG" + "Carved song" + std::string(114, '\0');
}

// A format-1 MIDI file with a tempo track and a note track.
std::string Midi() {
  std::string tempo = "\x00\xFF\x51\x03\x07\xA1\x20\x00\xFF\x2F\x00"s;
  std::string notes;
  for (int i = 0; i < 300; ++i)
    notes += "\x00\x90"s + char(40 + i % 40) + "\x40\x60\x80"s + char(40 + i % 40) + "\x00"s;
  notes += "\x00\xFF\x2F\x00"s;
  std::string f = "MThd"s + Be32(6) + Be16(1) + Be16(2) + Be16(96);
  for (const std::string& track : {tempo, notes})
    f += "MTrk"s + Be32(static_cast<uint32_t>(track.size())) + track;
  return f;
}

std::string Chunk(const std::string& id, const std::string& body) {
  std::string c = id + Le32(static_cast<uint32_t>(body.size())) + body;
  if (body.size() % 2) c += '\0';
  return c;
}

// AVI: RIFF with an hdrl list and a movi list of video chunks.
std::string Avi() {
  std::string avih = Le32(40000) + Le32(0) + Le32(0) + Le32(0x10) + Le32(20) + Le32(0) +
                     Le32(1) + Le32(0) + Le32(32) + Le32(24) + std::string(16, '\0');
  std::string hdrl = "hdrl"s + Chunk("avih", avih);
  std::string movi = "movi"s;
  for (int i = 0; i < 20; ++i) movi += Chunk("00dc", Noise(300 + i, 50 + i));
  std::string body = "AVI "s + Chunk("LIST", hdrl) + Chunk("LIST", movi);
  return "RIFF"s + Le32(static_cast<uint32_t>(body.size())) + body;
}

std::string Box(const std::string& type, const std::string& body) {
  return Be32(static_cast<uint32_t>(body.size() + 8)) + type + body;
}

// MP4 as GPAC writes it: ftyp, mdat, moov, and the muxer's free box with
// its text last.
std::string Mp4() {
  return Box("ftyp", "isom"s + Be32(0x200) + "isomiso2avc1mp41") + Box("mdat", Noise(5000, 60)) +
         Box("moov", Box("mvhd", std::string(100, '\0'))) +
         Box("free", "IsoMedia File Produced by Quillmark tests");
}

// MP4 as most other muxers write it: ftyp, free, mdat, moov, no text. The
// movie box's type "moov" opens sector 12, as the start of a QuickTime
// movie would.
std::string PlainMp4() {
  return Box("ftyp", "mp42"s + Be32(0) + "mp42isom") + Box("free", "") +
         Box("mdat", Noise(6100, 62)) + Box("moov", Box("mvhd", std::string(100, '\0')));
}

// 3GPP: ftyp "3gp4", then mdat and moov.
std::string ThreeGp() {
  return Box("ftyp", "3gp4"s + Be32(0x200) + "isom3gp4") + Box("mdat", Noise(2900, 63)) +
         Box("moov", Box("mvhd", std::string(100, '\0')));
}

// QuickTime: ftyp "qt  ", then its boxes; `damaged` overwrites the start
// of the movie box, so the boxes no longer show where the file ends.
std::string Mov(bool damaged) {
  std::string f = Box("ftyp", "qt  "s + Be32(0x200) + "qt  ") + Box("wide", "") +
                  Box("mdat", Noise(4000, 61));
  const size_t moov = f.size();
  f += Box("moov", Box("mvhd", std::string(100, '\0')));
  if (damaged) f.replace(moov, 8, "overwrit");
  return f;
}

// RAR 4: marker block, archive header, one stored file, end-of-archive.
std::string Rar4() {
  const std::string data = Noise(2000, 70);
  std::string file = "\x00\x00\x74\x00\x80"s;  // CRC (unchecked here), type, flags
  const std::string name = "noise.bin";
  std::string fields = Le32(static_cast<uint32_t>(data.size())) +
                       Le32(static_cast<uint32_t>(data.size())) + "\x02"s + Le32(0) + Le32(0) +
                       "\x14\x30"s + Le16(static_cast<uint16_t>(name.size())) + Le32(0x20) + name;
  file += Le16(static_cast<uint16_t>(7 + fields.size())) + fields;
  return "Rar!\x1A\x07\x00"s + "\xCF\x90\x73\x00\x00\x0D\x00\x00\x00\x00\x00\x00\x00"s + file +
         data + "\xC4\x3D\x7B\x00\x40\x07\x00"s;
}

// Uncompressed Flash: header, then tags up to the End tag.
std::string Swf() {
  std::string body = "\x50\x00\x05\xDC\x00\x00\x0F\xA0\x00\x00\x0C\x01\x00"s;
  body += Le16(0x3F | (21 << 6)) + Le32(3000) + Noise(3000, 80);  // DefineBitsJPEG2, long form
  body += "\x40\x00\x00\x00"s;                                   // ShowFrame, End
  return "FWS\x05"s + Le32(static_cast<uint32_t>(8 + body.size())) + body;
}

// ASF: header object holding the file properties object, then the data.
std::string Asf(uint32_t total) {
  const std::string header = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"s;
  const std::string properties =
      "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"s;
  std::string props = properties + Le32(104) + Le32(0) + Noise(16, 81) + Le32(total) + Le32(0) +
                      std::string(40, '\0') + Le32(2) /* seekable, not broadcast */ + Le32(3200) +
                      Le32(3200) + Le32(128000);
  std::string f = header + Le32(static_cast<uint32_t>(30 + props.size())) + Le32(0) + Le32(1) +
                  "\x01\x02"s + props;
  return f + Noise(total - f.size(), 82);
}

// Monkey's Audio with an APEv2 tag: header (when asked for), items, footer.
std::string Ape(bool withTagHeader) {
  const std::string items = Le32(5) + Le32(0) + "Title"s + '\0' + "Carve";
  auto tag = [&](uint32_t flags) {
    return "APETAGEX"s + Le32(2000) + Le32(static_cast<uint32_t>(items.size() + 32)) + Le32(1) +
           Le32(flags) + std::string(8, '\0');
  };
  const uint32_t hasHeader = withTagHeader ? 0x80000000 : 0;
  return "MAC \x96\x0F\x00\x00"s + Noise(3500, 83) + (withTagHeader ? tag(0xA0000000) : "") +
         items + tag(hasHeader);
}

// RealMedia: .RMF header, PROP, DATA chunks, and the empty index last.
std::string RealMedia() {
  return ".RMF\x00\x00\x00\x12\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04"s + "PROP"s + Be32(50) +
         Noise(42, 84) + "DATA"s + Be32(2500) + Noise(2492, 85) +
         "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00"s;
}

// MPEG-1 program stream: pack header, system header, PES packets in packs,
// end code.
std::string Mpeg1() {
  std::string f = "\x00\x00\x01\xBA\x21\x00\x01\x00\x01\x80\x1B\x91"s;
  f += "\x00\x00\x01\xBB\x00\x0C\x80\x1B\x91\x04\xE1\xFF\xE0\xE0\xE8\xC0\xC0\x20"s;
  for (int i = 0; i < 6; ++i) {
    if (i == 3) f += "\x00\x00\x01\xBA\x21\x00\x03\x00\x01\x80\x1B\x91"s;
    f += "\x00\x00\x01\xE0"s + Be16(600) + Noise(600, 86 + i);
  }
  return f + "\x00\x00\x01\xB9"s;
}

// MPEG-2 program stream: packs with stuffing, a system header, PES packets,
// closed without an end code as ffmpeg writes it.
std::string Mpeg2WithoutEndCode() {
  std::string f;
  for (int i = 0; i < 5; ++i) {
    f += "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xFA\xFF\xFF"s;
    if (i == 0) f += "\x00\x00\x01\xBB\x00\x09\x80\x1B\x91\x04\xE1\xFF\xE0\xE0\xE8"s;
    f += "\x00\x00\x01\xE0"s + Be16(700) + Noise(700, 100 + i);
  }
  return f;
}

// A transport stream of 60 packets.
std::string TransportStream() {
  std::string f;
  for (int i = 0; i < 60; ++i)
    f += "\x47\x41\x00"s + char(0x10 | (i & 0x0F)) + std::string(184, char(0x20 + i % 16));
  return f;
}

std::string Compressed7z(const test::TempDir& dir) {
  test::WriteBytes(dir / "n1.bin", Noise(6000, 90));
  test::WriteBytes(dir / "n2.txt", std::string(9000, 's'));
  std::string output;
  EXPECT_EQ(test::Run("cd " + test::Quote(dir.path().string()) +
                          " && 7z a -bd -y archive.7z n1.bin n2.txt",
                      &output),
            0)
      << output;
  return test::ReadBytes(dir / "archive.7z");
}

std::string Cabinet(const test::TempDir& dir) {
  test::WriteBytes(dir / "c1.bin", Noise(5000, 93));
  test::WriteBytes(dir / "c2.txt", std::string(7000, 'c'));
  std::string output;
  EXPECT_EQ(test::Run("cd " + test::Quote(dir.path().string()) +
                          " && gcab -c -z archive.cab c1.bin c2.txt",
                      &output),
            0)
      << output;
  return test::ReadBytes(dir / "archive.cab");
}

// zip stores .zip members as they are: the inner archive's end record lies
// in the outer one, a chunk before the outer one's own.
std::string ZipHoldingAZip(const test::TempDir& dir) {
  test::WriteBytes(dir / "y1.bin", Noise(3000, 94));
  test::WriteBytes(dir / "y2.bin", Noise(90000, 95));
  std::string output;
  EXPECT_EQ(test::Run("cd " + test::Quote(dir.path().string()) +
                          " && zip -q -X inner.zip y1.bin && zip -q -X outer.zip inner.zip y2.bin",
                      &output),
            0)
      << output;
  return test::ReadBytes(dir / "outer.zip");
}

// A linearized PDF has a "%%EOF" after its first-page section, near the
// start, and its own at the end.
std::string LinearizedPdf(const test::TempDir& dir) {
  std::string output;
  EXPECT_EQ(test::Run("cd " + test::Quote(dir.path().string()) +
                          " && qpdf --linearize large.pdf linearized.pdf",
                      &output),
            0)
      << output;
  return test::ReadBytes(dir / "linearized.pdf");
}

std::string ZipWithComment(const test::TempDir& dir) {
  test::WriteBytes(dir / "z1.bin", Noise(4000, 91));
  test::WriteBytes(dir / "z2.txt", std::string(5000, 'z'));
  std::string output;
  EXPECT_EQ(test::Run("cd " + test::Quote(dir.path().string()) +
                          " && echo 'carved archive' | zip -q -X -z archive.zip z1.bin z2.txt",
                      &output),
            0)
      << output;
  return test::ReadBytes(dir / "archive.zip");
}

// A JPEG with a comment segment, right after its JFIF segment, that holds
// the footer bytes FF D9 followed by more data: the file does not end there.
std::string JpegWithFooterInComment(const std::string& jpeg) {
  std::string text = "scan \xFF\xD9 not the end; "s;
  std::string comment;
  while (comment.size() < 900) comment += text;
  const std::string segment = "\xFF\xFE"s + Be16(static_cast<uint16_t>(comment.size() + 2)) + comment;
  const size_t afterJfif = 2 + 2 + ((uint8_t(jpeg[4]) << 8) | uint8_t(jpeg[5]));
  return jpeg.substr(0, afterJfif) + segment + jpeg.substr(afterJfif);
}

// A JPEG carrying an Exif thumbnail (a JPEG of its own, end marker and all)
// in its APP1 segment, laid so that the thumbnail's end marker ends exactly
// on the boundary of the file's second sector.
std::string JpegWithThumbnailEndingASector(const std::string& jpeg, const std::string& thumb) {
  const size_t afterJfif = 2 + 2 + ((uint8_t(jpeg[4]) << 8) | uint8_t(jpeg[5]));
  const size_t filler = 2 * kSector - afterJfif - 10 - thumb.size();
  const std::string body = "Exif\0\0"s + std::string(filler, 'x') + thumb;
  const std::string app1 = "\xFF\xE1"s + Be16(static_cast<uint16_t>(body.size() + 2)) + body;
  return jpeg.substr(0, afterJfif) + app1 + jpeg.substr(afterJfif);
}

// A GIF with a 256-colour table whose used colours end in (5, 5, 0),
// (3B, 0, 0), the rest black: the table holds 00 3B followed by nothing but
// zeros to the end of the first sector, as a GIF's end would be.
std::string GifWithFooterBytesInItsColourTable() {
  std::string palette(768, '\0');
  for (int i = 0; i < 100; ++i) palette.replace(3 * i, 3, {char(i + 1), char(2 * i + 1), char(7)});
  palette.replace(300, 6, "\x05\x05\x00\x3B\x00\x00"s);
  std::string f = "GIF89a"s + Le16(40) + Le16(30) + "\xF7\x00\x00"s + palette;
  f += "\x2C"s + Le16(0) + Le16(0) + Le16(40) + Le16(30) + "\x00\x08"s;
  const std::string pixels = Noise(1400, 96);
  for (size_t at = 0; at < pixels.size(); at += 255) {
    const std::string block = pixels.substr(at, 255);
    f += char(block.size()) + block;
  }
  return f + "\x00\x3B"s;
}

enum class SizeRule {
  kWholeFile,
  // A scan without an end mark runs to the next sector where something
  // known starts: here the next file laid in the image.
  kToNextStart,
};

struct Placed {
  std::string what;
  std::string extension;  // carved name's extension; empty: nothing is carved
  std::string bytes;
  SizeRule rule = SizeRule::kWholeFile;
  uint64_t sector = 0;
};

class CarvingRealFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::Run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
      GTEST_SKIP() << "python3-pil is not installed";
    if (!test::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    EngineContext context;
    context.scanFolder = dir_ / "scan";
    engine_.SetContext(context);
  }

  // Lays the files out with a few random sectors before each and carves
  // the whole image.
  void LayOutAndCarve(std::vector<Placed>& files) {
    std::string image = RandomSectors(5, 1);
    uint32_t seed = 2;
    for (Placed& p : files) {
      p.sector = image.size() / kSector;
      image += p.bytes;
      image.resize((image.size() + kSector - 1) / kSector * kSector, '\0');
      image += RandomSectors(2 + seed % 5, seed);
      ++seed;
    }
    image_ = dir_ / "real.img";
    test::WriteBytes(image_, image);
    ASSERT_EQ(engine_.OpenImage(image_.string(), 'C'), 0);

    const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
    const uint64_t sectors = image.size() / kSector;
    CarvePassProgress pass;
    pass.total = sectors;
    uint64_t found = 0;
    for (uint64_t s = 0; s < sectors;) {
      uint64_t advance = 0;
      pass.done = s;
      const int rc = engine_.CarveSector(bytes + s * kSector, kSector, s, pass, advance, found);
      ASSERT_TRUE(rc == 0 || rc == err::kInvalidParameter) << rc << " at sector " << s;
      s += advance;
    }
    ASSERT_EQ(engine_.FlushLog(), 0);
    std::vector<FoundFileRecord> records;
    ASSERT_EQ(engine_.ListChildren(nullptr, 0, records), 0);
    for (const FoundFileRecord& r : records) {
      const uint64_t anchor = r.anchorSector;
      carved_[anchor] = r;
    }
    imageBytes_ = std::move(image);
  }

  uint64_t Expected(const std::vector<Placed>& files, size_t i) const {
    const Placed& p = files[i];
    switch (p.rule) {
      case SizeRule::kWholeFile:
        return p.bytes.size();
      case SizeRule::kToNextStart:
        break;
    }
    for (size_t j = i + 1; j < files.size(); ++j)
      if (!files[j].extension.empty()) return (files[j].sector - p.sector) * kSector;
    return imageBytes_.size() - p.sector * kSector;
  }

  void CheckEveryFile(const std::vector<Placed>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
      const Placed& p = files[i];
      SCOPED_TRACE(p.what);
      const auto it = carved_.find(p.sector);
      if (p.extension.empty()) {
        if (it != carved_.end()) ADD_FAILURE() << "carved as " << it->second.Name();
        continue;
      }
      ASSERT_NE(it, carved_.end());
      const FoundFileRecord& r = it->second;
      EXPECT_EQ(r.Name(), std::to_string(p.sector) + "." + p.extension);
      const uint64_t expected = Expected(files, i);
      EXPECT_EQ(+r.fileSize, expected);
      const fs::path out = dir_ / "out" / r.Name();
      ASSERT_EQ(engine_.RecoverItem(r, out.string(), 0), 0);
      const std::string copy = test::ReadBytes(out);
      if (p.rule == SizeRule::kWholeFile) EXPECT_TRUE(copy == p.bytes) << "copy differs";
      else EXPECT_TRUE(copy == imageBytes_.substr(p.sector * kSector, expected)) << "copy differs";
      EXPECT_TRUE(copy.starts_with(p.bytes.substr(0, std::min<size_t>(copy.size(), p.bytes.size()))));
    }
    // Nothing else was carved from the random sectors or inside the files.
    for (const auto& [sector, record] : carved_) {
      const bool placed = std::any_of(files.begin(), files.end(), [&](const Placed& p) {
        return p.sector == sector && !p.extension.empty();
      });
      if (!placed) ADD_FAILURE() << "unexpected " << record.Name();
    }
  }

  std::string Made(const std::string& name) { return test::ReadBytes(dir_ / name); }

  test::TempDir dir_;
  CFileTypeRecovery engine_;
  fs::path image_;
  std::string imageBytes_;
  std::map<uint64_t, FoundFileRecord> carved_;
};

TEST_F(CarvingRealFiles, PicturesDocumentsAndArchivesComeBackWhole) {
  ASSERT_TRUE(RunPython(dir_, kMakeFiles));
  std::vector<Placed> files = {
      {"jpeg (Pillow)", "jpg", Made("photo.jpg")},
      {"jpeg whose comment holds FF D9 and more", "jpg", JpegWithFooterInComment(Made("photo.jpg"))},
      {"jpeg whose Exif thumbnail ends a sector", "jpg",
       JpegWithThumbnailEndingASector(Made("photo.jpg"), Made("thumb.jpg"))},
      {"png (Pillow)", "png", Made("photo.png")},
      {"gif (Pillow)", "gif", Made("photo.gif")},
      {"gif whose sixth byte is upper case", "", "GIF89A"s + Made("photo.gif").substr(6)},
      {"gif with the footer bytes in its colour table", "gif", GifWithFooterBytesInItsColourTable()},
      {"bmp (Pillow)", "bmp", Made("photo.bmp")},
      {"ico of three images (Pillow)", "ico", Made("icon.ico")},
      {"pdf (Pillow)", "pdf", Made("page.pdf")},
      {"docx (zipfile)", "docx", Made("letter.docx")},
      {"xlsx (zipfile)", "xlsx", Made("table.xlsx")},
      {"wav (wave)", "wav", Made("tone.wav")},
      {"zip with a comment (zip)", "zip", ZipWithComment(dir_)},
      {"zip holding a zip (zip)", "zip", ZipHoldingAZip(dir_)},
      {"rar 4", "rar", Rar4()},
      {"rar 5 is not known", "", "Rar!\x1A\x07\x01\x00"s + Noise(1500, 92)},
      {"tiff (Pillow): no end mark", "tif", Made("photo.tif"), SizeRule::kToNextStart},
      {"gz (gzip): no end mark", "gz", Made("blob.gz"), SizeRule::kToNextStart},
      {"jpeg after the plain scans", "jpg", Made("photo.jpg")},
  };
  if (test::HaveTool("7z")) files.push_back({"7z (7z)", "7z", Compressed7z(dir_)});
  if (test::HaveTool("qpdf"))
    files.push_back({"linearized pdf (qpdf)", "pdf", LinearizedPdf(dir_)});
  if (test::HaveTool("gcab")) files.push_back({"cab (gcab)", "cab", Cabinet(dir_)});
  LayOutAndCarve(files);
  CheckEveryFile(files);
}

TEST_F(CarvingRealFiles, AudioAndVideoComeBackWhole) {
  std::vector<Placed> files = {
      {"mp3 with ID3v2 and ID3v1 tags", "mp3", Mp3(true)},
      {"mp3 without an ID3v1 tag", "mp3", Mp3(false)},
      {"mp3 with a damaged frame, ended by its ID3v1 tag", "mp3", Mp3(true, true)},
      {"midi of two tracks", "mid", Midi()},
      {"avi", "avi", Avi()},
      {"mp4 (GPAC style)", "mp4", Mp4()},
      {"mp4 without the muxer's text, moov opening a sector", "mp4", PlainMp4()},
      {"3gp", "3gp", ThreeGp()},
      {"mov", "mov", Mov(false)},
      {"swf", "swf", Swf()},
      {"asf", "wmv", Asf(3300)},
      {"ape with an APEv2 tag", "ape", Ape(true)},
      {"ape whose APEv2 tag has no header", "ape", Ape(false)},
      {"realmedia", "rmvb", RealMedia()},
      {"mpeg-1 program stream", "mpeg", Mpeg1()},
      {"mpeg-2 program stream without an end code", "mpeg", Mpeg2WithoutEndCode()},
      {"transport stream", "ts", TransportStream()},
      {"mov whose boxes are damaged: no end mark", "mov", Mov(true), SizeRule::kToNextStart},
      {"mp3 with a damaged frame and no ID3v1 tag: no end mark", "mp3", Mp3(false, true),
       SizeRule::kToNextStart},
      {"mp3 after the plain scans", "mp3", Mp3(true)},
  };
  LayOutAndCarve(files);
  CheckEveryFile(files);
}

// Files written by ffmpeg, where it is installed (it is not needed for the
// build): its MP3 (ID3v2, an info frame, frames) and its MP4 and QuickTime
// files without the GPAC text, an AVI, an MPEG program stream without an
// end code and an MPEG transport stream, all carved whole.
TEST_F(CarvingRealFiles, FfmpegOutputComesBackWhole) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string video = "-f lavfi -i testsrc=duration=1:size=160x120:rate=25";
  const std::vector<std::pair<std::string, std::string>> outputs = {
      {"tone.mp3", "-f lavfi -i sine=frequency=440:duration=3 -c:a libmp3lame -b:a 128k"},
      {"clip.mp4", video + " -c:v mpeg4"},
      {"clip.mov", video + " -c:v mpeg4"},
      {"clip.avi", video + " -c:v mpeg4"},
      {"clip.mpg", video + " -c:v mpeg1video -f mpeg"},
      {"clip.ts", video + " -c:v mpeg2video -f mpegts"},
  };
  std::vector<Placed> files;
  for (const auto& [name, arguments] : outputs) {
    std::string output;
    const int rc = test::Run("cd " + test::Quote(dir_.path().string()) +
                                 " && ffmpeg -hide_banner -loglevel error -y " + arguments + " " +
                                 name,
                             &output);
    if (rc != 0) GTEST_SKIP() << "ffmpeg cannot write " << name << ": " << output;
    const std::string extension = name.substr(name.find('.') + 1);
    files.push_back({name + " (ffmpeg)", extension == "mpg" ? "mpeg" : extension, Made(name)});
  }
  LayOutAndCarve(files);
  CheckEveryFile(files);
}

// Damaged files at the very end of a small volume: bytes of every
// hand-built format overwritten at random (lengths, box sizes, frame and
// pack headers, tags), then the whole volume carved. Every step moves on,
// no file runs past the volume's end, and copy-out delivers what was
// recorded (the sanitizers watch every read).
TEST_F(CarvingRealFiles, DamagedFilesAtTheVolumeEndStayInside) {
  const std::vector<std::string> formats = {
      Mp3(true), Midi(), Avi(), Mp4(), PlainMp4(), Mov(false), Rar4(), Swf(), Asf(3300),
      Ape(true), RealMedia(), Mpeg1(), Mpeg2WithoutEndCode(), TransportStream(),
      GifWithFooterBytesInItsColourTable()};
  std::mt19937 rng(2024);
  for (int round = 0; round < 60; ++round) {
    std::string file = formats[round % formats.size()];
    // The first 16 bytes keep the signature so that the file is measured.
    for (int i = 0; i < 12; ++i) file[16 + rng() % (file.size() - 16)] = static_cast<char>(rng());
    file.resize(file.size() - rng() % (file.size() / 2));
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string image = RandomSectors(3, round) + file;
    const fs::path path = dir_ / ("damaged" + std::to_string(round) + ".img");
    test::WriteBytes(path, image);
    const uint64_t sectors = image.size() / kSector;  // a partial last sector is not part of it

    CFileTypeRecovery engine;
    EngineContext context;
    context.scanFolder = dir_ / ("scan" + std::to_string(round));
    engine.SetContext(context);
    ASSERT_EQ(engine.OpenImage(path.string(), 0), 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
    uint64_t found = 0;
    for (uint64_t at = 0; at < sectors;) {
      uint64_t advance = 0;
      const int rc = engine.CarveSector(bytes + at * kSector, kSector, at, {}, advance, found);
      ASSERT_TRUE(rc == 0 || rc == err::kInvalidParameter) << rc;
      ASSERT_GE(advance, 1u);
      at += advance;
    }
    ASSERT_EQ(engine.FlushLog(), 0);
    std::vector<FoundFileRecord> records;
    ASSERT_EQ(engine.ListChildren(nullptr, 0, records), 0);
    for (const FoundFileRecord& r : records) {
      const uint64_t anchor = r.anchorSector;
      const uint64_t size = r.fileSize;
      EXPECT_LE(anchor * kSector + size, sectors * kSector) << r.Name() << " size " << size;
      const fs::path out = dir_ / "out" / (std::to_string(round) + "-" + r.Name());
      ASSERT_EQ(engine.RecoverItem(r, out.string(), 0), 0) << r.Name();
      EXPECT_EQ(fs::file_size(out), size);
    }
  }
}

}  // namespace
}  // namespace qm
