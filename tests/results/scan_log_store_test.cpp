#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/errors.h"
#include "platform/file_handle.h"
#include "results/categories.h"
#include "results/log_names.h"
#include "results/result_tree.h"
#include "results/scan_log_store.h"
#include "store_fixture.h"
#include "support/faulty_device.h"

namespace qm::test {
namespace {

constexpr uint64_t kRoot = 5;  // NTFS root directory key

std::string Bytes(const FoundFileRecord& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

class ScanLogStoreTest : public ::testing::Test {
 protected:
  fs::path Folder() const { return temp_.path() / "ScanLog" / "1"; }
  fs::path Main() const { return Folder() / "log"; }
  fs::path Relation() const { return Folder() / "log_Relation"; }
  fs::path DirInfo() const { return Folder() / "log_DirInfo"; }
  int Open(ScanLogStore& store) { return store.OpenScanLogIn(Folder(), "log"); }

  TempDir temp_;
};

TEST(LogBaseName, HourUnpaddedMinutePaddedWithSpace) {
  CivilTime t{2026, 12, 7, 9, 5};
  EXPECT_EQ(MakeLogBaseName("Fast_", 2048, t), "Fast_2048_20261279 5");
  t.hour = 10;
  t.minute = 30;
  EXPECT_EQ(MakeLogBaseName("Pro_Ntfs_", 0, t), "Pro_Ntfs_0_20261271030");
}

TEST_F(ScanLogStoreTest, LogsAreFoundAgainByPrefix) {
  for (const char* name : {"Pro_Fat_0_20261271030", "File_Type_0_2026127 930"}) {
    ScanLogStore store;
    ASSERT_EQ(store.OpenScanLogIn(Folder(), name), 0);
  }
  fs::create_directory(Folder() / "Pro_Ntfs_dir");  // not a file
  EXPECT_EQ(FindScanLogName(Folder(), kCarvingLogPrefix), "File_Type_0_2026127 930");
  EXPECT_EQ(FindScanLogName(Folder(), kFatDeepLogPrefix), "Pro_Fat_0_20261271030");
  EXPECT_EQ(FindScanLogName(Folder(), kNtfsDeepLogPrefix), "");
  EXPECT_EQ(FindScanLogName(Folder() / "missing", kQuickLogPrefix), "");
}

TEST(LogBaseName, TimesANameCanStandFor) {
  const auto readings = [](std::string_view name) {
    std::vector<std::string> out;
    for (const CivilTime& t : LogNameTimes(name))
      out.push_back(std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day) + " " +
                    std::to_string(t.hour) + ":" + std::to_string(t.minute));
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(readings("Fast_2048_20261279 5"), (V{"2026-1-27 9:5", "2026-12-7 9:5"}));
  EXPECT_EQ(readings("Pro_Fat_0_2026351430"), (V{"2026-3-5 14:30"}));
  EXPECT_EQ(readings("Pro_Ntfs_0_20261271030"), (V{"2026-1-27 10:30", "2026-12-7 10:30"}));
  EXPECT_EQ(readings("File_Type_0_2026127 930"), V{});
  EXPECT_EQ(readings("File_Type_0_2026131205"), V{});  // a minute "05" is never written
  EXPECT_EQ(readings("log"), V{});
  for (const CivilTime& t : {CivilTime{2026, 2, 28, 0, 0}, CivilTime{2031, 11, 30, 23, 59}}) {
    const std::string name = MakeLogBaseName("Fast_", 63, t);
    bool found = false;
    for (const CivilTime& r : LogNameTimes(name))
      found = found || (r.year == t.year && r.month == t.month && r.day == t.day && r.hour == t.hour &&
                        r.minute == t.minute);
    EXPECT_TRUE(found) << name;
  }
}

// Two logs of one prefix: the newer is found, whatever order their names
// sort in. Each row gives the two names, oldest first, and the local times
// their files were last written.
TEST(LogBaseName, TheNewestLogOfAPrefixIsFound) {
  struct Case {
    const char* older;
    CivilTime olderWritten;
    const char* newer;
    CivilTime newerWritten;
  };
  const Case cases[] = {
      // Both names read one way; the older was written last (copied, say).
      {"Pro_Fat_0_2026351430", {2026, 5, 1, 8, 0}, "Pro_Fat_0_2026429 5", {2026, 4, 2, 9, 6}},
      // 9 December sorts after 10 December by name.
      {"Pro_Fat_0_202612910 5", {2026, 12, 9, 11, 0}, "Pro_Fat_0_20261210930", {2026, 12, 10, 9, 40}},
      // Names read two ways: the reading not after the last write counts.
      {"Pro_Fat_0_20261271030", {2026, 12, 7, 11, 0}, "Pro_Fat_0_2026128930", {2026, 12, 8, 10, 0}},
      // Names that hold no time: the last write decides.
      {"Pro_Fat_0_a", {2026, 12, 7, 11, 0}, "Pro_Fat_0_b", {2026, 12, 7, 11, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.older) + " / " + c.newer);
    TempDir dir;
    for (const auto& [name, written] : {std::pair{c.older, c.olderWritten}, std::pair{c.newer, c.newerWritten}}) {
      ScanLogStore store;
      ASSERT_EQ(store.OpenScanLogIn(dir.path(), name), 0);
      store.CloseScanLog();
      struct tm tm {};
      tm.tm_year = written.year - 1900;
      tm.tm_mon = written.month - 1;
      tm.tm_mday = written.day;
      tm.tm_hour = written.hour;
      tm.tm_min = written.minute;
      tm.tm_isdst = -1;
      const struct timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, (dir.path() / name).c_str(), times, 0), 0);
    }
    EXPECT_EQ(FindScanLogName(dir.path(), kFatDeepLogPrefix), c.newer);
  }
}

TEST_F(ScanLogStoreTest, RelationTextMatchesTheStoredFormatByteForByte) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  for (int i = 0; i < 3; ++i) AddFiled(store, 0, {"f" + std::to_string(i) + ".txt"});
  AddFiled(store, 5, {"g.txt"});
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(ReadBytes(Relation()), " | 0 - [1,2,3] | 5 - [4]");
}

