// The NTFS deep engine on hand-built MFT records laid into a blank image:
// cluster-size guessing and learning, folders found as neighbours in a
// contiguous MFT or through an old MFT's own runs, lost folders, and
// records that would lead a careless parser astray.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

#include "engines/deep/ntfs/ntfs_cluster_size.h"
#include "engines/deep/ntfs/professional_ntfs_recovery.h"
#include "engines/ntfs/ntfs_file_record.h"
#include "ntfs_fixture.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::FileNameValue;
using test::RecordBuilder;
using test::ResidentAttribute;

constexpr uint32_t kSector = 512;
constexpr uint64_t kImageSectors = 4096;  // 2 MiB: guessed at 8 sectors per cluster
constexpr uint16_t kInUse = 0x01;
constexpr uint16_t kDirectory = 0x02;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Folder(uint32_t number, uint32_t parent, const std::u16string& name) {
  return RecordBuilder(number, kInUse | kDirectory)
      .Add(ResidentAttribute(0x30, FileNameValue(parent, name)))
      .Build();
}

std::vector<uint8_t> File(uint32_t number, uint32_t parent, const std::u16string& name,
                          const std::string& content, uint16_t flags = 0) {
  return RecordBuilder(number, flags)
      .Add(ResidentAttribute(0x30, FileNameValue(parent, name)))
      .Add(ResidentAttribute(0x80, Bytes(content)))
      .Build();
}

class NtfsDeepRecordsTest : public ::testing::Test {
 protected:
  void Place(uint64_t sector, const std::vector<uint8_t>& record) { placed_[sector] = record; }

  // Writes the image, opens the engine on it and hands it the file records
  // in disk order, as the combined pass does.
  void Scan() {
    Open();
    ASSERT_EQ(engine_->BeginDeepScan(""), 0);
    Feed(0, UINT64_MAX);
    ASSERT_EQ(engine_->FinishDeepScan(), 0);
  }

  void Open() {
    std::string image(kImageSectors * kSector, '\0');
    for (const auto& [sector, record] : placed_)
      image.replace(sector * kSector, record.size(), reinterpret_cast<const char*>(record.data()),
                    record.size());
    const fs::path path = dir_ / "records.img";
    test::WriteBytes(path, image);
    engine_ = std::make_unique<CProfessionalNtfsRecovery>();
    EngineContext context;
    context.scanFolder = dir_ / ("scan" + std::to_string(++scans_));
    engine_->SetContext(context);
    ASSERT_EQ(engine_->OpenImage(path.string(), 1), 0);
  }

  // Hands the engine the file records in [from, to), in disk order.
  void Feed(uint64_t from, uint64_t to) {
    for (const auto& [sector, record] : placed_) {
      ntfs::RecordHeader header;
      if (sector >= from && sector < to && ntfs::ParseRecordHeader(record, header) &&
          !(header.flags & kDirectory))
        engine_->OnFileRecord(record.data(), record.size(), sector);
    }
  }

  std::map<std::string, FoundFileRecord> List(const FoundFileRecord* folder, uint32_t depth) {
    std::vector<FoundFileRecord> records;
    EXPECT_EQ(engine_->ListChildren(folder, depth, records), 0);
    std::map<std::string, FoundFileRecord> byName;
    for (const FoundFileRecord& r : records) EXPECT_TRUE(byName.emplace(r.Name(), r).second) << r.Name();
    return byName;
  }

  std::string Recover(const FoundFileRecord& r) {
    const fs::path out = dir_ / "out" / r.Name();
    EXPECT_EQ(engine_->RecoverItem(r, out.string(), 0), 0);
    return fs::exists(out) ? test::ReadBytes(out) : "<missing>";
  }

  // Path below the root -> content of every file listed.
  std::map<std::string, std::string> AllFiles(const FoundFileRecord* folder = nullptr,
                                              uint32_t depth = 0, const std::string& prefix = "") {
    std::map<std::string, std::string> files;
    for (const auto& [name, r] : List(folder, depth)) {
      if (!r.isDirectory) {
        files[prefix + name] = Recover(r);
      } else if (depth < 8) {
        files.merge(AllFiles(&r, depth + 1, prefix + name + "/"));
      }
    }
    return files;
  }

  test::TempDir dir_;
  std::map<uint64_t, std::vector<uint8_t>> placed_;
  int scans_ = 0;
  std::unique_ptr<CProfessionalNtfsRecovery> engine_;
};

