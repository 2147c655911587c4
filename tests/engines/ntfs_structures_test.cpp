// Decoding of NTFS structures from hand-built bytes: fixups, run lists,
// record-number mapping, resident data, attribute lists, LZNT1, data
// streams, and records built to break the parsers.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "engines/ntfs/lznt1.h"
#include "engines/ntfs/ntfs_data_reader.h"
#include "engines/ntfs/ntfs_file_name.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_volume.h"
#include "ntfs_fixture.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

using namespace qm::ntfs;

// The first attribute of a record as a driver reads it: fixups applied.
Attribute FirstAttribute(std::vector<uint8_t>& record) {
  EXPECT_EQ(ApplyFixups(record), record.size());
  AttributeWalker walker(record);
  Attribute a;
  EXPECT_TRUE(walker.Next(a));
  return a;
}

// A tiny volume: 512-byte sectors and clusters, the $MFT at cluster 16
// holding 32 records of 1024 bytes; record n lies at sector 16 + 2n.
class SmallVolume {
 public:
  static constexpr uint64_t kMftCluster = 16;
  static constexpr uint64_t kSectors = 4096;

  SmallVolume() : image_(kSectors * 512, 0) {
    geometry_.bytesPerSector = 512;
    geometry_.sectorsPerCluster = 1;
    geometry_.sectorsPerRecord = 2;
    geometry_.recordSize = 1024;
    geometry_.fixupCount = 2;
    geometry_.totalSectors = kSectors;
    geometry_.mftCluster = kMftCluster;
    geometry_.mftStartSector = kMftCluster;
  }

  void PutRecord(uint32_t number, const std::vector<uint8_t>& record) {
    std::memcpy(image_.data() + (kMftCluster + 2 * number) * 512, record.data(), record.size());
  }
  void PutCluster(uint64_t cluster, const std::string& bytes) {
    std::memcpy(image_.data() + cluster * 512, bytes.data(), bytes.size());
  }

  void PutSector(uint64_t sector, const uint8_t* bytes) { std::memcpy(image_.data() + sector * 512, bytes, 512); }

  NtfsVolume& Open() {
    path_ = dir_ / "volume.img";
    WriteBytes(path_, std::string(image_.begin(), image_.end()));
    EXPECT_EQ(source_.OpenImageSource(path_), 0);
    volume_ = NtfsVolume(&source_, geometry_);
    volume_.SetMftRuns({{64, static_cast<int64_t>(kMftCluster), kMftCluster, false}});
    return volume_;
  }

 private:
  TempDir dir_;
  std::vector<uint8_t> image_;
  NtfsGeometry geometry_;
  fs::path path_;
  SectorSource source_;
  NtfsVolume volume_;
};

// Every block's last word must be the update sequence number before its
// saved word goes back; the record is sound only up to the first block
// whose write did not happen.
TEST(NtfsFixups, RestoresBlockEndsUpToTheFirstTornBlock) {
  struct Case {
    size_t size;
    size_t tornFrom;  // first block still ending in the older number (size / 512: none)
    size_t sound;     // bytes ApplyFixups reports sound
  };
  for (const Case& c : {Case{1024, 2, 1024}, Case{1024, 1, 512}, Case{1024, 0, 0}, Case{4096, 8, 4096},
                        Case{4096, 3, 1536}, Case{4096, 7, 3584}}) {
    std::vector<uint8_t> record = RecordBuilder(40, 0, c.size).Build();
    // Saved words 0x1100 + i, as if the blocks had ended in them.
    for (size_t i = 0; i < c.size / 512; ++i) PutLe(record, 0x32 + 2 * i, 0x1100 + i, 2);
    record = RecordBuilder::Torn(record, c.tornFrom);
    const std::string what = std::to_string(c.size) + " bytes torn from block " + std::to_string(c.tornFrom);
    EXPECT_EQ(ApplyFixups(record), c.sound) << what;
    for (size_t i = 0; i < c.sound / 512; ++i)
      EXPECT_EQ(Le16(record.data() + (i + 1) * 512 - 2), 0x1100 + i) << what << ", block " << i;
  }
}