TEST_F(ScanLogStoreTest, RecordsGoToTheFileInBlocksOf200) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  for (int i = 0; i < 200; ++i) AddRecord(store, {"a.txt"});
  EXPECT_EQ(fs::file_size(Main()), 0u);
  AddRecord(store, {"b.txt"});
  EXPECT_EQ(fs::file_size(Main()), 69200u);
  EXPECT_EQ(store.RecordCount(), 201u);
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(fs::file_size(Main()), 201u * 346);
}

// A carved file learns late that its extent holds unreadable sectors: the
// mark reaches a record already in the file and one still buffered.
TEST_F(ScanLogStoreTest, ContentMarkChangesStoredAndBufferedRecords) {
  {
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    AddFiled(store, 0, {"stored.jpg"});
    ASSERT_EQ(store.FlushScanLog(), 0);
    AddFiled(store, 0, {"buffered.jpg"});
    EXPECT_EQ(store.SetContentOk(1, kContentPartlyUnreadable), 0);
    EXPECT_EQ(store.SetContentOk(2, kContentPartlyUnreadable), 0);
    EXPECT_EQ(store.SetContentOk(3, kContentPartlyUnreadable), err::kInvalidParameter);
    ASSERT_EQ(store.FlushScanLog(), 0);
  }
  ScanLogStore reopened;
  ASSERT_EQ(Open(reopened), 0);
  ASSERT_EQ(reopened.RecordCount(), 2u);
  for (uint32_t i = 1; i <= 2; ++i) {
    FoundFileRecord r{};
    ASSERT_EQ(reopened.ReadRecord(i, r), 0);
    EXPECT_EQ(uint32_t{r.contentOk}, kContentPartlyUnreadable) << r.Name();
  }
}

