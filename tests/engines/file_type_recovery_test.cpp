// The carving engine driven the way the deep pass drives it: a loop that
// hands over one sector at a time and moves on by the advance it is given.
// Images are raw, mostly sparse, with random sectors around the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engines/carving/file_type_recovery.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

constexpr uint32_t kSector = 512;

std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// Random bytes that start no known file: no 0x47 (a transport-stream packet
// start) and a first byte per sector that no signature begins with.
std::string RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(count, '\0');
  for (char& c : s) {
    c = static_cast<char>(rng() & 0xFF);
    if (c == 0x47 || c == '\xFF' || c == '\xD9') c = 0x48;
  }
  for (size_t at = 0; at < count; at += kSector) s[at] = 'q';
  return s;
}

// A JFIF file of exactly `size` bytes whose only FF D9 is its last two.
std::string Jpeg(size_t size, uint32_t seed) {
  return test::JpegAround(RandomBytes(size - test::kJpegFrameBytes, seed));
}

// A Windows bitmap whose header gives its size.
std::string Bitmap(uint32_t declaredSize, size_t actualSize, uint32_t seed) {
  std::string b = "BM" + Le32(declaredSize) + Le32(0) + Le32(54) + Le32(40);
  return b + RandomBytes(actualSize - b.size(), seed);
}

// A sparse raw image: `sectors` sectors, random bytes over [from, to), then
// the files written at their sectors.
class CarvingImage {
 public:
  CarvingImage(fs::path path, uint64_t sectors, uint64_t from, uint64_t to)
      : path_(std::move(path)), sectors_(sectors) {
    test::WriteBytes(path_, "");
    fs::resize_file(path_, sectors * kSector);
    Put(from, RandomBytes((to - from) * kSector, 99));
  }
  void Put(uint64_t sector, const std::string& bytes) {
    FILE* f = std::fopen(path_.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, static_cast<long>(sector * kSector), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    // The slack of the last sector is left blank, as a file system leaves it.
    const size_t slack = (kSector - bytes.size() % kSector) % kSector;
    const std::string zeros(slack, '\0');
    std::fwrite(zeros.data(), 1, zeros.size(), f);
    std::fclose(f);
  }
  std::string SectorAt(uint64_t sector) const {
    std::string all = test::ReadBytes(path_);
    return all.substr(sector * kSector, kSector);
  }
  const fs::path& path() const { return path_; }
  uint64_t sectors() const { return sectors_; }

 private:
  fs::path path_;
  uint64_t sectors_;
};

// The carving loop of the deep pass over [from, to): the advance each
// carved start sector gave, and the last non-zero result other than 87.
struct CarveRun {
  std::map<uint64_t, uint64_t> advances;
  uint64_t filesFound = 0;
  int stopResult = 0;
};

CarveRun CarveRange(CFileTypeRecovery& engine, const fs::path& image, uint64_t from, uint64_t to,
                    uint64_t filesFound = 0) {
  // Only the carved range is read: the images are mostly sparse.
  std::ifstream in(image, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from * kSector));
  std::string bytes((to - from) * kSector, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  CarveRun run;
  run.filesFound = filesFound;
  CarvePassProgress pass;
  pass.total = to;
  for (uint64_t sector = from; sector < to;) {
    pass.done = sector;
    uint64_t advance = 0;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + (sector - from) * kSector;
    const int rc = engine.CarveSector(data, kSector, sector, pass, advance, run.filesFound);
    if (rc == 0) run.advances[sector] = advance;
    if (rc != 0 && rc != err::kInvalidParameter) {
      run.stopResult = rc;
      break;
    }
    EXPECT_GE(advance, 1u);
    sector += advance;
  }
  return run;
}

std::vector<FoundFileRecord> RootRecords(CFileTypeRecovery& engine) {
  EXPECT_EQ(engine.FlushLog(), 0);
  std::vector<FoundFileRecord> out;
  EXPECT_EQ(engine.ListChildren(nullptr, 0, out), 0);
  std::sort(out.begin(), out.end(), [](const FoundFileRecord& a, const FoundFileRecord& b) {
    return a.anchorSector < b.anchorSector;
  });
  return out;
}

class FileTypeRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineContext context;
    context.scanFolder = dir_ / "scan";
    engine_.SetContext(context);
  }
  std::string Recover(const FoundFileRecord& record) {
    const fs::path to = dir_ / "out" / record.Name();
    EXPECT_EQ(engine_.RecoverItem(record, to.string(), 0), 0) << record.Name();
    return fs::exists(to) ? test::ReadBytes(to) : "<missing>";
  }

  test::TempDir dir_;
  CFileTypeRecovery engine_;
};

