// The combined deep scan end to end: the quick pass, free space or the whole
// volume, carving, merged listings without duplicates, and resuming after a
// stop or a crash.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "engines/deep/professional_recovery.h"
#include "engines/engine_factory.h"
#include "platform/errors.h"
#include "results/scan_history.h"
#include "support/faulty_device.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kSector = 512;

// Bytes without 0xFF, so that nothing inside a body looks like a marker.
std::string Body(size_t bytes, uint32_t seed) {
  std::string body = test::MakeContent(bytes, seed);
  for (char& c : body)
    if (static_cast<uint8_t>(c) == 0xFF) c = 0x7F;
  return body;
}

std::string Jpeg(size_t bytes, uint32_t seed) { return test::JpegLike(bytes, seed, {.noMarkersInside = true}); }

std::string Png(size_t bytes, uint32_t seed) {
  const std::string head("\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR", 16);
  const std::string tail("\x00\x00\x00\x00IEND\xAE\x42\x60\x82", 12);
  return head + Body(bytes - head.size() - tail.size(), seed) + tail;
}

struct Placed {
  uint64_t sector;
  std::string bytes;
};

// Random sectors with the files written at their sectors; each file's last
// sector is filled up with zeros, as a file system leaves it.
fs::path RawImage(const fs::path& path, uint64_t sectors, const std::vector<Placed>& files) {
  std::string image = test::MakeContent(sectors * kSector, 4242);
  for (const Placed& f : files) {
    const size_t at = f.sector * kSector;
    const size_t padded = (f.bytes.size() + kSector - 1) / kSector * kSector;
    const size_t room = std::min(padded, image.size() - at);
    std::string piece = f.bytes;
    piece.resize(padded, '\0');
    image.replace(at, room, piece, 0, room);
  }
  test::WriteBytes(path, image);
  return path;
}

struct Progress {
  std::vector<int> percents;  // step * scale / 100 of every call
  uint64_t lastDone = 0;
  bool doneWentBack = false;
  // Answer -9527 once this many sectors are done (0: never).
  uint64_t stopAt = 0;
  bool killAtStop = false;
};

int OnProgress(void* user, int step, int scale, int64_t, uint64_t done, uint64_t total,
               uint64_t, int) {
  auto& p = *static_cast<Progress*>(user);
  p.percents.push_back(step * scale / 100);
  if (total != 0) {
    if (done < p.lastDone) p.doneWentBack = true;
    p.lastDone = done;
  }
  if (p.stopAt != 0 && done >= p.stopAt && done < total) {
    if (p.killAtStop) ::raise(SIGKILL);
    return err::kCancelled;
  }
  return 0;
}

class DeepScanTest : public ::testing::Test {
 protected:
  std::unique_ptr<CProfessionalRecovery> Open(const fs::path& image) {
    int error = 0;
    EngineContext context;
    context.history = &history_;
    auto engine = EngineFactory::CreateEngineForImage(image.string(), 1, true, &error, context);
    EXPECT_EQ(error, 0);
    auto* deep = dynamic_cast<CProfessionalRecovery*>(engine.get());
    EXPECT_NE(deep, nullptr);
    if (deep == nullptr) return nullptr;
    engine.release();
    return std::unique_ptr<CProfessionalRecovery>(deep);
  }

  // Name -> size of every file in the merged root listing.
  static std::map<std::string, uint64_t> Root(CProfessionalRecovery& engine) {
    std::vector<FoundFileRecord> records;
    EXPECT_EQ(engine.ListChildren(nullptr, 0, records), 0);
    std::map<std::string, uint64_t> files;
    for (const FoundFileRecord& r : records) {
      if (r.isDirectory) continue;
      EXPECT_TRUE(files.emplace(r.Name(), uint64_t{r.fileSize}).second) << "listed twice: " << r.Name();
    }
    return files;
  }