TEST_F(ScanLogStoreTest, ReopeningAppendsAndContinuesNumbering) {
  std::vector<std::string> written;
  {
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    uint32_t docs = AddFiled(store, kRoot, {"Docs", true, 40});
    AddFiled(store, DirectoryKey(1, 40), {"a.txt", false, 0, 1, 10});
    AddFiled(store, kRoot, {"b.txt"});
    EXPECT_EQ(docs, 1u);
    store.CloseScanLog();
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(store.RecordCount(), 0u);
  }
  const std::string relationAfterFirst = ReadBytes(Relation());
  EXPECT_EQ(relationAfterFirst, " | 5 - [1,3] | 4294967336 - [2]");
  EXPECT_EQ(fs::file_size(DirInfo()), 268u);
  {
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    EXPECT_EQ(store.RecordCount(), 3u);
    uint32_t sub = AddFiled(store, DirectoryKey(1, 40), {"Sub", true, 77});
    EXPECT_EQ(sub, 4u);
    AddFiled(store, DirectoryKey(2, 77), {"deep.txt"});
    ASSERT_EQ(store.FlushScanLog(), 0);
  }
  EXPECT_EQ(ReadBytes(Relation()), " | 5 - [1,3] | 4294967336 - [2,4] | 8589934669 - [5]");
  EXPECT_EQ(fs::file_size(DirInfo()), 2u * 268);
  EXPECT_EQ(fs::file_size(Main()), 5u * 346);

  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  ASSERT_EQ(store.RecordCount(), 5u);
  FoundFileRecord deep{};
  ASSERT_EQ(store.ReadRecord(5, deep), 0);
  EXPECT_EQ(deep.Name(), "deep.txt");
  EXPECT_EQ(+deep.recordIndex, 5u);
  // Record n lies at (n - 1) * 346 of the main file.
  EXPECT_EQ(ReadBytes(Main()).substr(4 * 346, 346), Bytes(deep));

  std::vector<FoundFileRecord> docs;
  ASSERT_EQ(store.ListChildren(DirectoryKey(1, 40), docs), 0);
  EXPECT_EQ(Names(docs), (std::vector<std::string>{"a.txt", "Sub"}));
  std::string path;
  ASSERT_EQ(FolderPathOf(store, deep, path), 0);
  EXPECT_EQ(path, "Docs/Sub/");
  uint32_t count = 0;
  ASSERT_EQ(store.CountFiles(0, count), 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(store.ReadRecord(6, deep), err::kInvalidParameter);
  EXPECT_EQ(store.ReadRecord(0, deep), err::kInvalidParameter);
}

TEST_F(ScanLogStoreTest, ListingSortsFilesFirstAndHidesDamagedPhotos) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  AddFiled(store, kRoot, {"zeta", true, 30});
  AddFiled(store, kRoot, {"beta.txt"});
  AddFiled(store, kRoot, {"Alpha", true, 31});
  AddFiled(store, kRoot, {"ALPHA.doc", false, 0, 0});    // damaged document: shown
  AddFiled(store, kRoot, {"broken.JPG", false, 0, 0});   // damaged photo: hidden
  AddFiled(store, kRoot, {"good.jpg", false, 0, 1});
  AddFiled(store, kRoot, {"Émile.txt"});
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(ListRootChildren(store, root), 0);
  EXPECT_EQ(Names(root), (std::vector<std::string>{"ALPHA.doc", "beta.txt", "good.jpg",
                                                   "Émile.txt", "Alpha", "zeta"}));
  // A key without a list yields nothing and adds nothing to the index.
  ASSERT_EQ(store.FlushScanLog(), 0);
  const std::string before = ReadBytes(Relation());
  std::vector<FoundFileRecord> none;
  ASSERT_EQ(store.ListChildren(DirectoryKey(1, 999), none), 0);
  EXPECT_TRUE(none.empty());
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(ReadBytes(Relation()), before);
}

TEST_F(ScanLogStoreTest, CarvedFilesUnderKeyZeroAreTheRoot) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  AddFiled(store, 0, {"f2.png"});
  AddFiled(store, 0, {"f1.png"});
  std::vector<FoundFileRecord> root;
  ASSERT_EQ(store.ListChildren(0, root), 0);
  EXPECT_EQ(Names(root), (std::vector<std::string>{"f1.png", "f2.png"}));
  std::vector<FoundFileRecord> chain;
  ASSERT_EQ(store.AncestorChain(root[0], chain), 0);
  EXPECT_TRUE(chain.empty());
}