TEST(NtfsFixups, ArrayOutsideTheFirstBlockIsNotUsed) {
  std::vector<uint8_t> record = RecordBuilder(40).Build();
  PutLe(record, 0x04, 0x1FC, 2);  // would end past byte 510
  PutLe(record, 0x32, 0x1234, 2);
  EXPECT_EQ(ApplyFixups(record), record.size());
  EXPECT_EQ(Le16(record.data() + 510), 0x1234);  // the default place, 0x30
}

TEST(NtfsRunList, DecodesMappingPairs) {
  struct Case {
    const char* what;
    std::vector<uint8_t> pairs;
    std::vector<DataRun> runs;  // clusterCount, lcnDelta, lcn, sparse
  };
  const std::vector<Case> cases = {
      {"one run", {0x31, 0x40, 0x00, 0x10, 0x00, 0x00}, {{64, 4096, 4096, false}}},
      {"negative delta back to cluster 0",
       {0x31, 0x40, 0x00, 0x10, 0x00, 0x21, 0x10, 0x00, 0xF0, 0x00},
       {{64, 4096, 4096, false}, {16, -4096, 0, false}}},
      {"sparse run keeps the running cluster",
       {0x31, 0x40, 0x00, 0x10, 0x00, 0x01, 0x08, 0x11, 0x04, 0x10, 0x00},
       {{64, 4096, 4096, false}, {8, 0, 0, true}, {4, 16, 4112, false}}},
      {"eight-byte fields", {0x88, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0}, {{1, 2, 2, false}}},
      {"offset field wider than 8 bytes ends the list", {0x91, 0x01, 0x00}, {}},
      {"empty length field ends the list", {0x10, 0x05, 0x00}, {}},
      {"zero-length run ends the list", {0x11, 0x00, 0x05, 0x00}, {}},
      {"run before cluster 0 ends the list", {0x11, 0x04, 0xF0, 0x00}, {}},
      {"pair reaching past the attribute", {0x11, 0x04, 0x05, 0x44, 0x01}, {{4, 5, 5, false}}},
  };
  for (const Case& c : cases) {
    RecordBuilder builder(40);
    std::vector<uint8_t> attribute = NonResidentAttribute({.runList = c.pairs});
    // Cut the attribute right after the pairs so that a runaway pair meets its end.
    if (c.pairs.back() != 0x00) attribute.resize(0x40 + c.pairs.size()), PutLe(attribute, 4, attribute.size(), 4);
    std::vector<uint8_t> record = builder.Add(attribute).Build();
    RunList runs;
    DecodeRunList(FirstAttribute(record), runs);
    ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].clusterCount, c.runs[i].clusterCount) << c.what << " run " << i;
      EXPECT_EQ(runs[i].sparse, c.runs[i].sparse) << c.what << " run " << i;
      if (!runs[i].sparse) {
        EXPECT_EQ(runs[i].lcnDelta, c.runs[i].lcnDelta) << c.what << " run " << i;
        EXPECT_EQ(runs[i].lcn, c.runs[i].lcn) << c.what << " run " << i;
      }
    }
  }
}

TEST(NtfsRunList, LongListsAreDecodedToTheEndOfTheAttribute) {
  // 600 runs of 4 bytes: far more than one 512-byte sector's worth.
  std::vector<uint8_t> pairs;
  for (int i = 0; i < 600; ++i) pairs.insert(pairs.end(), {0x21, 0x01, 0x02, 0x00});
  pairs.push_back(0);
  std::vector<uint8_t> record =
      RecordBuilder(40, 0, 4096).Add(NonResidentAttribute({.runList = pairs})).Build();
  RunList runs;
  EXPECT_EQ(DecodeRunList(FirstAttribute(record), runs), 600u);
  ASSERT_EQ(runs.size(), 600u);
  EXPECT_EQ(runs.back().lcn, 1200u);
}

TEST(NtfsRecordNumbers, MapThroughTheMftRuns) {
  NtfsGeometry g;
  g.sectorsPerCluster = 8;
  g.sectorsPerRecord = 2;
  g.volumeStartSector = 2048;
  // Run 1: clusters 100..103 (32 sectors, records 0..15); run 2 at 300.
  const RunList runs = {{4, 100, 100, false}, {4, 200, 300, false}};
  struct Case {
    uint64_t number;
    std::optional<uint64_t> sector;
  };
  for (const Case& c : std::vector<Case>{{0, 2048 + 800},
                                         {15, 2048 + 800 + 30},
                                         {16, 2048 + 2400},  // first sector after run 1
                                         {31, 2048 + 2400 + 30},
                                         {32, std::nullopt}}) {
    EXPECT_EQ(RecordNumberToSector(c.number, runs, g), c.sector) << "record " << c.number;
  }
}