  std::string Recover(CProfessionalRecovery& engine, const std::string& name,
                      int expectedResult = err::kSuccess) {
    std::vector<FoundFileRecord> records;
    engine.ListChildren(nullptr, 0, records);
    for (const FoundFileRecord& r : records) {
      if (r.Name() != name) continue;
      const fs::path out = dir_ / "out" / name;
      EXPECT_EQ(engine.RecoverItem(r, out.string(), 0), expectedResult) << name;
      return fs::exists(out) ? test::ReadBytes(out) : "<missing>";
    }
    ADD_FAILURE() << name << " not listed";
    return {};
  }

  test::TempDir dir_;
  ScanHistory history_{dir_ / "ScanLog"};
};

TEST_F(DeepScanTest, UnknownVolumeIsCarvedWholeAndFilesComeBackExact) {
  const std::string jpeg = Jpeg(10000, 1), png = Png(3000, 2), cut = Jpeg(3000, 3);
  const fs::path image = RawImage(dir_ / "raw.img", 8192,
                                  {{100, jpeg}, {3000, png}, {8190, cut}});
  auto engine = Open(image);
  ASSERT_TRUE(engine);
  Progress progress;
  engine->SetCallbacks(OnProgress, nullptr, &progress, 100);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_FALSE(engine->FreeSpaceOnly());

  const auto files = Root(*engine);
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(files.at("100.jpg"), jpeg.size());
  EXPECT_EQ(files.at("3000.png"), png.size());
  // Cut by the end of the volume: two sectors are left of it.
  EXPECT_EQ(files.at("8190.jpg"), 2u * kSector);
  EXPECT_TRUE(Recover(*engine, "100.jpg") == jpeg) << "100.jpg";
  EXPECT_TRUE(Recover(*engine, "3000.png") == png) << "3000.png";
  EXPECT_TRUE(Recover(*engine, "8190.jpg") == cut.substr(0, 2 * kSector)) << "8190.jpg";

  uint32_t count = 0;
  EXPECT_EQ(engine->CountFiles(nullptr, 0, &count), 0);
  EXPECT_EQ(count, 3u);
  ASSERT_FALSE(progress.percents.empty());
  EXPECT_GE(progress.percents.front(), 9);  // the pass starts after the quick part
  EXPECT_EQ(progress.percents.back(), 100);
  EXPECT_FALSE(progress.doneWentBack);
  EXPECT_EQ(engine->Position().totalDone, 8192u);
}

TEST_F(DeepScanTest, UnreadableAreaIsPassedOverAndReported) {
  const std::string before = Jpeg(9000, 5), after = Png(7000, 6);
  const fs::path image = RawImage(dir_ / "bad.img", 8192, {{100, before}, {6000, after}});
  test::FaultyDevice device;
  std::string why;
  if (!device.Create(image, {{2000, 16}}, why)) GTEST_SKIP() << why;
  auto engine = Open(device.path());
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_EQ(Root(*engine), (std::map<std::string, uint64_t>{{"100.jpg", before.size()},
                                                           {"6000.png", after.size()}}));
  EXPECT_TRUE(Recover(*engine, "6000.png") == after);
  const auto warnings = engine->ScanWarnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("2000-2015"), std::string::npos) << warnings[0];
}

