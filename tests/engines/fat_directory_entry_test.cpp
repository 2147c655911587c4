// FAT directory entries: date decoding and the plausibility tests that the
// quick walk and the deep scans rely on, on hand-built 32-byte entries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engines/fat/fat_directory_entry.h"
#include "fat_test_image.h"
#include "platform/filetime.h"
#include "support/test_support.h"

namespace qm {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t Date(int y, int m, int d) { return static_cast<uint16_t>((y - 1980) << 9 | m << 5 | d); }
constexpr uint16_t Time(int h, int mi, int s) { return static_cast<uint16_t>(h << 11 | mi << 5 | s / 2); }

// A plausible live short entry; tests change what they need.
FatDirEntry ShortEntry(const char* name11, uint8_t attributes = fatattr::kArchive) {
  FatDirEntry e{};
  std::memcpy(e.name, name11, 8);
  std::memcpy(e.ext, name11 + 8, 3);
  e.attributes = attributes;
  e.creationDate = e.accessDate = e.writeDate = Date(2021, 6, 15);
  e.creationTime = e.writeTime = Time(10, 30, 20);
  e.firstClusterLow = 5;
  e.fileSize = 100;
  return e;
}

FatLongNameEntry LongEntry(uint8_t sequence, uint8_t checksum, const std::u16string& units13) {
  FatLongNameEntry e{};
  e.sequence = sequence;
  e.attributes = fatattr::kLongName;
  e.checksum = checksum;
  for (int i = 0; i < 5; ++i) std::memcpy(e.name1 + 2 * i, &units13[i], 2);
  for (int i = 0; i < 6; ++i) std::memcpy(e.name2 + 2 * i, &units13[5 + i], 2);
  for (int i = 0; i < 2; ++i) std::memcpy(e.name3 + 2 * i, &units13[11 + i], 2);
  return e;
}

template <typename T>
void Append(Bytes& block, const T& entry) {
  const auto* p = reinterpret_cast<const uint8_t*>(&entry);
  block.insert(block.end(), p, p + sizeof entry);
}

Bytes Block(std::initializer_list<FatDirEntry> entries, size_t total = 512) {
  Bytes b;
  for (const auto& e : entries) Append(b, e);
  b.resize(total, 0);
  return b;
}

FatDirEntry DotEntry(bool dotDot) {
  FatDirEntry e = ShortEntry(dotDot ? "..         " : ".          ", fatattr::kDirectory);
  e.fileSize = 0;
  return e;
}

TEST(FatTimes, DecodeWithoutZoneAndWithHundredths) {
  uint64_t t = 0;
  ASSERT_TRUE(FatDateTimeToFileTime(Date(2023, 2, 28), Time(23, 31, 58), 155, t));
  const CivilTime c = FileTimeToCivil(t);
  EXPECT_EQ(c.year, 2023);
  EXPECT_EQ(c.month, 2);
  EXPECT_EQ(c.day, 28);
  EXPECT_EQ(c.hour, 23);
  EXPECT_EQ(c.minute, 31);
  // 155 hundredths: one more second and 550 ms.
  EXPECT_EQ(c.second, 59);
  EXPECT_EQ(c.millisecond, 550);
  // Month 0 (an unset date) does not convert.
  EXPECT_FALSE(FatDateTimeToFileTime(0, 0, 0, t));
  EXPECT_EQ(t, 0u);
}

TEST(FatDirectoryEntry, Plausibility) {
  struct Case {
    const char* what;
    Bytes bytes;
    bool plausible;
  };
  auto bytesOf = [](auto entry) {
    Bytes b;
    Append(b, entry);
    return b;
  };
  FatDirEntry old = ShortEntry("OLD     TXT");
  old.creationDate = old.accessDate = old.writeDate = Date(1985, 1, 1);
  FatDirEntry oldDeleted = old;
  oldDeleted.name[0] = kFatDeletedMark;
  FatDirEntry label = ShortEntry("QMTEST     ", fatattr::kVolumeLabel);
  label.fileSize = 0;
  label.firstClusterLow = 0;
  FatDirEntry labelWithSize = label;
  labelWithSize.fileSize = 1;
  FatDirEntry emptyWithCluster = ShortEntry("EMPTY   TXT");
  emptyWithCluster.fileSize = 0;
  FatDirEntry readOnlyDir = ShortEntry("DIR        ", fatattr::kDirectory | fatattr::kReadOnly);
  readOnlyDir.fileSize = 0;
  FatDirEntry dirWithSize = ShortEntry("DIR        ", fatattr::kDirectory);
  FatDirEntry hidden = ShortEntry("HIDDEN  SYS", fatattr::kHidden | fatattr::kSystem);
  Bytes dotPair = bytesOf(DotEntry(false));
  Append(dotPair, DotEntry(true));
  const std::u16string units(13, u'a');

  const std::vector<Case> cases = {
      {"live file", bytesOf(ShortEntry("REPORT  DOC")), true},
      {"live file dated 1985", bytesOf(old), false},
      {"deleted file dated 1985", bytesOf(oldDeleted), true},
      {"lower-case short name", bytesOf(ShortEntry("report  doc")), false},
      {"'?' in a short name", bytesOf(ShortEntry("REP?RT  DOC")), false},
      {"volume label, size 0, cluster 0", bytesOf(label), true},
      {"volume label with a size", bytesOf(labelWithSize), false},
      {"empty file with a cluster", bytesOf(emptyWithCluster), false},
      {"read-only folder", bytesOf(readOnlyDir), false},
      {"live folder with a size", bytesOf(dirWithSize), false},
      {"neither archive nor folder", bytesOf(hidden), false},
      {"attribute 0x40", bytesOf(ShortEntry("REPORT  DOC", 0x40)), false},
      {"'.' of a '.'/'..' pair", dotPair, true},
      {"'..' on its own", bytesOf(DotEntry(true)), false},
      {"long name, last of 20 pieces", bytesOf(LongEntry(0x40 | 20, 0, units)), true},
      {"long name, piece 21", bytesOf(LongEntry(0x40 | 21, 0, units)), false},
      {"deleted long-name piece", bytesOf(LongEntry(kFatDeletedMark, 0, units)), true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsDirectoryEntry(c.bytes.data(), c.bytes.size()), c.plausible) << c.what;
}

TEST(FatDirectoryEntry, DotClusterStart) {
  Bytes pair;
  Append(pair, DotEntry(false));
  Append(pair, DotEntry(true));
  EXPECT_TRUE(IsDotClusterStart(pair.data(), pair.data() + 32));
  EXPECT_FALSE(IsDotClusterStart(pair.data() + 32, pair.data()));
  FatDirEntry file = ShortEntry(".          ");
  Bytes notDir;
  Append(notDir, file);
  Append(notDir, DotEntry(true));
  EXPECT_FALSE(IsDotClusterStart(notDir.data(), notDir.data() + 32));
}

TEST(FatDirectorySector, Blocks) {
  const FatDirEntry a = ShortEntry("A       TXT");
  const FatDirEntry b = ShortEntry("B       TXT");
  const FatDirEntry c = ShortEntry("C       TXT");
  Bytes garbageAfterEnd = Block({a, b});
  garbageAfterEnd[100] = 1;

  const std::u16string longName = std::u16string(u"longname.txt") + u'\0';
  FatDirEntry shortOfLong = ShortEntry("LONGNA~1TXT");
  const uint8_t checksum = ShortNameChecksum(shortOfLong.name);
  Bytes longThenShort;
  Append(longThenShort, LongEntry(0x41, checksum, longName));
  Append(longThenShort, shortOfLong);
  longThenShort.resize(512, 0);
  Bytes longThenOther;
  Append(longThenOther, LongEntry(0x41, static_cast<uint8_t>(checksum + 1), longName));
  Append(longThenOther, shortOfLong);
  longThenOther.resize(512, 0);

  Bytes repeatedFill;
  for (FatDirEntry e : {a, b}) {
    auto* p = reinterpret_cast<uint8_t*>(&e);
    for (int i = 13; i <= 28; i += 4) std::memcpy(p + i, "\x21\x43\x65\x07", 4);
    std::memcpy(p + 29, p + 13, 2);
    Append(repeatedFill, e);
  }
  repeatedFill.resize(512, 0);

  // Short names of "Résumé.txt" and "Müller.jpg" as code page 850 writes
  // them, and of "写真.jpg" in Shift JIS, whose second pair has a trail
  // byte below 0x80.
  const FatDirEntry resume = ShortEntry("R\x90SUM\x90~1TXT");
  const FatDirEntry muller = ShortEntry("M\x9ALLER~1JPG");
  const FatDirEntry photo = ShortEntry("\x8E\xCA\x90\x5E    JPG");

  struct Case {
    const char* what;
    Bytes bytes;
    bool directory;
  };
  const std::vector<Case> cases = {
      {"three entries then zeros", Block({a, b, c}), true},
      {"accented letters of a single-byte code page", Block({resume, a, muller}), true},
      {"double-byte name with a trail byte below 0x80", Block({a, photo}), true},
      {"end after two entries, then zeros", Block({a, b}), true},
      {"first entry empty", Block({}), false},
      {"bytes after the end entry", garbageAfterEnd, false},
      {"long name ending in its short entry", longThenShort, true},
      {"long name with another checksum", longThenOther, false},
      {"0xF6 filler", Bytes(512, 0xF6), false},
      {"repeated 4-byte fill", repeatedFill, false},
      {"shorter than one entry", Bytes(16, 0xAB), true},
  };
  for (const Case& k : cases)
    EXPECT_EQ(IsDirectorySector(k.bytes.data(), k.bytes.size()), k.directory) << k.what;
}

// Sectors written by mtools: a root directory with a volume label, a long
// name and a folder passes; a folder's first cluster opens with "."/"..";
// file content is not a directory.
TEST(FatDirectorySector, RealSectors) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "no dosfstools/mtools";
  test::TempDir dir;
  test::FatImageBuilder b(dir / "real.img", 16, 16384, 1);
  ASSERT_TRUE(b.Create());
  ASSERT_TRUE(b.AddFile("Long Name File.txt", test::MakeContent(600, 1)));
  ASSERT_TRUE(b.MakeDir("SUB"));
  test::FatTestImage image(b.image());
  ASSERT_TRUE(image.ok());
  const FatGeometry& g = image.geometry();
  auto sector = [&](size_t offset) {
    std::vector<uint8_t> bytes(512);
    for (size_t i = 0; i < 512; ++i) bytes[i] = image.Byte(offset + i);
    return bytes;
  };
  const auto root = sector(g.RootDirOffset());
  EXPECT_TRUE(IsDirectorySector(root.data(), root.size()));
  const size_t sub = image.FindEntry("SUB        ");
  const size_t file = image.FindEntry("LONGNA~1TXT");
  ASSERT_NE(sub, std::string::npos);
  ASSERT_NE(file, std::string::npos);
  const auto subStart = sector(image.ClusterOffset(image.EntryCluster(sub)));
  EXPECT_TRUE(IsDotClusterStart(subStart.data(), subStart.data() + 32));
  const auto content = sector(image.ClusterOffset(image.EntryCluster(file)));
  EXPECT_FALSE(IsDirectorySector(content.data(), content.size()));
}

}  // namespace
}  // namespace qm