TEST_F(ScanLogStoreTest, FlushWithNothingNewLeavesSideFilesAlone) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  AddFiled(store, kRoot, {"Dir", true, 9});
  AddFiled(store, DirectoryKey(1, 9), {"x.txt"});
  ASSERT_EQ(store.FlushScanLog(), 0);
  // Stand-ins that a rewrite would replace.
  WriteBytes(Relation(), "untouched");
  WriteBytes(DirInfo(), std::string(268, 'D'));
  std::vector<FoundFileRecord> out;
  uint32_t count = 0;
  ASSERT_EQ(store.ListChildren(0, out), 0);
  ASSERT_EQ(store.CountFiles(0, count), 0);
  ASSERT_EQ(store.ListByCategory(".txt", out), 1);
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(ReadBytes(Relation()), "untouched");
  EXPECT_EQ(ReadBytes(DirInfo()), std::string(268, 'D'));
  // A new relation makes the next flush write _Relation again, and only
  // new _DirInfo entries are appended.
  AddFiled(store, kRoot, {"Two", true, 10});
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(ReadBytes(Relation()), " | 5 - [1,3] | 4294967305 - [2]");
  EXPECT_EQ(ReadBytes(DirInfo()).substr(0, 268), std::string(268, 'D'));
  EXPECT_EQ(fs::file_size(DirInfo()), 2u * 268);
}

TEST_F(ScanLogStoreTest, CountFilesWalksTheWholeSubtree) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  AddFiled(store, kRoot, {"A", true, 100});
  AddFiled(store, kRoot, {"top.txt"});
  AddFiled(store, DirectoryKey(1, 100), {"B", true, 200});
  AddFiled(store, DirectoryKey(1, 100), {"a1.txt"});
  AddFiled(store, DirectoryKey(2, 200), {"b1.txt"});
  AddFiled(store, DirectoryKey(2, 200), {"b2.txt"});
  // A second folder with the same id at the same depth shares B's list and
  // must not count it twice.
  AddFiled(store, DirectoryKey(1, 100), {"B-again", true, 200});
  uint32_t count = 0;
  ASSERT_EQ(store.CountFiles(0, count), 0);
  EXPECT_EQ(count, 4u);
  ASSERT_EQ(store.CountFiles(DirectoryKey(1, 100), count), 0);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(store.CountFiles(DirectoryKey(7, 7), count), 0);
  EXPECT_EQ(count, 0u);
  // Records written after the index was built are counted too.
  AddFiled(store, DirectoryKey(2, 200), {"b3.txt"});
  ASSERT_EQ(store.CountFiles(0, count), 0);
  EXPECT_EQ(count, 5u);
}

TEST_F(ScanLogStoreTest, AncestorChainUsesDirInfoOrFallsBackToFolderRecords) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  AddFiled(store, kRoot, {"Top", true, 100});
  // Lost-folder style: no _DirInfo entry, found through the main file.
  AddFiled(store, DirectoryKey(1, 100), {"Mid", true, 200}, /*withDirInfo=*/false);
  uint32_t leaf = AddFiled(store, DirectoryKey(2, 200), {"leaf.txt"});
  FoundFileRecord record{};
  ASSERT_EQ(store.ReadRecord(leaf, record), 0);
  std::vector<FoundFileRecord> chain;
  // Still in the write buffer: AncestorChain does not flush.
  ASSERT_EQ(store.AncestorChain(record, chain), 0);
  EXPECT_EQ(Names(chain), (std::vector<std::string>{"Mid", "Top"}));
  EXPECT_EQ(+chain[0].recordIndex, 2u);
  EXPECT_EQ(+chain[1].recordIndex, 1u);
  ASSERT_EQ(store.FlushScanLog(), 0);
  chain.clear();
  ASSERT_EQ(store.AncestorChain(record, chain), 0);
  EXPECT_EQ(FolderPathFromChain(chain), "Top/Mid/");

  // A parent folder that exists nowhere gives 87.
  uint32_t orphan = AddFiled(store, DirectoryKey(3, 555), {"orphan.txt"});
  ASSERT_EQ(store.ReadRecord(orphan, record), 0);
  chain.clear();
  EXPECT_EQ(store.AncestorChain(record, chain), err::kInvalidParameter);
}

int CancelAtFirstBlock(void* user, int percent, int) {
  static_cast<std::vector<int>*>(user)->push_back(percent);
  return err::kCancelled;
}

