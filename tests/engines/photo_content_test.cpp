// Deleted photos whose first bytes are not the JFIF/Exif opening are still
// photos: JPEGs that open with a quantization table, a comment or an Adobe
// segment, and a PNG saved as .ico, are found intact and recovered byte for
// byte on FAT and NTFS. A photo whose first cluster now holds text is not.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engines/engine_test_context.h"
#include "disk/partitions/crc32.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "fat_test_image.h"
#include "platform/user_folders.h"
#include "results/categories.h"
#include "results/scan_history.h"
#include "results/scan_log_store.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string Segment(uint8_t marker, const std::string& body) {
  const size_t length = body.size() + 2;
  std::string s{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                static_cast<char>(length & 0xFF)};
  return s + body;
}

enum class JpegOpening { kQuantizationTable, kComment, kAdobe };

// A decodable 8x8 grey baseline JPEG whose segments come in the order the
// opening calls for, with a comment of `padding` bytes so it spans clusters.
std::string Jpeg(JpegOpening opening, size_t padding, uint32_t seed) {
  const std::string dqt = Segment(0xDB, std::string(1, '\0') + std::string(64, '\x01'));
  const std::string sof = Segment(0xC0, std::string("\x08\x00\x08\x00\x08\x01\x01\x11\x00", 9));
  // One code of one bit in each table: DC difference 0, and end of block.
  std::string oneCode(17, '\0');
  oneCode[1] = 1;
  oneCode += '\0';
  const std::string dht = Segment(0xC4, '\x00' + oneCode.substr(1)) + Segment(0xC4, '\x10' + oneCode.substr(1));
  const std::string sos = Segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + "\x3F";
  const std::string com = Segment(0xFE, test::MakeContent(padding, seed));
  const std::string adobe = Segment(0xEE, std::string("Adobe\x00\x64\x00\x00\x00\x00\x00", 12));
  const std::string tables = dqt + sof + dht;
  std::string body;
  switch (opening) {
    case JpegOpening::kQuantizationTable: body = tables + com; break;
    case JpegOpening::kComment: body = com + tables; break;
    case JpegOpening::kAdobe: body = adobe + tables + com; break;
  }
  return "\xFF\xD8" + body + sos + "\xFF\xD9";
}

std::string PngChunk(const std::string& type, const std::string& data) {
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  const std::string typed = type + data;
  return be32(static_cast<uint32_t>(data.size())) + typed + be32(Crc32(typed.data(), typed.size()));
}

// A 1x1 grey PNG with a text chunk of `padding` bytes.
std::string Png(size_t padding, uint32_t seed) {
  const std::string ihdr("\x00\x00\x00\x01\x00\x00\x00\x01\x08\x00\x00\x00\x00", 13);
  // zlib stream of one stored block holding the filter byte and the pixel.
  const std::string idat("\x78\x01\x01\x02\x00\xFD\xFF\x00\x00\x00\x02\x00\x01", 13);
  return std::string("\x89PNG\r\n\x1A\n", 8) + PngChunk("IHDR", ihdr) +
         PngChunk("tEXt", "Comment" + std::string(1, '\0') + std::string(padding, 'x') +
                              std::to_string(seed)) +
         PngChunk("IDAT", idat) + PngChunk("IEND", "");
}

struct Photo {
  std::string name;
  std::string content;
};

std::vector<Photo> Photos() {
  return {
      {"dqt.jpg", Jpeg(JpegOpening::kQuantizationTable, 9000, 1)},
      {"comment.jpg", Jpeg(JpegOpening::kComment, 12000, 2)},
      {"adobe.jpg", Jpeg(JpegOpening::kAdobe, 7000, 3)},
      {"favicon.ico", Png(6000, 4)},
  };
}

// A deleted FAT short name loses its first character ('!' here).
bool SameName(const std::string& found, const std::string& written) {
  return found == written || (found.size() == written.size() && found[0] == '!' &&
                              found.compare(1, std::string::npos, written, 1) == 0);
}