TEST(NtfsDeepClusterSizeTest, GuessedFromTheVolumeSizeThenShownByARecord) {
  struct Case {
    uint64_t mib;
    uint32_t bytesPerSector;
    int32_t expected;
  };
  for (const Case& c : {Case{5, 512, 8}, Case{300, 512, 1}, Case{700, 512, 2},
                        Case{1500, 512, 4}, Case{3072, 512, 8}, Case{3072, 4096, 1}}) {
    EXPECT_EQ(ntfs::GuessSectorsPerCluster(c.mib * 1048576 / c.bytesPerSector, c.bytesPerSector),
              c.expected)
        << c.mib << " MiB, " << c.bytesPerSector << "-byte sectors";
  }
  // 65,536 bytes allocated over 16 clusters: 8 sectors of 512 bytes each.
  test::NonResidentFields data;
  data.runList = {0x11, 0x10, 0x20, 0x00};
  data.dataSize = 65536;
  const auto record = RecordBuilder(40).Add(test::NonResidentAttribute(data)).Build();
  EXPECT_EQ(ntfs::SectorsPerClusterFromRecord(record, 512), 8);
  // A quotient that is no cluster size says nothing.
  data.dataSize = 3 * 16 * 512;
  const auto odd = RecordBuilder(40).Add(test::NonResidentAttribute(data)).Build();
  EXPECT_EQ(ntfs::SectorsPerClusterFromRecord(odd, 512), std::nullopt);
}

TEST_F(NtfsDeepRecordsTest, RecordsWithoutAnMftFindTheirFoldersAsNeighbours) {
  // A contiguous MFT whose record 0 would lie at sector 1024.
  const uint64_t base = 1024;
  Place(base + 40 * 2, Folder(40, 5, u"Projects"));
  Place(base + 41 * 2, File(41, 5, u"was a folder once.txt", "now a file"));
  Place(base + 70 * 2, File(70, 40, u"plan.txt", "the plan"));
  Place(base + 71 * 2, File(71, 41, u"orphan.txt", "left behind", kInUse));
  // Data in 16 clusters at cluster 1500; 16,384 bytes allocated make a
  // cluster of 2 sectors, not the 8 guessed for this small volume.
  test::NonResidentFields data;
  data.runList = {0x21, 0x10, 0xDC, 0x05, 0x00};
  data.dataSize = 10000;
  auto attribute = test::NonResidentAttribute(data);
  test::PutLe(attribute, 0x28, 16384, 8);
  Place(base + 76 * 2, RecordBuilder(76)
                           .Add(ResidentAttribute(0x30, FileNameValue(40, u"report.bin")))
                           .Add(attribute)
                           .Build());
  // A photo whose bytes are no photo's: listed only when damaged files are asked for.
  Place(base + 77 * 2, File(77, 5, u"fake.jpg", "plain text, no JPEG"));
  const std::string report = test::MakeContent(10000, 8);
  Place(1500 * 2, std::vector<uint8_t>(report.begin(), report.end()));
  Scan();
  EXPECT_EQ(engine_->sectorsPerCluster(), 2);

  const auto root = List(nullptr, 0);
  ASSERT_EQ(root.count("Projects"), 1u);
  EXPECT_EQ(uint32_t{root.at("Projects").isDirectory}, 1u);
  EXPECT_EQ(uint64_t{root.at("Projects").anchorSector}, base + 80);
  const auto projects = List(&root.at("Projects"), 1);
  ASSERT_EQ(projects.count("plan.txt"), 1u);
  const FoundFileRecord& plan = projects.at("plan.txt");
  EXPECT_EQ(uint32_t{plan.engineKind}, static_cast<uint32_t>(EngineKind::kNtfsDeep));
  EXPECT_EQ(uint64_t{plan.anchorSector}, base + 140);
  EXPECT_EQ(uint64_t{plan.volumeStartSector}, 0u);
  EXPECT_EQ(uint32_t{plan.clusterBytes}, 8u * kSector);
  EXPECT_EQ(Recover(plan), "the plan");
  std::string path;
  EXPECT_EQ(engine_->GetFullPath(plan, path), 0);
  EXPECT_NE(path.find("Projects"), std::string::npos) << path;
  ASSERT_EQ(projects.count("report.bin"), 1u);
  EXPECT_EQ(uint32_t{projects.at("report.bin").clusterBytes}, 2u * kSector);
  EXPECT_TRUE(Recover(projects.at("report.bin")) == report);

  // Record 41 holds a file now: the folder it was is lost, its file is not.
  ASSERT_EQ(root.count("LostFolder41"), 1u);
  const auto lost = List(&root.at("LostFolder41"), 1);
  ASSERT_EQ(lost.count("orphan.txt"), 1u);
  EXPECT_EQ(Recover(lost.at("orphan.txt")), "left behind");
  EXPECT_EQ(root.count("was a folder once.txt"), 1u);

  EXPECT_EQ(root.count("fake.jpg"), 0u);
  engine_->SetIncludeDamaged(true);
  const auto withDamaged = List(nullptr, 0);
  ASSERT_EQ(withDamaged.count("fake.jpg"), 1u);
  EXPECT_EQ(uint32_t{withDamaged.at("fake.jpg").contentOk}, 0u);
}

