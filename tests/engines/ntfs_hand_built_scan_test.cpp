// The quick scan over a volume laid out byte by byte: every rule of the
// record parser and the folder chain, without needing a mount.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "engines/engine_test_context.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "ntfs_fixture.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

// 512-byte sectors and clusters; the $MFT at cluster 16, 32 records.
class HandBuiltVolume {
 public:
  HandBuiltVolume() : image_(4096 * 512, 0) {
    std::vector<uint8_t> boot(512, 0);
    std::memcpy(boot.data() + 3, "NTFS    ", 8);
    PutLe(boot, 0x0B, 512, 2);
    boot[0x0D] = 1;
    PutLe(boot, 0x28, 4095, 8);
    PutLe(boot, 0x30, 16, 8);
    boot[0x40] = 0xF6;  // 2^10-byte records
    boot[510] = 0x55;
    boot[511] = 0xAA;
    std::memcpy(image_.data(), boot.data(), boot.size());
    Put(0, RecordBuilder(0, 0x01)
               .Add(NonResidentAttribute({.runList = {0x11, 64, 16, 0}, .dataSize = 64 * 512}))
               .Build());
  }
  void Put(uint32_t number, const std::vector<uint8_t>& record) {
    std::memcpy(image_.data() + (16 + 2 * number) * 512, record.data(), record.size());
  }
  fs::path Write(const TempDir& dir) {
    const fs::path path = dir / "hand.img";
    WriteBytes(path, std::string(image_.begin(), image_.end()));
    return path;
  }

 private:
  std::vector<uint8_t> image_;
};

std::vector<uint8_t> Named(uint32_t number, uint16_t flags, uint32_t parent, const std::u16string& name,
                           const std::string& data = "x") {
  return RecordBuilder(number, flags)
      .Add(ResidentAttribute(0x30, FileNameValue(parent, name)))
      .Add(ResidentAttribute(0x80, std::vector<uint8_t>(data.begin(), data.end())))
      .Build();
}

std::set<std::string> Names(const std::vector<FoundFileRecord>& records) {
  std::set<std::string> names;
  for (const auto& r : records) names.insert(r.Name());
  return names;
}

TEST(NtfsHandBuiltScan, RecordParserAndFolderChains) {
  TempDir dir;
  HandBuiltVolume v;
  v.Put(3, Named(3, 0, 5, u"system.txt"));         // a metadata record number: never listed
  v.Put(12, Named(12, 0, 5, u"root.txt", "hello"));  // deleted, in the root
  v.Put(13, Named(13, 0x02, 5, u"D"));               // a deleted folder
  v.Put(14, RecordBuilder(14)                        // short name first, long name after
                .Add(ResidentAttribute(0x30, FileNameValue(13, u"IN-D~1.TXT", 2)))
                .Add(ResidentAttribute(0x30, FileNameValue(13, u"in-d-long.txt", 1)))
                .Add(ResidentAttribute(0x80, {'t'}))
                .Build());
  v.Put(15, Named(15, 0x01, 5, u"live-file"));           // a live file
  v.Put(16, Named(16, 0, 15, u"parent-is-a-file.txt"));  // its "folder" now holds a file
  v.Put(17, Named(17, 0, 20, u"parent-is-empty.txt"));   // record 20 holds nothing
  v.Put(18, Named(18, 0, 19, u"in-a-loop.txt"));         // folders 19 and 21 name each other
  v.Put(19, Named(19, 0x03, 21, u"loop-a"));
  v.Put(21, Named(21, 0x03, 19, u"loop-b"));
  v.Put(22, Named(22, 0, 5, u"empty.txt", ""));          // resident and empty
  {
    std::vector<uint8_t> hostile = Named(23, 0, 5, u"hostile.txt");
    PutLe(hostile, 0x48 + 4, 0x7FFFFFF0, 4);  // first attribute runs far past the record
    v.Put(23, hostile);
  }
  v.Put(24, Named(24, 0, 25, u"in-live.txt"));
  v.Put(25, Named(25, 0x03, 5, u"L"));
  v.Put(26, Named(26, 0x01, 25, u"live-in-L.txt"));
  v.Put(11, Named(11, 0x03, 5, u"$Extend"));            // a system folder holding a deleted file
  v.Put(27, Named(27, 0, 11, u"in-extend.txt"));

  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(v.Write(dir).string(), 3), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);

  std::map<std::string, FoundFileRecord> byName;
  ScanLogStore* log = const_cast<ScanLogStore*>(engine.log());
  for (uint32_t i = 1; i <= engine.RecordCount(); ++i) {
    FoundFileRecord r;
    ASSERT_EQ(log->ReadRecord(i, r), 0);
    EXPECT_TRUE(byName.emplace(r.Name(), r).second) << r.Name() << " written twice";
  }
  const std::set<std::string> expected = {"root.txt",      "D",           "in-d-long.txt",
                                          "LostFolder15",  "parent-is-a-file.txt",
                                          "LostFolder20",  "parent-is-empty.txt",
                                          "in-a-loop.txt", "loop-a",      "LostFolder21",
                                          "empty.txt",     "in-live.txt", "L",
                                          "$Extend",       "in-extend.txt"};
  std::set<std::string> names;
  for (const auto& [name, r] : byName) names.insert(name);
  EXPECT_EQ(names, expected);

  std::vector<FoundFileRecord> list;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
  // The loop is cut at loop-b, which is filed in the root as lost: the file
  // in the loop is reached from the root like every other.
  EXPECT_EQ(Names(list), (std::set<std::string>{"root.txt", "D", "LostFolder15", "LostFolder20",
                                                "LostFolder21", "empty.txt", "L", "$Extend"}));
  struct Folder {
    const char* name;
    uint32_t depth;
    std::set<std::string> children;
  };
  for (const Folder& f : {Folder{"D", 1, {"in-d-long.txt"}}, Folder{"L", 1, {"in-live.txt"}},
                          Folder{"LostFolder15", 1, {"parent-is-a-file.txt"}},
                          Folder{"LostFolder20", 1, {"parent-is-empty.txt"}},
                          Folder{"LostFolder21", 1, {"loop-a"}}, Folder{"loop-a", 2, {"in-a-loop.txt"}},
                          Folder{"$Extend", 1, {"in-extend.txt"}}}) {
    list.clear();
    ASSERT_EQ(engine.ListChildren(&byName.at(f.name), f.depth, list), 0) << f.name;
    EXPECT_EQ(Names(list), f.children) << f.name;
  }

  const FoundFileRecord& d = byName.at("D");
  const FoundFileRecord& lost = byName.at("LostFolder20");
  const FoundFileRecord& empty = byName.at("empty.txt");
  const FoundFileRecord& root = byName.at("root.txt");
  EXPECT_EQ(uint32_t{d.isDirectory}, 1u);
  EXPECT_EQ(uint32_t{d.entryId}, 13u);
  EXPECT_EQ(uint32_t{lost.clusterBytes}, kNoClusterChain);
  EXPECT_EQ(uint32_t{lost.contentOk}, 1u);
  EXPECT_EQ(uint32_t{empty.contentOk}, 0u);
  EXPECT_EQ(uint64_t{root.fileSize}, 5u);
  EXPECT_EQ(uint64_t{root.anchorSector}, 16u + 2 * 12);
  EXPECT_EQ(uint32_t{root.clusterBytes}, 512u);
  EXPECT_EQ(uint64_t{root.writeTime}, 0x01D0000000000002ull);
  EXPECT_EQ(uint64_t{root.accessTime}, 0x01D0000000000004ull);
  EXPECT_EQ(uint64_t{root.creationTime}, 0x01D0000000000001ull);
  EXPECT_EQ(uint16_t{root.volumeLetter}, 3);

  std::string path;
  ASSERT_EQ(engine.GetFullPath(byName.at("in-d-long.txt"), path), 0);
  EXPECT_EQ(path, "D/");
  const fs::path out = dir / "out" / "root.txt";
  ASSERT_EQ(engine.RecoverItem(root, out.string(), 0), 0);
  EXPECT_EQ(ReadBytes(out), "hello");
  std::string preview;
  uint32_t size = 0;
  EXPECT_EQ(engine.ExtractForPreview(lost, preview, nullptr, &size, nullptr, nullptr), err::kWriteFault);

  // A stored log opened by name answers like the scan that wrote it.
  CFastNtfsRecovery reopened;
  reopened.SetContext(test::TestContext());
  ASSERT_EQ(reopened.OpenImage((dir / "hand.img").string(), 3), 0);
  ASSERT_EQ(reopened.Scan(engine.log()->MainPath().filename().c_str()), 0);
  EXPECT_EQ(reopened.RecordCount(), engine.RecordCount());
  list.clear();
  ASSERT_EQ(reopened.ListChildren(&d, 1, list), 0);
  EXPECT_EQ(Names(list), std::set<std::string>{"in-d-long.txt"});
}