// A JPEG at sector 123456 is named after it and moves the pass past its
// 20 sectors; a bitmap's size comes from its own header, so the pass goes on
// inside it and still finds the JPEG stored in its pixel area.
TEST_F(FileTypeRecoveryTest, CarvesNamesAndAdvances) {
  constexpr uint64_t kJpegAt = 123456, kBmpAt = 123500, kInnerJpegAt = 123504;
  CarvingImage image(dir_ / "card.img", 124000, 123400, 123600);
  const std::string jpeg = Jpeg(10000, 1);
  const std::string inner = Jpeg(1500, 2);
  std::string bmp = Bitmap(6000, 6000, 3);
  bmp.replace((kInnerJpegAt - kBmpAt) * kSector, inner.size(), inner);
  // Blank slack after the inner JPEG's footer, as where it was first written.
  const size_t innerEnd = (kInnerJpegAt - kBmpAt) * kSector + inner.size();
  bmp.replace(innerEnd, kSector - inner.size() % kSector, kSector - inner.size() % kSector, '\0');
  image.Put(kJpegAt, jpeg);
  image.Put(kBmpAt, bmp);
  ASSERT_EQ(engine_.OpenImage(image.path().string(), 'K'), 0);

  const CarveRun run = CarveRange(engine_, image.path(), 123400, 123600);
  EXPECT_EQ(run.stopResult, 0);
  EXPECT_EQ(run.advances, (std::map<uint64_t, uint64_t>{{kJpegAt, 20}, {kBmpAt, 1}, {kInnerJpegAt, 3}}));
  EXPECT_EQ(run.filesFound, 3u);

  const std::vector<FoundFileRecord> found = RootRecords(engine_);
  ASSERT_EQ(found.size(), 3u);
  const FoundFileRecord& j = found[0];
  EXPECT_EQ(j.Name(), "123456.jpg");
  EXPECT_EQ(+j.anchorSector, kJpegAt);
  EXPECT_EQ(+j.fileSize, 10000u);
  EXPECT_EQ(+j.volumeLetter, int{'K'});
  EXPECT_EQ(+j.engineKind, 4u);
  EXPECT_EQ(+j.contentOk, 1u);
  EXPECT_EQ(+j.isDirectory, 0u);
  EXPECT_EQ(+j.isDeleted, 0u);
  EXPECT_EQ(+j.entryId, 0u);
  EXPECT_EQ(+j.clusterBytes, 0xFFFFFFFFu);
  EXPECT_EQ(+j.volumeStartSector, 0u);
  EXPECT_EQ(+j.writeTime, 0u);
  EXPECT_EQ(found[1].Name(), "123500.bmp");
  EXPECT_EQ(+found[1].fileSize, 6000u);
  EXPECT_EQ(found[2].Name(), "123504.jpg");

  // Record indexes are the 1-based positions in the log.
  std::vector<uint32_t> indexes;
  for (const FoundFileRecord& r : found) indexes.push_back(+r.recordIndex);
  std::sort(indexes.begin(), indexes.end());
  EXPECT_EQ(indexes, (std::vector<uint32_t>{1, 2, 3}));
  uint32_t count = 0;
  EXPECT_EQ(engine_.CountFiles(nullptr, 0, &count), 0);
  EXPECT_EQ(count, 3u);
  std::string path = "x";
  EXPECT_EQ(engine_.GetFullPath(j, path), 0);
  EXPECT_EQ(path, "");

  EXPECT_EQ(Recover(found[0]), jpeg);
  EXPECT_EQ(Recover(found[1]), bmp);
  EXPECT_EQ(Recover(found[2]), inner);

  std::string previewPath;
  ASSERT_EQ(engine_.ExtractForPreview(found[0], previewPath, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(test::ReadBytes(previewPath), jpeg);
}

// Nothing carved runs past the last sector of the volume, whatever its
// header claims or however far its data seems to go.
TEST_F(FileTypeRecoveryTest, CarvedFileStopsAtTheVolumeEnd) {
  constexpr uint64_t kSectors = 300;
  CarvingImage image(dir_ / "cut.img", kSectors, 250, kSectors);
  const std::string bmp = Bitmap(100000, 2 * kSector, 4);   // claims far more than the image
  const std::string open = Jpeg(20 * kSector, 5).substr(0, 10 * kSector);  // footer lost
  image.Put(270, bmp);
  image.Put(kSectors - 10, open);
  ASSERT_EQ(engine_.OpenImage(image.path().string(), 0), 0);

  const CarveRun run = CarveRange(engine_, image.path(), 250, kSectors);
  EXPECT_EQ(run.advances, (std::map<uint64_t, uint64_t>{{270, 1}, {kSectors - 10, 10}}));
  const std::vector<FoundFileRecord> found = RootRecords(engine_);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(+found[0].fileSize, (kSectors - 270) * kSector);
  EXPECT_EQ(+found[1].fileSize, 10 * kSector);
  EXPECT_EQ(Recover(found[1]), open);

  // A sector outside the volume starts nothing.
  uint64_t advance = 0, files = 0;
  const std::string sector = image.SectorAt(270);
  EXPECT_EQ(engine_.CarveSector(reinterpret_cast<const uint8_t*>(sector.data()), kSector,
                                kSectors, {}, advance, files),
            err::kInvalidParameter);
  EXPECT_EQ(advance, 1u);
  EXPECT_EQ(files, 0u);

  // A partition's end counts, not the disk's: sectors 100-199 of the same
  // image opened as a drive, with the footer-less JPEG laid at 190.
  image.Put(190, open);
  DiskTable disks({image.path().string()});
  EngineContext context;
  context.scanFolder = dir_ / "scan";
  context.diskTable = &disks;
  CFileTypeRecovery partition;
  partition.SetContext(context);
  ASSERT_EQ(partition.OpenDisk(0, 100, 100, 0), 0);
  EXPECT_TRUE(partition.log()->MainPath().filename().string().starts_with("File_Type_100_"));
  const CarveRun inPartition = CarveRange(partition, image.path(), 180, 200);
  EXPECT_EQ(inPartition.advances, (std::map<uint64_t, uint64_t>{{190, 10}}));
  const std::vector<FoundFileRecord> partitionFiles = RootRecords(partition);
  ASSERT_EQ(partitionFiles.size(), 1u);
  EXPECT_EQ(+partitionFiles[0].fileSize, 10u * kSector);
  EXPECT_EQ(+partitionFiles[0].anchorSector, 190u);
}

// Copy-out over bad sectors delivers the whole file with zeros where the
// disk failed and says where; a record reaching past the end of the source
// (an image cut short since the scan) ends with a read fault and keeps what
// was read apart as .partial.
TEST_F(FileTypeRecoveryTest, CopyOutThroughUnreadableSectors) {
  CarvingImage image(dir_ / "bad.img", 200, 0, 200);
  const std::string jpeg = Jpeg(70000, 7);  // more than one 64 KiB piece
  image.Put(40, jpeg);
  ASSERT_EQ(engine_.OpenImage(image.path().string(), 0), 0);
  CarveRange(engine_, image.path(), 0, 200);
  const std::vector<FoundFileRecord> found = RootRecords(engine_);
  ASSERT_EQ(found.size(), 1u);
  ASSERT_EQ(+found[0].fileSize, jpeg.size());

  // Sectors 2-3 of the file and one in its second piece cannot be read.
  engine_.source().MarkUnreadable(42, 2, kSector);
  engine_.source().MarkUnreadable(40 + 130, 1, kSector);
  const fs::path to = dir_ / "out" / "damaged.jpg";
  EXPECT_EQ(engine_.RecoverItem(found[0], to.string(), 0), err::kCrc);
  std::string expected = jpeg;
  expected.replace(2 * kSector, 2 * kSector, 2 * kSector, '\0');
  expected.replace(130 * kSector, kSector, kSector, '\0');
  EXPECT_TRUE(test::ReadBytes(to) == expected);
  const std::vector<RecoveryProblem> problems = engine_.RecoveryProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].unreadable, (std::vector<ByteRange>{{2 * kSector, 2 * kSector},
                                                            {130 * kSector, kSector}}));

  FoundFileRecord beyond = found[0];
  beyond.anchorSector = 190;
  const fs::path cut = dir_ / "out" / "cut.jpg";
  EXPECT_EQ(engine_.RecoverItem(beyond, cut.string(), 0), err::kReadFault);
  EXPECT_FALSE(fs::exists(cut));
  EXPECT_EQ(fs::file_size(cut.string() + ".partial"), 10u * kSector);
}