TEST(NtfsRecordNumbers, RecordSplitOverTwoMftRunsIsJoined) {
  // With 512-byte clusters a $MFT run can end in the middle of a record:
  // record 12's first half is the last sector of run 1, its second half the
  // first sector of run 2.
  SmallVolume v;
  const std::vector<uint8_t> record =
      RecordBuilder(12).Add(ResidentAttribute(0x30, FileNameValue(5, u"split.txt"))).Build();
  v.PutSector(500, record.data());
  v.PutSector(900, record.data() + 512);
  NtfsVolume& volume = v.Open();
  volume.SetMftRuns({{25, 476, 476, false}, {10, 424, 900, false}});
  std::vector<uint8_t> read;
  ASSERT_EQ(volume.ReadMftRecord(12, read), 0);
  const RecordSummary s = SummarizeRecord(read);
  ASSERT_TRUE(s.hasName);
  EXPECT_EQ(s.name, "split.txt");
}

TEST(NtfsGeometryTest, RecordSizeFromTheBootSectorWhenSane) {
  struct Case {
    uint16_t bytesPerSector;
    uint8_t sectorsPerCluster;
    int8_t recordField;
    bool ok;
    int32_t recordSize;
    int32_t sectorsPerRecord;
  };
  for (const Case& c : std::vector<Case>{{512, 8, -10, true, 1024, 2},
                                         {4096, 1, -12, true, 4096, 1},
                                         {512, 8, -12, true, 4096, 8},
                                         {512, 8, 1, true, 4096, 8},     // one 4 KiB cluster
                                         {512, 8, -11, true, 1024, 2},   // 2048 is not sane
                                         {4096, 1, -10, true, 4096, 1},  // smaller than a sector
                                         {0, 8, -10, true, 1024, 2},     // 0 is 512
                                         {520, 8, -10, false, 0, 0},
                                         {512, 3, -10, false, 0, 0},
                                         {512, 0, -10, false, 0, 0},
                                         {512, 0xF4, -10, true, 1024, 2}}) {  // 2 MiB clusters
    std::vector<uint8_t> boot(512, 0);
    PutLe(boot, 0x0B, c.bytesPerSector, 2);
    boot[0x0D] = c.sectorsPerCluster;
    boot[0x40] = static_cast<uint8_t>(c.recordField);
    PutLe(boot, 0x30, 4, 8);
    NtfsGeometry g;
    ASSERT_EQ(ParseNtfsGeometry(boot, 100, g), c.ok) << c.bytesPerSector << "/" << int(c.sectorsPerCluster);
    if (!c.ok) continue;
    EXPECT_EQ(g.recordSize, c.recordSize);
    EXPECT_EQ(g.sectorsPerRecord, c.sectorsPerRecord);
    EXPECT_EQ(g.fixupCount, c.recordSize / 512);
    EXPECT_EQ(g.mftStartSector, 100u + 4u * static_cast<uint32_t>(g.sectorsPerCluster));
  }
}

TEST(NtfsResidentData, LimitsOfTheValue) {
  SmallVolume v;
  // 900 bytes fit in a 1024-byte record.
  const std::vector<uint8_t> big(900, 0x5A);
  v.PutRecord(12, RecordBuilder(12).Add(ResidentAttribute(0x80, big)).Build());
  // A value length that claims 1024 bytes reaches past the record.
  std::vector<uint8_t> lying = ResidentAttribute(0x80, std::vector<uint8_t>(16, 1));
  PutLe(lying, 0x10, 1024, 4);
  v.PutRecord(13, RecordBuilder(13).Add(lying).Build());
  v.PutRecord(14, RecordBuilder(14).Add(NonResidentAttribute({.runList = {0x11, 1, 1, 0}})).Build());
  v.PutRecord(15, RecordBuilder(15).Add(ResidentAttribute(0x30, FileNameValue(5, u"x"))).Build());
  NtfsVolume& volume = v.Open();

  struct Case {
    uint32_t record;
    int rc;
    size_t bytes;
  };
  for (const Case& c : std::vector<Case>{{12, 0, 900},
                                         {13, err::kInvalidParameter, 0},
                                         {14, kNoResidentData, 0},
                                         {15, kNoResidentData, 0},
                                         {20, kNoResidentData, 0}}) {  // zeros: no "FILE"
    std::vector<uint8_t> data;
    EXPECT_EQ(volume.ReadResidentData(*volume.RecordNumberToSector(c.record), data), c.rc) << c.record;
    EXPECT_EQ(data.size(), c.bytes) << c.record;
  }
  uint64_t size = 0;
  EXPECT_EQ(volume.ReadDataSize(*volume.RecordNumberToSector(12), size), 0);
  EXPECT_EQ(size, 900u);
  EXPECT_EQ(volume.ReadDataSize(*volume.RecordNumberToSector(15), size), err::kInvalidParameter);
  EXPECT_EQ(volume.ReadDataSize(*volume.RecordNumberToSector(20), size), kNoFileRecord);
}