int RecordProgress(void* user, int percent, int) {
  static_cast<std::vector<int>*>(user)->push_back(percent);
  return 0;
}

TEST_F(ScanLogStoreTest, ListByCategoryReportsProgressAndStopsOnCancel) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  EXPECT_EQ(ScanLogStore().SetListProgress(RecordProgress, nullptr), err::kInvalidParameter);
  for (int i = 0; i < 7000; ++i) {
    AddFiled(store, kRoot, {"f" + std::to_string(6999 - i) + (i % 2 ? ".jpg" : ".txt")});
  }
  AddFiled(store, kRoot, {"Folder.jpg", true, 50});
  std::vector<int> percents;
  ASSERT_EQ(store.SetListProgress(RecordProgress, &percents), 0);
  std::vector<FoundFileRecord> out;
  ASSERT_EQ(store.ListByCategory(BuildCategoryFilter({"jpg"}), out), 1);
  ASSERT_EQ(out.size(), 3500u);
  EXPECT_EQ(out.front().Name(), "f0.jpg");
  EXPECT_TRUE(std::is_sorted(out.begin(), out.end(), [](const auto& a, const auto& b) {
    return CompareNamesNoCase(a.Name(), b.Name()) < 0;
  }));
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));

  percents.clear();
  out.clear();
  ASSERT_EQ(store.SetListProgress(CancelAtFirstBlock, &percents), 0);
  EXPECT_EQ(store.ListByCategory(".jpg", out), err::kCancelled);
  EXPECT_EQ(percents.size(), 1u);
  EXPECT_LT(out.size(), 3500u);
}

// The main file shrinks under an open log to a length inside a record: the
// pass lists the whole records that are left and ends.
TEST_F(ScanLogStoreTest, ListByCategoryEndsOnAMainFileCutInsideARecord) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  for (int i = 0; i < 3; ++i) AddFiled(store, kRoot, {"p" + std::to_string(i) + ".jpg"});
  ASSERT_EQ(store.FlushScanLog(), 0);
  fs::resize_file(Main(), kFoundFileRecordSize * 2 + 100);
  std::vector<FoundFileRecord> out;
  EXPECT_EQ(store.ListByCategory(BuildCategoryFilter({"jpg"}), out), 1);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"p0.jpg", "p1.jpg"}));
}

// The main file fails a read part-way (a bad sector of the disk the scan
// log lies on): the listing ends with the system's error, not with 1 as if
// it had read every record.
TEST_F(ScanLogStoreTest, ListByCategoryReportsAReadErrorOfTheMainFile) {
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  for (int i = 0; i < 4; ++i) AddFiled(store, kRoot, {"p" + std::to_string(i) + ".jpg"});
  ASSERT_EQ(store.FlushScanLog(), 0);
  const fs::path bytes = temp_.path() / "main.bytes";
  fs::copy_file(Main(), bytes);
  test::FaultyDevice device;
  std::string why;
  if (!device.CreateFile(bytes, {{1, 1}}, why)) GTEST_SKIP() << why;
  // The listing opens the main file by its name; the store keeps its own.
  fs::remove(Main());
  fs::create_symlink(device.path(), Main());
  std::vector<FoundFileRecord> out;
  EXPECT_EQ(store.ListByCategory(BuildCategoryFilter({"jpg"}), out), err::kCrc);
}

TEST_F(ScanLogStoreTest, RefusesBaseNamesThatAreNotPlainFileNames) {
  ScanLogStore store;
  for (const char* name : {"", ".", "..", "../escape", "a/b"}) {
    EXPECT_EQ(store.OpenScanLogIn(Folder(), name), err::kInvalidName) << name;
    EXPECT_FALSE(store.IsOpen());
  }
  EXPECT_FALSE(fs::exists(temp_.path() / "ScanLog" / "escape"));
  EXPECT_EQ(store.ReserveRecord(), nullptr);
}