int CancelEveryReport(void*, int, int, int64_t, uint64_t, uint64_t, uint64_t, int) {
  return err::kCancelled;
}

// The user's stop while a file is being measured ends the pass with the
// cancel code and records nothing: a JPEG scanned for its footer, and an MP3
// walked frame by frame.
TEST_F(FileTypeRecoveryTest, CancelDuringSizingTravelsOut) {
  std::string mp3 = "ID3\x03\x00\x00\x00\x00\x00\x00"s;
  for (int i = 0; i < 400; ++i) mp3 += "\xFF\xFB\x90\x64"s + RandomBytes(413, 20 + i);
  for (const std::string& file : {Jpeg(200 * kSector, 6), mp3}) {
    SCOPED_TRACE(file.substr(0, 3));
    CFileTypeRecovery engine;
    EngineContext context;
    context.scanFolder = dir_ / "scan";
    engine.SetContext(context);
    CarvingImage image(dir_ / "stop.img", 600, 0, 600);
    image.Put(100, file);
    ASSERT_EQ(engine.OpenImage(image.path().string(), 0), 0);
    engine.SetCallbacks(CancelEveryReport, nullptr, nullptr, 100);

    const CarveRun run = CarveRange(engine, image.path(), 90, 600);
    EXPECT_EQ(run.stopResult, err::kCancelled);
    EXPECT_EQ(run.filesFound, 0u);
    EXPECT_TRUE(RootRecords(engine).empty());
  }
}