// A bitmap whose size comes from its header alone: the pass goes on through
// it sector by sector.
std::string Bmp(size_t bytes, uint32_t seed) {
  std::string head("BM\0\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18);
  for (int i = 0; i < 4; ++i) head[2 + i] = static_cast<char>((bytes >> (8 * i)) & 0xFF);
  return head + Body(bytes - head.size(), seed);
}

// Unreadable sectors inside carved files, met by the size finder (inside
// the JPEG) and by the pass after the file was recorded (inside the bitmap,
// in the next read-ahead block): every file is still found whole, the ones
// holding bad sectors are marked, and they come back with zeros there,
// reported as damaged.
class DeepScanFaultsTest : public DeepScanTest {
 protected:
  const std::vector<SectorRange> bad_{{120, 4}, {2300, 2}, {6000, 8}};
  const std::string jpeg_ = Jpeg(30000, 21), png_ = Png(6000, 22), bmp_ = Bmp(200 * 1024, 23);
  const fs::path image_ =
      RawImage(dir_ / "faults.img", 8192, {{100, jpeg_}, {1000, png_}, {2000, bmp_}});

  // Scans `source` (the image, or a device serving it with bad_ failing);
  // `markInProcess` makes bad_ unreadable inside the deep pass's own source
  // instead, so that every other reader learns them from the pass.
  void ScanAndCheck(const fs::path& source, bool markInProcess);
};

TEST_F(DeepScanFaultsTest, SectorsTheDeepPassCannotReadReachEveryReader) {
  ScanAndCheck(image_, true);
}

TEST_F(DeepScanFaultsTest, SectorsTheDiskRefusesAreReadAsZerosInsideFiles) {
  test::FaultyDevice device;
  std::string why;
  std::vector<test::FaultyDevice::Range> ranges;
  for (const SectorRange& r : bad_) ranges.push_back({r.first, r.count});
  if (!device.Create(image_, ranges, why)) GTEST_SKIP() << why;
  ScanAndCheck(device.path(), false);
}

void DeepScanFaultsTest::ScanAndCheck(const fs::path& source, bool markInProcess) {
  const std::string &jpeg = jpeg_, &png = png_, &bmp = bmp_;
  auto engine = Open(source);
  ASSERT_TRUE(engine);
  if (markInProcess)
    for (const SectorRange& r : bad_) engine->source().MarkUnreadable(r.first, r.count, kSector);
  ASSERT_EQ(engine->Scan(nullptr), 0);

  std::vector<FoundFileRecord> records;
  ASSERT_EQ(engine->ListChildren(nullptr, 0, records), 0);
  std::map<std::string, std::pair<uint64_t, uint32_t>> listed;
  for (const FoundFileRecord& r : records)
    listed[r.Name()] = {uint64_t{r.fileSize}, uint32_t{r.contentOk}};
  using Listed = std::pair<uint64_t, uint32_t>;
  EXPECT_EQ(listed["100.jpg"], Listed(jpeg.size(), kContentPartlyUnreadable));
  EXPECT_EQ(listed["1000.png"], Listed(png.size(), kContentOk));
  EXPECT_EQ(listed["2000.bmp"], Listed(bmp.size(), kContentPartlyUnreadable));

  const auto warnings = engine->ScanWarnings();
  ASSERT_EQ(warnings.size(), 1u);
  for (const char* range : {"120-123", "2300-2301", "6000-6007"})
    EXPECT_NE(warnings[0].find(range), std::string::npos) << warnings[0];

  EXPECT_TRUE(Recover(*engine, "1000.png") == png);
  EXPECT_TRUE(engine->RecoveryProblems().empty());
  struct Case {
    std::string name, original;
    uint64_t badOffset, badBytes;
  };
  for (const Case& c : {Case{"100.jpg", jpeg, 20 * kSector, 4 * kSector},
                        Case{"2000.bmp", bmp, 300 * kSector, 2 * kSector}}) {
    std::string expected = c.original;
    expected.replace(c.badOffset, c.badBytes, std::string(c.badBytes, '\0'));
    // Written whole, with the damage reported.
    EXPECT_TRUE(Recover(*engine, c.name, err::kCrc) == expected) << c.name;
    const auto problems = engine->RecoveryProblems();
    ASSERT_EQ(problems.size(), 1u) << c.name;
    EXPECT_TRUE(problems[0].damaged()) << c.name;
    EXPECT_EQ(problems[0].unreadable, (std::vector<ByteRange>{{c.badOffset, c.badBytes}}))
        << c.name;
  }

  // The marks are in the log: a listing of the stored scan shows them too.
  auto reopened = Open(source);
  ASSERT_TRUE(reopened);
  const fs::path log = engine->ScanFolder() / "x";
  ASSERT_EQ(reopened->Scan(log.c_str()), 0);
  records.clear();
  ASSERT_EQ(reopened->ListChildren(nullptr, 0, records), 0);
  size_t marked = 0;
  for (const FoundFileRecord& r : records) marked += r.contentOk == kContentPartlyUnreadable;
  EXPECT_EQ(marked, 2u);
}

class DeepScanFatTest : public DeepScanTest {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy"))
      GTEST_SKIP() << "mkfs.fat or mtools missing";
    test::FatImageBuilder fat(dir_ / "fat.img", 16, 16384, 4);
    ASSERT_TRUE(fat.Create());
    ASSERT_TRUE(fat.AddFile("LIVE.JPG", live_));
    ASSERT_TRUE(fat.AddFile("GONE.JPG", gone_));
    ASSERT_TRUE(fat.Delete("GONE.JPG"));
    image_ = fat.image();
    // A picture in free clusters near the end, known to no directory.
    std::string bytes = test::ReadBytes(image_);
    strayAt_ = bytes.size() / kSector - 64;
    bytes.replace(strayAt_ * kSector, stray_.size(), stray_);
    test::WriteBytes(image_, bytes);
  }

  // A deleted short name has lost its first letter.
  static constexpr const char* kGoneName = "!one.jpg";
  std::string live_ = Jpeg(6000, 11), gone_ = Jpeg(7000, 12), stray_ = Jpeg(5000, 13);
  fs::path image_;
  uint64_t strayAt_ = 0;
};