TEST_F(ScanLogStoreTest, OpensInTheGivenFolderOrWhereAnAbsolutePathPoints) {
  const fs::path folder = temp_.path() / "ScanLog" / "7";
  ScanLogStore store;
  ASSERT_EQ(store.OpenScanLogIn(folder, "Fast_0_20261279 5"), 0);
  EXPECT_EQ(store.MainPath(), folder / "Fast_0_20261279 5");
  EXPECT_TRUE(fs::exists(folder / "Fast_0_20261279 5_Relation"));
  EXPECT_TRUE(fs::exists(folder / "Fast_0_20261279 5_DirInfo"));
  // A log picked by its full path is opened where it lies.
  ScanLogStore picked;
  ASSERT_EQ(picked.OpenScanLogIn(folder, Main().string()), 0);
  EXPECT_EQ(picked.MainPath(), Main());
  EXPECT_EQ(picked.OpenScanLogIn(folder, "../1/log"), err::kInvalidName);
}

TEST_F(ScanLogStoreTest, PartialRecordAtTheEndIsOverwrittenNotAppendedAfter) {
  {
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    AddFiled(store, kRoot, {"one.txt"});
  }
  {
    std::string main = ReadBytes(Main());
    WriteBytes(Main(), main + std::string(100, 'x'));  // a write cut short
  }
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  EXPECT_EQ(store.RecordCount(), 1u);
  uint32_t two = AddFiled(store, kRoot, {"two.txt"});
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(fs::file_size(Main()), 2u * 346);
  FoundFileRecord record{};
  ASSERT_EQ(store.ReadRecord(two, record), 0);
  EXPECT_EQ(record.Name(), "two.txt");
}

TEST_F(ScanLogStoreTest, LogsBeyondTwoGiBUse64BitOffsets) {
  // 6.3 million records (2.18 GB) as a sparse file.
  constexpr uint64_t kStored = 6300000;
  fs::create_directories(Folder());
  {
    FileHandle main;
    ASSERT_EQ(main.OpenReadWrite(Main()), 0);
    ASSERT_EQ(main.Truncate(kStored * 346), 0);
  }
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  ASSERT_EQ(store.RecordCount(), kStored);
  uint32_t folder = AddFiled(store, kRoot, {"Big", true, 12});
  uint32_t file = AddFiled(store, DirectoryKey(1, 12), {"far.txt", false, 0, 1, 5});
  ASSERT_EQ(store.FlushScanLog(), 0);
  EXPECT_EQ(fs::file_size(Main()), (kStored + 2) * 346);
  store.CloseScanLog();

  ASSERT_EQ(Open(store), 0);
  FoundFileRecord record{};
  ASSERT_EQ(store.ReadRecord(file, record), 0);
  EXPECT_EQ(record.Name(), "far.txt");
  EXPECT_EQ(+record.recordIndex, kStored + 2);
  std::vector<FoundFileRecord> children;
  ASSERT_EQ(store.ListChildren(DirectoryKey(1, 12), children), 0);
  ASSERT_EQ(children.size(), 1u);
  std::string path;
  ASSERT_EQ(FolderPathOf(store, record, path), 0);
  EXPECT_EQ(path, "Big/");
  EXPECT_EQ(folder, kStored + 1);
}

// Damaged side files cost relations, never a crash or a hang.
struct DamagedRelationCase {
  const char* label;
  std::string text;
  std::vector<std::string> rootNames;  // ListChildren(0) afterwards
};