TEST_F(NtfsDeepRecordsTest, HostileRecordsAreSkippedAndFolderLoopsCut) {
  const uint64_t base = 1024;
  // Two folders naming each other as parent.
  Place(base + 50 * 2, Folder(50, 51, u"ping"));
  Place(base + 51 * 2, Folder(51, 50, u"pong"));
  Place(base + 72 * 2, File(72, 50, u"in a loop.txt", "round and round"));
  // A folder naming itself.
  Place(base + 52 * 2, Folder(52, 52, u"self"));
  Place(base + 73 * 2, File(73, 52, u"in self.txt", "me"));
  // Bytes in use beyond the record.
  auto oversized = File(74, 5, u"too big.txt", "x");
  test::PutLe(oversized, 0x18, 4000, 4);
  Place(base + 74 * 2, oversized);
  // A parent reference far past the end of the image.
  Place(base + 75 * 2, File(75, 0x7FFFFFFF, u"far parent.txt", "far"));
  Scan();

  const std::map<std::string, std::string> expected = {
      {"LostFolder51/ping/in a loop.txt", "round and round"},
      {"LostFolder52/in self.txt", "me"},
      {"LostFolder2147483647/far parent.txt", "far"},
  };
  EXPECT_EQ(AllFiles(), expected);
}

// A record whose write was cut short in its second sector: listed from its
// first sector alone (the name, and the size its $FILE_NAME gives; the $DATA
// lay in the torn sector) and marked damaged, with a warning that says so.
TEST_F(NtfsDeepRecordsTest, TornRecordIsListedFromItsSoundSectorAndMarkedDamaged) {
  const uint64_t base = 1024;
  Place(base + 60 * 2, File(60, 5, u"whole.txt", "intact"));
  Place(base + 61 * 2, RecordBuilder::Torn(RecordBuilder(61)
                                               .Add(ResidentAttribute(0x30, FileNameValue(5, u"torn.txt", 1, 777)))
                                               .Add(ResidentAttribute(0x80, std::vector<uint8_t>(600, 'd')))
                                               .Build(),
                                           1));
  Scan();
  const auto root = List(nullptr, 0);
  ASSERT_EQ(root.size(), 2u);
  const FoundFileRecord& torn = root.at("torn.txt");
  EXPECT_EQ(uint32_t{torn.contentOk}, kContentMismatch);
  EXPECT_EQ(uint64_t{torn.fileSize}, 777u);
  EXPECT_EQ(uint32_t{root.at("whole.txt").contentOk}, kContentOk);
  std::string warnings;
  for (const std::string& w : engine_->ScanWarnings()) warnings += w + "\n";
  EXPECT_NE(warnings.find("One MFT record was only partly written"), std::string::npos) << warnings;
}