TEST(NtfsAttributeList, JoinsExtentsFromSeveralExtensionRecords) {
  SmallVolume v;
  // $DATA of record 12: VCN 0..3 in record 12 itself, 4..5 in record 13,
  // 6..9 in record 14. Each extent's deltas start again from cluster 0.
  std::vector<uint8_t> list;
  for (const auto& e : {ListEntry(0x30, 0, 12), ListEntry(0x80, 0, 12), ListEntry(0x80, 4, 13),
                        ListEntry(0x80, 6, 14)})
    list.insert(list.end(), e.begin(), e.end());
  v.PutRecord(12, RecordBuilder(12)
                      .Add(ResidentAttribute(0x20, list))
                      .Add(ResidentAttribute(0x30, FileNameValue(5, u"big.bin")))
                      .Add(NonResidentAttribute({.runList = {0x11, 4, 100, 0}, .dataSize = 10 * 512}))
                      .Build());
  v.PutRecord(13, RecordBuilder(13).Add(NonResidentAttribute({.runList = {0x11, 2, 50, 0}, .lowestVcn = 4})).Build());
  v.PutRecord(14, RecordBuilder(14).Add(NonResidentAttribute({.runList = {0x21, 4, 200, 0, 0}, .lowestVcn = 6})).Build());
  NtfsVolume& volume = v.Open();

  RunList runs;
  ASSERT_EQ(volume.FindAttributeRuns(*volume.RecordNumberToSector(12), 0x80, runs), 0);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].lcn, 100u);
  EXPECT_EQ(runs[1].lcn, 50u);
  EXPECT_EQ(runs[2].lcn, 200u);
  EXPECT_EQ(RunListClusters(runs), 10u);

  DataStream stream;
  std::vector<uint8_t> record;
  ASSERT_EQ(volume.ReadFileRecord(*volume.RecordNumberToSector(12), record), 0);
  ASSERT_EQ(volume.LocateData(record, stream), 0);
  EXPECT_EQ(stream.dataSize, 10u * 512);
  EXPECT_EQ(stream.runs.size(), 3u);
}