// A pass stopped part-way and resumed from an earlier position (the log ran
// ahead of the stored position) appends to the same log, and every file is
// listed once, as after a pass that never stopped.
TEST_F(FileTypeRecoveryTest, ResumedPassRecordsNothingTwice) {
  CarvingImage image(dir_ / "resume.img", 400, 0, 400);
  const std::vector<uint64_t> starts = {20, 60, 140, 220, 330};
  for (size_t i = 0; i < starts.size(); ++i)
    image.Put(starts[i], Jpeg(3000 + 700 * i, static_cast<uint32_t>(10 + i)));
  ASSERT_EQ(engine_.OpenImage(image.path().string(), 'R'), 0);
  CarveRun first = CarveRange(engine_, image.path(), 0, 230);
  EXPECT_EQ(first.filesFound, 4u);
  ASSERT_EQ(engine_.FlushLog(), 0);
  const fs::path logPath = engine_.log()->MainPath();

  CFileTypeRecovery resumed;
  EngineContext context;
  context.scanFolder = dir_ / "scan";
  resumed.SetContext(context);
  ASSERT_EQ(resumed.ReopenLog(logPath.string(), image.path().string(), -1, 0, 0, 'R', kSector, 100),
            0);
  const CarveRun second = CarveRange(resumed, image.path(), 100, 400, first.filesFound);
  EXPECT_EQ(second.filesFound, 5u);
  // Already-recorded files still move the pass on by their length.
  EXPECT_EQ(second.advances.at(140), (3000 + 1400 + kSector - 1) / kSector);

  const std::vector<FoundFileRecord> found = RootRecords(resumed);
  std::vector<uint64_t> anchors;
  for (const FoundFileRecord& r : found) anchors.push_back(+r.anchorSector);
  EXPECT_EQ(anchors, starts);
  EXPECT_EQ(resumed.RecordCount(), starts.size());
  EXPECT_EQ(resumed.log()->MainPath(), logPath);
}

}  // namespace
}  // namespace qm