TEST_F(DeepScanFatTest, HealthyVolumeScansFreeSpaceAndListsEachFileOnce) {
  auto engine = Open(image_);
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_TRUE(engine->FreeSpaceOnly());
  const auto files = Root(*engine);
  // The deleted picture is carved too, from the same sector: only its named
  // record stays. The live one lies in used clusters and is not scanned.
  const std::string stray = std::to_string(strayAt_) + ".jpg";
  EXPECT_EQ(files, (std::map<std::string, uint64_t>{{kGoneName, gone_.size()},
                                                     {stray, stray_.size()}}));
  std::vector<FoundFileRecord> photos;
  EXPECT_GE(engine->ListByCategory("*.jpg", photos), 0);
  EXPECT_EQ(photos.size(), 2u);
  EXPECT_TRUE(Recover(*engine, kGoneName) == gone_) << kGoneName;
  EXPECT_TRUE(Recover(*engine, stray) == stray_) << stray;
}

TEST_F(DeepScanFatTest, WholeVolumeAlsoCarvesUsedClusters) {
  auto engine = Open(image_);
  ASSERT_TRUE(engine);
  engine->SetWholeVolume(true);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_FALSE(engine->FreeSpaceOnly());
  const auto files = Root(*engine);
  EXPECT_EQ(files.size(), 3u);  // GONE.JPG, the stray one, and the live one carved
  EXPECT_TRUE(files.count(kGoneName));
  size_t carvedLive = 0;
  for (const auto& [name, size] : files) carvedLive += size == live_.size();
  EXPECT_EQ(carvedLive, 1u);
}

TEST_F(DeepScanTest, NtfsFileAlsoCarvedIsListedOnceFromTheFileSystem) {
  QM_SKIP_IF_MISSING(test::MissingNtfsMount());
  test::NtfsImageBuilder ntfs(dir_ / "ntfs.img", 16);
  const std::string gone = Jpeg(20000, 31);
  ASSERT_TRUE(ntfs.Create());
  ASSERT_TRUE(ntfs.Mount());
  ASSERT_TRUE(ntfs.AddFile("holiday.jpg", gone));
  ASSERT_TRUE(ntfs.Delete("holiday.jpg"));
  ASSERT_TRUE(ntfs.Unmount());

  auto engine = Open(ntfs.image());
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_TRUE(engine->FreeSpaceOnly());
  std::vector<FoundFileRecord> photos;
  EXPECT_GE(engine->ListByCategory("*.jpg", photos), 0);
  ASSERT_EQ(photos.size(), 1u);
  EXPECT_EQ(photos[0].Name(), "holiday.jpg");
  EXPECT_EQ(uint32_t{photos[0].engineKind}, static_cast<uint32_t>(EngineKind::kNtfsQuick));
  EXPECT_EQ(Root(*engine).count("holiday.jpg"), 1u);
  EXPECT_TRUE(Recover(*engine, "holiday.jpg") == gone) << "holiday.jpg";
}