// An extent that cannot be had (its record is gone, the list skips it, or
// its record holds another VCN) leaves a hole of the right size: the extents
// after it are still joined, at their own place in the stream.
TEST(NtfsAttributeList, AGapBetweenExtentsKeepsTheLaterOnesInPlace) {
  struct Case {
    const char* what;
    std::vector<uint64_t> listedVcns;  // of the extents after VCN 0
    bool record13Written;
    uint64_t record13Vcn;
  };
  for (const Case& c : std::vector<Case>{{"extension record gone", {4, 6}, false, 4},
                                         {"list skips the extent", {6}, true, 4},
                                         {"record holds another VCN", {4, 6}, true, 5}}) {
    SmallVolume v;
    std::vector<uint8_t> list;
    for (const auto& e : {ListEntry(0x30, 0, 12), ListEntry(0x80, 0, 12)}) list.insert(list.end(), e.begin(), e.end());
    for (uint64_t vcn : c.listedVcns) {
      const auto e = ListEntry(0x80, vcn, vcn == 4 ? 13 : 14);
      list.insert(list.end(), e.begin(), e.end());
    }
    v.PutRecord(12, RecordBuilder(12)
                        .Add(ResidentAttribute(0x20, list))
                        .Add(ResidentAttribute(0x30, FileNameValue(5, u"holed.bin")))
                        .Add(NonResidentAttribute({.runList = {0x11, 4, 100, 0}, .dataSize = 10 * 512}))
                        .Build());
    if (c.record13Written)
      v.PutRecord(13, RecordBuilder(13).Add(NonResidentAttribute({.runList = {0x11, 2, 50, 0}, .lowestVcn = c.record13Vcn})).Build());
    v.PutRecord(14, RecordBuilder(14).Add(NonResidentAttribute({.runList = {0x21, 4, 200, 0, 0}, .lowestVcn = 6})).Build());
    const std::string tail = MakeContent(4 * 512, 77);
    v.PutCluster(200, tail);
    NtfsVolume& volume = v.Open();

    std::vector<uint8_t> record;
    ASSERT_EQ(volume.ReadFileRecord(*volume.RecordNumberToSector(12), record), 0) << c.what;
    DataStream stream;
    ASSERT_EQ(volume.LocateData(record, stream), 0) << c.what;
    EXPECT_EQ(stream.dataSize, 10u * 512) << c.what;
    ASSERT_EQ(stream.runs.size(), 3u) << c.what;
    EXPECT_EQ(stream.runs[0].lcn, 100u) << c.what;
    EXPECT_TRUE(stream.runs[1].sparse) << c.what;
    EXPECT_EQ(stream.runs[1].clusterCount, 2u) << c.what;
    EXPECT_EQ(stream.runs[2].lcn, 200u) << c.what;
    // The last extent's bytes come out at clusters 6..9 of the file.
    std::string content;
    ASSERT_EQ(StreamData(volume, stream, stream.dataSize, [&](const uint8_t* data, size_t length) {
                content.append(reinterpret_cast<const char*>(data), length);
                return 0;
              }), 0) << c.what;
    ASSERT_EQ(content.size(), 10u * 512) << c.what;
    EXPECT_EQ(content.substr(4 * 512, 2 * 512), std::string(2 * 512, '\0')) << c.what;
    EXPECT_TRUE(content.substr(6 * 512) == tail) << c.what;
  }
}

TEST(NtfsAttributeList, NonResidentListIsReadFromItsClusters) {
  SmallVolume v;
  std::string list;
  for (const auto& e : {ListEntry(0x80, 0, 13), ListEntry(0x80, 2, 14)}) list.append(e.begin(), e.end());
  v.PutCluster(300, list);
  v.PutRecord(12, RecordBuilder(12)
                      .Add(NonResidentAttribute({.type = 0x20, .runList = {0x21, 1, 0x2C, 1, 0}, .dataSize = list.size()}))
                      .Build());
  v.PutRecord(13, RecordBuilder(13).Add(NonResidentAttribute({.runList = {0x11, 2, 70, 0}, .dataSize = 2048})).Build());
  v.PutRecord(14, RecordBuilder(14).Add(NonResidentAttribute({.runList = {0x11, 2, 90, 0}, .lowestVcn = 2})).Build());
  NtfsVolume& volume = v.Open();
  RunList runs;
  ASSERT_EQ(volume.FindAttributeRuns(*volume.RecordNumberToSector(12), 0x80, runs), 0);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].lcn, 70u);
  EXPECT_EQ(runs[1].lcn, 90u);
}