// Each photo is listed (the listing leaves damaged photos out), intact, and
// recovered byte for byte.
void ExpectIntactAndRecovered(ScanLogEngine& engine, const std::vector<FoundFileRecord>& found,
                              const std::vector<Photo>& photos, const fs::path& out) {
  for (const Photo& p : photos) {
    SCOPED_TRACE(p.name);
    const FoundFileRecord* record = nullptr;
    for (const FoundFileRecord& r : found)
      if (SameName(r.Name(), p.name)) record = &r;
    ASSERT_NE(record, nullptr) << "not found";
    EXPECT_FALSE(IsDamagedPhoto(*record));
    const fs::path to = out / p.name;
    ASSERT_EQ(engine.RecoverItem(*record, to.string(), 0), 0);
    EXPECT_TRUE(test::ReadBytes(to) == p.content);
  }
}

std::vector<FoundFileRecord> RootChildren(ScanLogEngine& engine) {
  std::vector<FoundFileRecord> children;
  EXPECT_EQ(engine.ListChildren(nullptr, 0, children), 0);
  return children;
}

TEST(DeletedPhotoContent, FatKeepsEveryPictureOpeningAndHidesOverwrittenOnes) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "mkfs.fat or mtools missing";
  test::TempDir dir;
  test::FatImageBuilder b(dir / "vol.img", 16, 16384, 1);
  ASSERT_TRUE(b.Create());
  std::vector<Photo> photos = Photos();
  const Photo overwritten{"taken.jpg", Jpeg(JpegOpening::kQuantizationTable, 3000, 5)};
  for (const Photo& p : photos) ASSERT_TRUE(b.AddFile(p.name, p.content));
  ASSERT_TRUE(b.AddFile(overwritten.name, overwritten.content));
  for (const Photo& p : photos) ASSERT_TRUE(b.Delete(p.name));
  ASSERT_TRUE(b.Delete(overwritten.name));
  {  // text now fills the first cluster of taken.jpg
    test::FatTestImage image(b.image());
    ASSERT_TRUE(image.ok());
    const size_t entry = image.FindEntry("\xE5" "AKEN   JPG");
    ASSERT_NE(entry, std::string::npos);
    const size_t at = image.ClusterOffset(image.EntryCluster(entry));
    const std::string text = "Minutes of the meeting held on Tuesday.\n";
    for (size_t i = 0; i < 512; ++i) image.Byte(at + i) = static_cast<uint8_t>(text[i % text.size()]);
    image.Save();
  }

  GetScanHistory().Load(ScanLogFolder());
  GetScanHistory().StartNewScanFolder();
  CFastFatRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 3), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  ExpectIntactAndRecovered(engine, RootChildren(engine), photos, dir / "out");
  // The overwritten photo is in the scan log, marked as damaged, and the
  // listing leaves it out.
  bool inLog = false;
  ScanLogStore* log = const_cast<ScanLogStore*>(engine.log());
  for (uint32_t i = 1; i <= engine.RecordCount(); ++i) {
    FoundFileRecord r;
    ASSERT_EQ(log->ReadRecord(i, r), 0);
    if (!SameName(r.Name(), overwritten.name)) continue;
    inLog = true;
    EXPECT_TRUE(IsDamagedPhoto(r));
  }
  EXPECT_TRUE(inLog);
  for (const FoundFileRecord& r : RootChildren(engine)) EXPECT_FALSE(SameName(r.Name(), overwritten.name));
}

TEST(DeletedPhotoContent, NtfsKeepsEveryPictureOpening) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  test::TempDir dir;
  test::NtfsImageBuilder b(dir / "vol.img", 16);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.Mount());
  const std::vector<Photo> photos = Photos();
  for (const Photo& p : photos) ASSERT_TRUE(b.AddFile(p.name, p.content));
  for (const Photo& p : photos) ASSERT_TRUE(b.Delete(p.name));
  ASSERT_TRUE(b.Unmount());

  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(b.image().string(), 3), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  ExpectIntactAndRecovered(engine, RootChildren(engine), photos, dir / "out");
}

}  // namespace
}  // namespace qm