// Valid records with bytes overwritten at random: sizes, offsets, run lists
// and parent references that point anywhere. Nothing may crash, hang or read
// outside its buffers (the sanitizers watch), and what is listed recovers.
TEST_F(NtfsDeepRecordsTest, ScrambledRecordsNeverCrashOrHang) {
  test::NonResidentFields data;
  data.runList = {0x21, 0x10, 0xDC, 0x05, 0x00};
  data.dataSize = 10000;
  const auto good = RecordBuilder(80)
                        .Add(ResidentAttribute(0x30, FileNameValue(40, u"scrambled.bin")))
                        .Add(test::NonResidentAttribute(data))
                        .Build();
  std::mt19937 rng(11);
  for (uint32_t i = 0; i < 400; ++i) {
    std::vector<uint8_t> record = good;
    for (int n = 0; n < 6; ++n) record[8 + rng() % (record.size() - 8)] = static_cast<uint8_t>(rng());
    // Keep the header's sizes plausible in half of them, so the walk gets far.
    if (i % 2 == 0) test::PutLe(record, 0x14, 0x48, 2);
    Place(1024 + i * 2, record);
  }
  Scan();
  // Damaged records may share names and may no longer say where their data
  // is: recovery then answers with an error, never with a crash.
  std::vector<FoundFileRecord> level, next;
  ASSERT_EQ(engine_->ListChildren(nullptr, 0, level), 0);
  size_t recovered = 0;
  for (uint32_t depth = 1; !level.empty() && depth < 8; ++depth, level.swap(next)) {
    next.clear();
    for (const FoundFileRecord& r : level) {
      if (r.isDirectory) {
        engine_->ListChildren(&r, depth, next);
        continue;
      }
      const fs::path out = dir_ / "out" / std::to_string(recovered++);
      if (engine_->RecoverItem(r, out.string(), 0) == 0) {
        EXPECT_LE(fs::file_size(out), uint64_t{r.fileSize});
      }
    }
  }
  EXPECT_GT(recovered, 0u);
}

// A scan that dies after a flush keeps the folders of the files it wrote; the
// resumed scan adds to the same log without listing a folder twice.
TEST_F(NtfsDeepRecordsTest, ResumedScanKeepsFoldersOfTheRunThatDied) {
  const uint64_t base = 1024;
  Place(base + 40 * 2, Folder(40, 5, u"Letters"));
  Place(base + 41 * 2, Folder(41, 40, u"2018"));
  Place(base + 42 * 2, Folder(42, 40, u"Old"));
  Place(base + 70 * 2, File(70, 41, u"first.txt", "one"));
  Place(base + 71 * 2, File(71, 42, u"kept.txt", "only met before the crash"));
  Place(base + 90 * 2, File(90, 41, u"second.txt", "two"));
  Open();
  ASSERT_EQ(engine_->BeginDeepScan(""), 0);
  Feed(0, base + 80 * 2);
  ASSERT_EQ(engine_->FlushLog(), 0);
  const std::string log = engine_->log()->MainPath().string();
  engine_.reset();  // no FinishDeepScan: the process died

  Open();
  ASSERT_EQ(engine_->BeginDeepScan(log), 0);
  Feed(base + 80 * 2, UINT64_MAX);
  ASSERT_EQ(engine_->FinishDeepScan(), 0);
  const std::map<std::string, std::string> expected = {
      {"Letters/2018/first.txt", "one"},
      {"Letters/2018/second.txt", "two"},
      {"Letters/Old/kept.txt", "only met before the crash"}};
  EXPECT_EQ(AllFiles(), expected);
}

TEST_F(NtfsDeepRecordsTest, OldMftRecordZeroLeadsRecordsToTheirFolders) {
  // An old MFT in two runs of 4 clusters: records 0-15 at cluster 100,
  // 16-31 at cluster 300. Record 20 in the second run names folder 14 in
  // the first, which no neighbour search would find.
  test::NonResidentFields runs;
  runs.runList = {0x11, 0x04, 0x64, 0x21, 0x04, 0xC8, 0x00, 0x00};
  runs.dataSize = 8 * 8 * kSector;
  const auto mft = RecordBuilder(0, kInUse)
                       .Add(ResidentAttribute(0x30, FileNameValue(5, u"$MFT")))
                       .Add(test::NonResidentAttribute(runs))
                       .Build();
  const uint64_t folderSector = 800 + 14 * 2, fileSector = 2400 + (20 - 16) * 2;
  Place(folderSector, Folder(14, 5, u"Old folder"));
  Place(fileSector, File(20, 14, u"old.txt", "from the old volume"));

  Scan();
  EXPECT_EQ(List(nullptr, 0).count("LostFolder14"), 1u);

  Place(800, mft);
  Scan();
  EXPECT_EQ(engine_->mftCopies(), 1u);
  const auto root = List(nullptr, 0);
  ASSERT_EQ(root.count("Old folder"), 1u);
  const auto inside = List(&root.at("Old folder"), 1);
  ASSERT_EQ(inside.count("old.txt"), 1u);
  EXPECT_EQ(Recover(inside.at("old.txt")), "from the old volume");
}

}  // namespace
}  // namespace qm