// Records built to break the walk: every one must end it without reading
// outside the record (the sanitizers watch) and without looping.
TEST(NtfsHostileRecords, EndTheWalkSafely) {
  SmallVolume v;
  std::vector<std::vector<uint8_t>> records;
  const std::vector<uint8_t> name = ResidentAttribute(0x30, FileNameValue(5, u"a.txt"));
  {  // first-attribute offset 0
    std::vector<uint8_t> r = RecordBuilder(12).Add(name).Build();
    PutLe(r, 0x14, 0, 2);
    records.push_back(r);
  }
  {  // attribute length past the record
    std::vector<uint8_t> r = RecordBuilder(13).Add(name).Build();
    PutLe(r, 0x48 + 4, 0x7FFFFFF0, 4);
    records.push_back(r);
  }
  {  // attribute length 0
    std::vector<uint8_t> r = RecordBuilder(14).Add(name).Build();
    PutLe(r, 0x48 + 4, 0, 4);
    records.push_back(r);
  }
  {  // bytes in use far beyond the record and no end marker
    std::vector<uint8_t> r = RecordBuilder(15).Add(name).Build();
    PutLe(r, 0x18, 0xFFFFFFFF, 4);
    std::memset(r.data() + 0x48 + name.size(), 0x41, 1024 - 0x48 - name.size() - 2);
    PutLe(r, 510, 0x0007, 2);  // the first block's sequence word, so the record is not torn
    records.push_back(r);
  }
  {  // name length past the value, value offset past the attribute
    std::vector<uint8_t> n1 = name;
    n1[0x18 + 0x40] = 200;
    std::vector<uint8_t> n2 = name;
    PutLe(n2, 0x14, 0xFFF0, 2);
    records.push_back(RecordBuilder(16).Add(n1).Add(n2).Build());
  }
  {  // run list offset past the attribute, absurd run header
    std::vector<uint8_t> d1 = NonResidentAttribute({.runList = {0x11, 1, 1, 0}});
    PutLe(d1, 0x20, 0xFFFF, 2);
    std::vector<uint8_t> d2 = NonResidentAttribute({.runList = {0xFF, 1, 2, 3}});
    records.push_back(RecordBuilder(17).Add(d1).Add(d2).Build());
  }
  {  // an attribute list that names only itself, over and over
    std::vector<uint8_t> list;
    for (int i = 0; i < 20; ++i) {
      const std::vector<uint8_t> e = ListEntry(0x80, 0, 18);
      list.insert(list.end(), e.begin(), e.end());
    }
    records.push_back(RecordBuilder(18)
                          .Add(ResidentAttribute(0x20, list))
                          .Add(NonResidentAttribute({.runList = {0x11, 3, 40, 0}, .dataSize = 1536}))
                          .Build());
  }
  {  // list entries naming records outside the $MFT and entry length 0
    std::vector<uint8_t> list = ListEntry(0x80, 0, 0xFFFFFFFFFFFFull);
    std::vector<uint8_t> zero = ListEntry(0x80, 0, 13);
    PutLe(zero, 4, 0, 2);
    list.insert(list.end(), zero.begin(), zero.end());
    records.push_back(RecordBuilder(19).Add(ResidentAttribute(0x20, list)).Build());
  }
  {  // a non-resident list claiming gigabytes
    records.push_back(RecordBuilder(20)
                          .Add(NonResidentAttribute({.type = 0x20, .runList = {0x14, 1, 0, 0, 0x10, 0}, .dataSize = 1ull << 40}))
                          .Build());
  }
  for (size_t i = 0; i < records.size(); ++i) v.PutRecord(12 + static_cast<uint32_t>(i), records[i]);
  NtfsVolume& volume = v.Open();

  for (size_t i = 0; i < records.size(); ++i) {
    const uint32_t number = 12 + static_cast<uint32_t>(i);
    std::vector<uint8_t> record;
    ASSERT_EQ(volume.ReadMftRecord(number, record), 0) << number;
    AttributeWalker walker(record);
    Attribute a;
    int steps = 0;
    while (walker.Next(a) && steps < 1000) ++steps;
    EXPECT_LT(steps, 1000) << number;
    SummarizeRecord(record);
    RunList runs;
    volume.FindAttributeRunsInRecord(record, 0x80, runs);
    DataStream stream;
    volume.LocateData(record, stream);
    std::vector<uint8_t> data;
    volume.ReadResidentData(*volume.RecordNumberToSector(number), data);
  }
  // The self-naming list yields the record's own extent exactly once.
  RunList runs;
  ASSERT_EQ(volume.FindAttributeRuns(*volume.RecordNumberToSector(18), 0x80, runs), 0);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].lcn, 40u);
  // A record whose first attribute offset is 0 has no attributes at all.
  std::vector<uint8_t> record;
  ASSERT_EQ(volume.ReadMftRecord(12, record), 0);
  EXPECT_FALSE(SummarizeRecord(record).hasName);
}