TEST_F(ScanLogStoreTest, DamagedRelationFileYieldsFewerRelations) {
  const std::vector<DamagedRelationCase> cases = {
      {"intact", " | 5 - [1,2,3]", {"a.txt", "b.txt", "c.txt"}},
      {"no separator at all", "garbage text [1,2,3]", {}},
      {"cut inside a list", " | 5 - [1,2", {"a.txt"}},
      {"cut inside the key", " | 5 - [1] | 4", {"a.txt"}},
      {"index beyond the records", " | 5 - [1,4000000000,3,99]", {"a.txt", "c.txt"}},
      {"index of zero, negative index", " | 5 - [0,2] | 6 - [-1]", {"b.txt"}},
      {"key too large", " | 99999999999999999999999 - [1] | 6 - [2]", {"b.txt"}},
      {"index too large", " | 5 - [184467440737095516160,3]", {"c.txt"}},
      {"garbage inside a list", " | 5 - [1,x2,3] | 6 - [2]", {"a.txt"}},
      {"later duplicate replaces", " | 5 - [1] | 5 - [3]", {"c.txt"}},
      {"binary noise", std::string("\0\xff | \x01 - [", 10) + std::string(5000, '\x7f'), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(Folder());
    {
      ScanLogStore store;
      ASSERT_EQ(Open(store), 0);
      for (const char* name : {"a.txt", "b.txt", "c.txt"}) AddRecord(store, {name});
    }
    WriteBytes(Relation(), c.text);
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    std::vector<FoundFileRecord> root;
    ASSERT_EQ(store.ListChildren(0, root), 0);
    EXPECT_EQ(Names(root), c.rootNames);
    uint32_t count = 0;
    EXPECT_EQ(store.CountFiles(0, count), 0);
    EXPECT_EQ(count, c.rootNames.size());
    // After a new relation the file is rewritten clean, without the old tail.
    AddFiled(store, 1000, {"new.txt"});
    ASSERT_EQ(store.FlushScanLog(), 0);
    EXPECT_EQ(ReadBytes(Relation()).find("4000000000"), std::string::npos);
    EXPECT_NE(ReadBytes(Relation()).find(" | 1000 - [4]"), std::string::npos);
  }
}

TEST_F(ScanLogStoreTest, DamagedDirInfoIsSkippedNotTrusted) {
  {
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    AddFiled(store, kRoot, {"Top", true, 100});
    AddFiled(store, DirectoryKey(1, 100), {"Mid", true, 200});
    AddFiled(store, DirectoryKey(2, 200), {"leaf.txt"});
  }
  const std::string good = ReadBytes(DirInfo());
  ASSERT_EQ(good.size(), 2u * 268);

  DirInfoEntry bogus{};
  bogus.directoryId = 200;
  bogus.recordIndex = 77777;  // beyond the records
  CopyNameToField("Bogus", bogus.name, sizeof bogus.name);
  const std::string bogusBytes(reinterpret_cast<const char*>(&bogus), sizeof bogus);
  DirInfoEntry unterminated{};
  unterminated.directoryId = 100;
  unterminated.recordIndex = 1;
  std::memset(unterminated.name, 'N', sizeof unterminated.name);

  struct Case {
    const char* label;
    std::string bytes;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"intact", good, "Top/Mid/"},
      {"short last entry", good + std::string(100, 'z'), "Top/Mid/"},
      {"cut inside the first entry", good.substr(0, 200), "Top/Mid/"},  // main-file fallback
      {"entry naming a record that does not exist", bogusBytes + good, "Top/Mid/"},
      {"name without its NUL",
       std::string(reinterpret_cast<const char*>(&unterminated), sizeof unterminated) +
           good.substr(268),
       std::string(259, 'N') + "/Mid/"},
      {"megabyte of noise", std::string(1 << 20, '\xA5'), "Top/Mid/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteBytes(DirInfo(), c.bytes);
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    FoundFileRecord leaf{};
    ASSERT_EQ(store.ReadRecord(3, leaf), 0);
    std::string path;
    EXPECT_EQ(FolderPathOf(store, leaf, path), 0);
    EXPECT_EQ(path, c.path);
  }
}

TEST_F(ScanLogStoreTest, FoldersThatAreEachOthersParentsDoNotLoop) {
  {
    ScanLogStore store;
    ASSERT_EQ(Open(store), 0);
    AddFiled(store, 1, {"root.txt"});
    AddFiled(store, DirectoryKey(1, 20), {"A", true, 10});  // A lies in B
    AddFiled(store, DirectoryKey(1, 10), {"B", true, 20});  // B lies in A
    AddFiled(store, DirectoryKey(1, 10), {"f.txt"});
  }
  ScanLogStore store;
  ASSERT_EQ(Open(store), 0);
  FoundFileRecord file{};
  ASSERT_EQ(store.ReadRecord(4, file), 0);
  std::vector<FoundFileRecord> chain;
  EXPECT_EQ(store.AncestorChain(file, chain), 0);
  EXPECT_LE(chain.size(), 2u);
  uint32_t count = 0;
  EXPECT_EQ(store.CountFiles(DirectoryKey(1, 10), count), 0);
}

}  // namespace
}  // namespace qm::test