// A record whose write was cut short after its first sector: what that
// sector holds (the name, and the size its $FILE_NAME gives) is listed, the
// $DATA in the torn sector is not trusted, and the file is marked damaged.
// A record torn in its first sector is no record at all.
std::vector<uint8_t> TornInSecondSector(uint32_t number, const std::u16string& name) {
  // The name lies in the first sector; the data runs on into the second.
  return RecordBuilder::Torn(RecordBuilder(number)
                                 .Add(ResidentAttribute(0x30, FileNameValue(5, name, 1, 777)))
                                 .Add(ResidentAttribute(0x80, std::vector<uint8_t>(600, 'd')))
                                 .Build(),
                             1);
}

TEST(NtfsHandBuiltScan, TornRecordIsReadOnlyAsFarAsItsWriteGot) {
  TempDir dir;
  HandBuiltVolume v;
  v.Put(12, Named(12, 0, 5, u"whole.txt", "hello"));
  v.Put(13, TornInSecondSector(13, u"torn.txt"));
  v.Put(14, RecordBuilder::Torn(Named(14, 0, 5, u"torn-first.txt"), 0));

  CFastNtfsRecovery engine;
  engine.SetContext(test::TestContext());
  ASSERT_EQ(engine.OpenImage(v.Write(dir).string(), 3), 0);
  ASSERT_EQ(engine.Scan(nullptr), 0);
  std::vector<FoundFileRecord> list;
  ASSERT_EQ(engine.ListChildren(nullptr, 0, list), 0);
  std::map<std::string, FoundFileRecord> byName;
  for (const FoundFileRecord& r : list) byName.emplace(r.Name(), r);
  EXPECT_EQ(Names(list), (std::set<std::string>{"whole.txt", "torn.txt"}));
  ASSERT_TRUE(byName.count("torn.txt"));
  const FoundFileRecord& torn = byName.at("torn.txt");
  EXPECT_EQ(uint32_t{torn.contentOk}, kContentMismatch);
  EXPECT_EQ(uint64_t{torn.fileSize}, 777u);  // from $FILE_NAME: the $DATA lay in the torn sector
  EXPECT_EQ(uint32_t{byName.at("whole.txt").contentOk}, kContentOk);

  std::string warnings;
  for (const std::string& w : engine.ScanWarnings()) warnings += w + "\n";
  EXPECT_NE(warnings.find("2 MFT records were only partly written"), std::string::npos) << warnings;
}

}  // namespace
}  // namespace qm::test