TEST(NtfsLznt1, DecodesChunksAndRefusesBrokenOnes) {
  // "abc" as literals, then a back-reference (offset 3, length 9), then a
  // stored chunk, then the end marker.
  std::vector<uint8_t> unit(3 * 4096, 0xEE);
  std::vector<uint8_t> in = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};
  std::string stored(4096, 'z');
  in.push_back(0xFF);
  in.push_back(0x3F);
  in.insert(in.end(), stored.begin(), stored.end());
  in.push_back(0);
  in.push_back(0);
  ASSERT_TRUE(DecompressLznt1(in, unit));
  EXPECT_EQ(std::string(unit.begin(), unit.begin() + 12), "abcabcabcabc");
  EXPECT_EQ(unit[12], 0);    // rest of the short chunk
  EXPECT_EQ(unit[4095], 0);
  EXPECT_EQ(std::string(unit.begin() + 4096, unit.begin() + 8192), stored);
  EXPECT_EQ(unit[8192], 0);  // after the end marker

  const std::vector<std::vector<uint8_t>> broken = {
      {0x02, 0xB0, 0x01, 0x00, 0x00},  // back-reference before the chunk's start
      {0x40, 0xB0, 0x00, 'a'},         // chunk longer than the input
      {0x03, 0xB0, 0x02, 'a', 0xFF},   // token cut off
  };
  for (const auto& b : broken) EXPECT_FALSE(DecompressLznt1(b, unit));
}

TEST(NtfsDataStream, SparseRunsAndUninitializedTailReadAsZeros) {
  SmallVolume v;
  v.PutCluster(100, std::string(1024, 'A'));
  v.PutCluster(300, std::string(512, 'B'));
  NtfsVolume& volume = v.Open();
  DataStream stream;
  // 2 clusters at 100, 2 sparse, 1 at 300 (delta 200 from 100).
  stream.runs = {{2, 100, 100, false}, {2, 0, 0, true}, {1, 200, 300, false}};
  stream.dataSize = stream.initializedSize = 5 * 512;
  std::string out;
  auto sink = [&](const uint8_t* d, size_t n) {
    out.append(reinterpret_cast<const char*>(d), n);
    return 0;
  };
  ASSERT_EQ(StreamData(volume, stream, 5 * 512 - 100, sink), 0);
  EXPECT_EQ(out, std::string(1024, 'A') + std::string(1024, '\0') + std::string(412, 'B'));

  out.clear();
  stream.initializedSize = 700;
  ASSERT_EQ(StreamData(volume, stream, 1024, sink), 0);
  EXPECT_EQ(out, std::string(700, 'A') + std::string(324, '\0'));

  out.clear();
  EXPECT_EQ(StreamData(volume, stream, 6 * 512, sink), err::kHandleEof);  // runs end first
  EXPECT_EQ(out.size(), 5u * 512);

  stream.flags = kAttrFlagEncrypted;
  EXPECT_EQ(StreamData(volume, stream, 512, sink), err::kNotSupported);
}

TEST(NtfsDataStream, CompressedUnitsDecodeOrFail) {
  SmallVolume v;
  // Compression unit of 4 clusters (2 KiB): unit 0 compressed in cluster 100
  // then 3 sparse; unit 1 stored in clusters 200..203; unit 2 all sparse.
  std::string compressed = {0x05, '\xB0', 0x08, 'x', 'y', 'z', 0x06, 0x20, 0, 0};
  v.PutCluster(100, compressed);
  v.PutCluster(200, std::string(2048, 'S'));
  v.PutCluster(150, std::string(512, '\x55'));  // not LZNT1: a chunk claiming too much
  NtfsVolume& volume = v.Open();
  DataStream stream;
  stream.flags = kAttrFlagCompressed;
  stream.compressionUnit = 2;
  stream.runs = {{1, 100, 100, false}, {3, 0, 0, true}, {4, 100, 200, false}, {4, 0, 0, true}};
  stream.dataSize = stream.initializedSize = 3 * 2048;
  std::string out;
  auto sink = [&](const uint8_t* d, size_t n) {
    out.append(reinterpret_cast<const char*>(d), n);
    return 0;
  };
  ASSERT_EQ(StreamData(volume, stream, stream.dataSize, sink), 0);
  ASSERT_EQ(out.size(), 3u * 2048);
  EXPECT_EQ(out.substr(0, 12), "xyzxyzxyzxyz");
  EXPECT_EQ(out.substr(12, 2036), std::string(2036, '\0'));
  EXPECT_EQ(out.substr(2048, 2048), std::string(2048, 'S'));
  EXPECT_EQ(out.substr(4096), std::string(2048, '\0'));

  stream.runs[0].lcn = 150;
  out.clear();
  EXPECT_EQ(StreamData(volume, stream, stream.dataSize, sink), err::kInvalidData);
}

}  // namespace
}  // namespace qm::test