class DeepScanResumeTest : public DeepScanTest {
 protected:
  void SetUp() override {
    std::vector<Placed> files;
    for (uint64_t i = 0; i < 16; ++i)
      files.push_back({300 + i * 3001, i % 2 ? Png(4000 + i * 700, 20 + i) : Jpeg(9000 + i * 500, 20 + i)});
    image_ = RawImage(dir_ / "big.img", 49152, files);  // 24 MiB: several read blocks
    auto engine = Open(image_);
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->Scan(nullptr), 0);
    whole_ = Root(*engine);
    ASSERT_EQ(whole_.size(), 16u);
  }

  fs::path image_;
  std::map<std::string, uint64_t> whole_;
};

TEST_F(DeepScanResumeTest, StoppedScanResumesIntoTheSameLogsAndEndsWithTheSameListing) {
  fs::path folder;
  {
    auto engine = Open(image_);
    ASSERT_TRUE(engine);
    EXPECT_FALSE(engine->ResumeAvailable());  // the scan in SetUp ran to its end
    Progress progress;
    progress.stopAt = 49152 / 2;
    engine->SetCallbacks(OnProgress, nullptr, &progress, 100);
    ASSERT_EQ(engine->Scan(nullptr), err::kCancelled);
    folder = engine->ScanFolder();
    EXPECT_LT(Root(*engine).size(), whole_.size());
  }
  auto engine = Open(image_);
  ASSERT_TRUE(engine);
  ASSERT_TRUE(engine->ResumeAvailable());
  EXPECT_GE(uint64_t{engine->ResumeEntry().totalDone}, 49152u / 2);
  EXPECT_LT(uint64_t{engine->ResumeEntry().totalDone}, 49152u);
  Progress progress;
  engine->SetCallbacks(OnProgress, nullptr, &progress, 100);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_EQ(engine->ScanFolder(), folder);
  EXPECT_EQ(Root(*engine), whole_);
  // The resumed pass went on from where it stopped rather than from the start.
  ASSERT_FALSE(progress.percents.empty());
  EXPECT_GE(progress.percents.front(), 50);
  size_t carvingLogs = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    carvingLogs += name.starts_with("File_Type_") && !name.ends_with("_Relation") &&
                   !name.ends_with("_DirInfo");
  }
  EXPECT_EQ(carvingLogs, 1u);
}

TEST_F(DeepScanResumeTest, KilledScanResumesNearWhereItWasWithoutListingAFileTwice) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child scans with the position saved after every block and is
    // killed half-way, as by a power cut or the out-of-memory killer.
    auto engine = Open(image_);
    if (!engine) ::_exit(2);
    engine->SetSaveInterval(std::chrono::milliseconds(0));
    Progress progress;
    progress.stopAt = 49152 / 2;
    progress.killAtStop = true;
    engine->SetCallbacks(OnProgress, nullptr, &progress, 100);
    engine->Scan(nullptr);
    ::_exit(3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

  history_.Load(dir_ / "ScanLog");
  auto engine = Open(image_);
  ASSERT_TRUE(engine);
  ASSERT_TRUE(engine->ResumeAvailable());
  EXPECT_GT(uint64_t{engine->ResumeEntry().totalDone}, 0u);
  Progress progress;
  engine->SetCallbacks(OnProgress, nullptr, &progress, 100);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  EXPECT_EQ(Root(*engine), whole_);
  ASSERT_FALSE(progress.percents.empty());
  EXPECT_GE(progress.percents.front(), 30);
}

}  // namespace
}  // namespace qm
