// Partition tables inside image files: real tables written by sfdisk,
// compared with sfdisk's own dump, and hand-built damaged or hostile tables.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "disk/partitions/crc32.h"
#include "disk/partitions/image_partition.h"
#include "disk/partitions/partition_table.h"
#include "disk/sector_source.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::Quote;

using test::TempDir;

const std::string kSbin = "PATH=\"$PATH:/sbin:/usr/sbin\" ";

void MakeSparse(const fs::path& path, uint64_t sectors) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).close();
  fs::resize_file(path, sectors * 512);
}

void WriteAt(const fs::path& path, uint64_t offset, const std::string& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Sfdisk(const fs::path& image, uint64_t sectors, const std::string& script) {
  MakeSparse(image, sectors);
  std::string out;
  int rc = test::Run("printf '%s' " + Quote(script) + " | " + kSbin + "sfdisk -q " + Quote(image.string()), &out);
  if (rc != 0) ADD_FAILURE() << "sfdisk failed: " << out;
  return rc == 0;
}

struct DumpedPartition {
  int number;
  uint64_t start;
  uint64_t size;
  std::string type;
};

// sfdisk's own reading of the table: the oracle the parser is compared with.
std::vector<DumpedPartition> SfdiskDump(const fs::path& image) {
  std::string out;
  EXPECT_EQ(test::Run(kSbin + "sfdisk -d " + Quote(image.string()), &out), 0) << out;
  std::vector<DumpedPartition> parts;
  std::istringstream in(out);
  for (std::string text; std::getline(in, text);) {
    // "<image><N> : start=  2048, size=  4096, type=c, ..."
    const size_t colon = text.find(" : start=");
    if (colon == std::string::npos) continue;
    size_t digits = colon;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
    DumpedPartition d{};
    char type[40] = {};
    if (std::sscanf(text.c_str() + colon, " : start= %lu, size= %lu, type=%39[0-9A-Fa-f-]", &d.start,
                    &d.size, type) != 3)
      continue;
    d.number = std::stoi(text.substr(digits, colon - digits));
    d.type = type;
    parts.push_back(d);
  }
  return parts;
}

std::string TypeText(const PartitionEntry& e, PartitionScheme scheme) {
  if (scheme == PartitionScheme::kGpt) return e.typeGuid;
  char text[8];
  std::snprintf(text, sizeof text, "%x", e.typeByte);
  return text;
}

void ExpectMatchesSfdisk(const fs::path& image, const PartitionTable& table) {
  auto dumped = SfdiskDump(image);
  // sfdisk lists the extended container, which is no partition of its own.
  std::erase_if(dumped, [](const DumpedPartition& d) { return d.type == "5" || d.type == "f"; });
  ASSERT_EQ(table.entries.size(), dumped.size());
  for (size_t i = 0; i < dumped.size(); ++i) {
    SCOPED_TRACE("partition " + std::to_string(dumped[i].number));
    EXPECT_EQ(table.entries[i].number, dumped[i].number);
    EXPECT_EQ(table.entries[i].startSector, dumped[i].start);
    EXPECT_EQ(table.entries[i].sectorCount, dumped[i].size);
    EXPECT_EQ(TypeText(table.entries[i], table.scheme), dumped[i].type);
  }
}

TEST(PartitionTableTest, MbrWithLogicalPartitionsMatchesSfdisk) {
  TempDir dir;
  const fs::path image = dir / "mbr.img";
  ASSERT_TRUE(Sfdisk(image, 40960,
                     "label: dos\n"
                     "start=2048, size=4096, type=c\n"
                     "start=8192, size=4096, type=7\n"
                     "start=16384, size=20480, type=5\n"
                     "start=18432, size=4096, type=83\n"
                     "start=24576, size=8192, type=7\n"));
  PartitionTable table;
  std::string reason;
  ASSERT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
  EXPECT_EQ(table.scheme, PartitionScheme::kMbr);
  ExpectMatchesSfdisk(image, table);
  EXPECT_TRUE(table.entries[2].logical);
  EXPECT_EQ(table.entries[2].number, 5);
}

TEST(PartitionTableTest, GptMatchesSfdiskAndSurvivesDamagedPrimaryHeader) {
  TempDir dir;
  const fs::path image = dir / "gpt.img";
  ASSERT_TRUE(Sfdisk(image, 40960,
                     "label: gpt\n"
                     "start=2048, size=4096, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name=\"data one\"\n"
                     "start=8192, size=8192, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\n"
                     "start=20480, size=2048, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n"));
  PartitionTable table;
  std::string reason;
  ASSERT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
  EXPECT_EQ(table.scheme, PartitionScheme::kGpt);
  ExpectMatchesSfdisk(image, table);
  ASSERT_EQ(table.entries.size(), 3u);
  EXPECT_EQ(table.entries[0].name, "data one");
  EXPECT_EQ(table.entries[0].typeByte, 0x07);
  EXPECT_EQ(table.entries[1].typeByte, 0x83);
  EXPECT_EQ(table.entries[2].typeByte, 0xEF);
  EXPECT_TRUE(table.note.empty());

  // One flipped byte in the primary header: the backup header takes over.
  WriteAt(image, 512 + 40, std::string("\x7F", 1));
  PartitionTable fallback;
  ASSERT_EQ(ReadImagePartitionTable(image.string(), fallback, reason), 0) << reason;
  EXPECT_NE(fallback.note.find("backup header"), std::string::npos) << fallback.note;
  EXPECT_NE(fallback.note.find("CRC"), std::string::npos) << fallback.note;
  ASSERT_EQ(fallback.entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(fallback.entries[i].startSector, table.entries[i].startSector);
    EXPECT_EQ(fallback.entries[i].sectorCount, table.entries[i].sectorCount);
  }

  // Both headers gone: refused, naming both.
  WriteAt(image, (40960 - 1) * 512, std::string(8, '\0'));
  PartitionTable none;
  EXPECT_EQ(ReadImagePartitionTable(image.string(), none, reason), err::kInvalidData);
  EXPECT_NE(reason.find("primary header"), std::string::npos) << reason;
  EXPECT_NE(reason.find("backup header"), std::string::npos) << reason;
  EXPECT_TRUE(none.entries.empty());
}

TEST(PartitionTableTest, SingleVolumeImagesHoldNoTable) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat is not installed (apt-get install dosfstools)";
  QM_SKIP_IF_MISSING(test::MissingMkntfs());
  TempDir dir;
  for (const std::string& mkfs : {std::string("mkfs.fat -F 32 -n VOL"), std::string("mkfs.fat -F 16"),
                                  std::string("mkntfs -q -F -f")}) {
    SCOPED_TRACE(mkfs);
    const fs::path image = dir / "volume.img";
    MakeSparse(image, 80000);
    std::string out;
    ASSERT_EQ(test::Run(kSbin + mkfs + " " + Quote(image.string()), &out), 0) << out;
    PartitionTable table;
    std::string reason;
    EXPECT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
    EXPECT_EQ(table.scheme, PartitionScheme::kNone);
    fs::remove(image);
  }
}

// --- hand-built tables -----------------------------------------------------

struct RawEntry {
  uint8_t type;
  uint32_t start;
  uint32_t count;
  uint8_t status = 0;
};

std::string MbrSector(const std::vector<RawEntry>& entries) {
  std::string s(512, '\0');
  for (size_t i = 0; i < entries.size() && i < 4; ++i) {
    char* e = s.data() + 446 + i * 16;
    e[0] = static_cast<char>(entries[i].status);
    e[4] = static_cast<char>(entries[i].type);
    std::memcpy(e + 8, &entries[i].start, 4);
    std::memcpy(e + 12, &entries[i].count, 4);
  }
  s[510] = 0x55;
  s[511] = static_cast<char>(0xAA);
  return s;
}

struct Ebr {
  uint64_t sector;
  std::vector<RawEntry> entries;
};

struct MbrCase {
  const char* name;
  std::vector<RawEntry> primary;
  std::vector<Ebr> ebrs;
  std::vector<int> usable;                           // numbers of the entries kept usable
  std::vector<std::pair<int, const char*>> marked;   // number, part of its problem
  const char* notePart = nullptr;                    // part of the table's note
  std::vector<uint64_t> usableStarts = {};           // when given: where the usable ones start
};

// One damaged entry, or a broken chain of logical partitions, costs only
// itself: the sound entries stay usable, the others say why not.
TEST(PartitionTableTest, DamagedMbrEntriesAreMarkedAndTheSoundOnesKept) {
  const uint64_t kDisk = 20000;
  const RawEntry sound{0x83, 8000, 100};
  const std::vector<MbrCase> cases = {
      {"overlapping primaries", {{0x07, 100, 1000}, {0x0c, 1000, 500}, sound}, {}, {3},
       {{1, "overlaps partition 2"}, {2, "overlaps partition 1"}}},
      {"entry past the end", {{0x07, 100, 1000}, {0x07, 19000, 1001}}, {}, {1},
       {{2, "runs past the end of the disk"}}},
      {"fourth entry in sector 0", {{0x0c, 63, 900}, {}, {}, {0x07, 0, 100}}, {}, {1},
       {{4, "sector 0"}}},
      {"u32 end wraps", {{0x07, 0xFFFFFF00u, 0x200}, sound}, {}, {2}, {{1, "outside"}}},
      {"two extended", {{0x05, 100, 100}, {0x0f, 300, 100}, sound}, {}, {3}, {},
       "second extended partition"},
      {"logical outside extended",
       {{0x05, 1000, 1000}, sound},
       {{1000, {{0x07, 100, 5000}}}},
       {2},
       {{5, "outside the extended partition"}}},
      {"logical overlaps next EBR",
       {{0x05, 1000, 4000}, sound},
       {{1000, {{0x07, 64, 2000}, {0x05, 1500, 1000}}}, {2500, {{0x07, 64, 100}}}},
       {2},
       {{5, "overlaps the extended boot record in sector 2500"}, {6, "overlaps"}},
       "the extended boot record in sector 2500 cannot be used"},
      {"EBR chain leaves the extended partition",
       {{0x05, 1000, 4000}},
       {{1000, {{0x07, 64, 100}, {0x05, 1000, 1000}}}, {2000, {{0x07, 64, 100}, {0x05, 0x7FFFFFFF, 1}}}},
       {5, 6},
       {},
       "outside the extended partition"},
      {"EBR chain loops back",
       {{0x0c, 63, 900}, {0x05, 1000, 4000}},
       {{1000, {{0x07, 64, 100}, {0x05, 1000, 1000}}}, {2000, {{0x07, 64, 100}, {0x05, 1000, 1}}}},
       {1, 5, 6},
       {},
       "loops back to sector 2000"},
      {"EBR without signature", {{0x05, 1000, 4000}}, {{1000, {{0x07, 64, 100}, {0x05, 1000, 100}}}},
       {5}, {}, "55 AA"},
      {"sound table with two logicals",
       {{0x0c, 63, 900}, {0x05, 1000, 4000}},
       {{1000, {{0x07, 64, 100}, {0x05, 1000, 1000}}}, {2000, {{0x83, 64, 100}}}},
       {1, 5, 6},
       {},
       nullptr,
       {63, 1064, 2064}},
      {"extended partition past the end",
       {{0x0c, 63, 900}, {0x05, 1000, 40000}},
       {{1000, {{0x07, 64, 100}, {0x05, 1000, 1000}}}, {2000, {{0x83, 64, 100}}}},
       {1, 5, 6},
       {},
       "runs past the end of the disk; the logical partitions on the disk are read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path image = dir / "t.img";
    MakeSparse(image, kDisk);
    WriteAt(image, 0, MbrSector(c.primary));
    for (const auto& ebr : c.ebrs) WriteAt(image, ebr.sector * 512, MbrSector(ebr.entries));
    PartitionTable table;
    std::string reason;
    ASSERT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
    EXPECT_EQ(table.scheme, PartitionScheme::kMbr);
    std::vector<int> usable;
    std::vector<uint64_t> starts;
    for (const auto& e : table.entries) {
      if (e.usable()) {
        usable.push_back(e.number);
        starts.push_back(e.startSector);
        EXPECT_LE(e.startSector + e.sectorCount, kDisk) << e.number;
      }
    }
    EXPECT_EQ(usable, c.usable);
    if (!c.usableStarts.empty()) {
      EXPECT_EQ(starts, c.usableStarts);
    }
    for (const auto& [number, part] : c.marked) {
      const auto e = std::find_if(table.entries.begin(), table.entries.end(),
                                  [&](const PartitionEntry& p) { return p.number == number; });
      ASSERT_NE(e, table.entries.end()) << number;
      EXPECT_NE(e->problem.find(part), std::string::npos) << number << ": " << e->problem;
    }
    EXPECT_EQ(table.entries.size(), c.usable.size() + c.marked.size());
    if (c.notePart) {
      EXPECT_NE(table.note.find(c.notePart), std::string::npos) << table.note;
    } else {
      EXPECT_EQ(table.note, "");
    }
  }
}

TEST(PartitionTableTest, BootSectorLikeBytesAreNoTable) {
  TempDir dir;
  const fs::path image = dir / "t.img";
  MakeSparse(image, 100);
  std::string s = MbrSector({{0x07, 10, 10, 0x12}});  // status byte that no MBR has
  WriteAt(image, 0, s);
  PartitionTable table;
  std::string reason;
  EXPECT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0);
  EXPECT_EQ(table.scheme, PartitionScheme::kNone);
  WriteAt(image, 0, std::string(512, '\0'));
  EXPECT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0);
  EXPECT_EQ(table.scheme, PartitionScheme::kNone);
}

void Put32(std::string& s, size_t at, uint32_t v) { std::memcpy(s.data() + at, &v, 4); }
void Put64(std::string& s, size_t at, uint64_t v) { std::memcpy(s.data() + at, &v, 8); }

struct GptSpec {
  uint32_t entryCount = 128;
  uint32_t entrySize = 128;
  uint64_t firstUsable = 34;
  uint64_t lastUsable = 0;  // 0: disk - 34
  std::vector<std::pair<uint64_t, uint64_t>> parts;  // first, last (inclusive)
};

// A GPT with valid CRCs everywhere, so only the field under test is wrong.
void WriteGpt(const fs::path& image, uint64_t diskSectors, const GptSpec& spec) {
  MakeSparse(image, diskSectors);
  WriteAt(image, 0, MbrSector({{0xEE, 1, static_cast<uint32_t>(diskSectors - 1)}}));
  const uint64_t lastUsable = spec.lastUsable ? spec.lastUsable : diskSectors - 34;
  const size_t arrayBytes = std::min<size_t>(size_t{spec.entryCount} * spec.entrySize, 16384);
  std::string entries(arrayBytes, '\0');
  for (size_t i = 0; i < spec.parts.size(); ++i) {
    const size_t at = i * spec.entrySize;
    if (at + 128 > entries.size()) break;
    entries[at] = 0x11;  // a non-zero type GUID
    Put64(entries, at + 32, spec.parts[i].first);
    Put64(entries, at + 40, spec.parts[i].second);
  }
  for (bool primary : {true, false}) {
    const uint64_t my = primary ? 1 : diskSectors - 1;
    const uint64_t arrayLba = primary ? 2 : diskSectors - 33;
    std::string h(512, '\0');
    std::memcpy(h.data(), "EFI PART", 8);
    Put32(h, 8, 0x00010000);
    Put32(h, 12, 92);
    Put64(h, 24, my);
    Put64(h, 32, primary ? diskSectors - 1 : 1);
    Put64(h, 40, spec.firstUsable);
    Put64(h, 48, lastUsable);
    Put64(h, 72, arrayLba);
    Put32(h, 80, spec.entryCount);
    Put32(h, 84, spec.entrySize);
    Put32(h, 88, Crc32(entries.data(), entries.size()));
    Put32(h, 16, Crc32(h.data(), 92));
    WriteAt(image, my * 512, h);
    WriteAt(image, arrayLba * 512, entries);
  }
}

TEST(PartitionTableTest, HostileGptFieldsAreRangeChecked) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  struct Case {
    const char* name;
    GptSpec spec;
    const char* reasonPart;
  };
  const uint64_t kDisk = 4096;
  std::vector<Case> cases = {
      {"huge entry count", {.entryCount = 0x10000000, .parts = {{100, 200}}}, "more than a partition table holds"},
      {"entry size below 128", {.entrySize = 64, .parts = {{100, 200}}}, "entry size 64"},
      {"entry size not a power of two", {.entrySize = 200, .parts = {{100, 200}}}, "entry size 200"},
      {"first usable past the disk", {.firstUsable = kDisk + 5, .lastUsable = kDisk + 9, .parts = {{100, 200}}}, "usable area"},
      {"sound table", {.parts = {{100, 300}, {301, 400}}}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path image = dir / "g.img";
    WriteGpt(image, kDisk, c.spec);
    PartitionTable table;
    std::string reason;
    const int rc = ReadImagePartitionTable(image.string(), table, reason);
    if (c.reasonPart == nullptr) {
      ASSERT_EQ(rc, 0) << reason;
      ASSERT_EQ(table.entries.size(), 2u);
      EXPECT_EQ(table.entries[1].startSector, 301u);
      EXPECT_EQ(table.entries[1].sectorCount, 100u);
      continue;
    }
    EXPECT_EQ(rc, err::kInvalidData);
    EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
  }
}

// Entries a header holds but the disk cannot: each is marked, the partition
// beside it (sectors 3000-3099) stays usable.
TEST(PartitionTableTest, DamagedGptEntriesAreMarkedAndTheSoundOnesKept) {
  const uint64_t kDisk = 4096;
  const struct {
    const char* name;
    GptSpec spec;
    std::vector<std::pair<int, const char*>> marked;  // entry number, part of its problem
  } cases[] = {
      {"partition outside usable area", {.parts = {{3000, 3099}, {100, 4090}}}, {{2, "outside the usable sectors"}}},
      {"partition ends before it starts", {.parts = {{3000, 3099}, {300, 200}}}, {{2, "before it starts"}}},
      {"overlapping partitions", {.parts = {{3000, 3099}, {100, 300}, {300, 400}}},
       {{2, "overlaps partition 3"}, {3, "overlaps partition 2"}}},
      {"64-bit end wraps", {.parts = {{3000, 3099}, {100, ~uint64_t{0}}}}, {{2, "runs past the end"}}},
      {"last usable past the disk", {.lastUsable = kDisk + 5, .parts = {{3000, 3099}, {4000, kDisk + 2}}},
       {{2, "runs past the end of the disk"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path image = dir / "g.img";
    WriteGpt(image, kDisk, c.spec);
    PartitionTable table;
    std::string reason;
    ASSERT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
    ASSERT_EQ(table.entries.size(), c.spec.parts.size());
    EXPECT_TRUE(table.entries[0].usable()) << table.entries[0].problem;
    EXPECT_EQ(table.entries[0].startSector, 3000u);
    for (const auto& [number, part] : c.marked) {
      const PartitionEntry& e = table.entries[static_cast<size_t>(number - 1)];
      EXPECT_NE(e.problem.find(part), std::string::npos) << number << ": " << e.problem;
    }
  }
}

TEST(PartitionTableTest, PrimaryHeaderWithItsArrayInTheUsableAreaFallsBack) {
  TempDir dir;
  const fs::path image = dir / "g.img";
  // firstUsable 10 puts the primary array (sectors 2-33) inside the data
  // area; the backup array at the end stays clear of it.
  WriteGpt(image, 4096, {.firstUsable = 10, .parts = {{100, 200}}});
  PartitionTable table;
  std::string reason;
  ASSERT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
  EXPECT_NE(table.note.find("entry array"), std::string::npos) << table.note;
  ASSERT_EQ(table.entries.size(), 1u);
  EXPECT_EQ(table.entries[0].startSector, 100u);
}

TEST(PartitionTableTest, TruncatedImagesKeepThePartitionsStillInside) {
  TempDir dir;
  const fs::path image = dir / "gpt.img";
  // 64 MiB with three partitions, cut to 48 MiB: the first two still lie
  // wholly inside, the third no longer does.
  ASSERT_TRUE(Sfdisk(image, 131072,
                     "label: gpt\nstart=2048, size=40000\nstart=43008, size=40000\n"
                     "start=88064, size=40000\n"));
  fs::resize_file(image, 98304 * 512);
  PartitionTable table;
  std::string reason;
  ASSERT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0) << reason;
  EXPECT_NE(table.note.find("cut short"), std::string::npos) << table.note;
  ASSERT_EQ(table.entries.size(), 3u);
  EXPECT_TRUE(table.entries[0].usable()) << table.entries[0].problem;
  EXPECT_TRUE(table.entries[1].usable()) << table.entries[1].problem;
  EXPECT_EQ(table.entries[1].startSector, 43008u);
  EXPECT_NE(table.entries[2].problem.find("runs past the end of the disk"), std::string::npos)
      << table.entries[2].problem;

  // Cut before the first usable sector: nothing of the table can be used.
  fs::resize_file(image, 20 * 512);
  EXPECT_EQ(ReadImagePartitionTable(image.string(), table, reason), err::kInvalidData);
  EXPECT_FALSE(reason.empty());
  // Less than one sector: no table, no crash.
  fs::resize_file(image, 100);
  EXPECT_EQ(ReadImagePartitionTable(image.string(), table, reason), 0);
  EXPECT_EQ(table.scheme, PartitionScheme::kNone);
}

TEST(ImagePartitionTest, ResolvesPartitionToADiskRangeWithTheSameBytes) {
  TempDir dir;
  const fs::path image = dir / "disk.img";
  ASSERT_TRUE(Sfdisk(image, 40960,
                     "label: dos\nstart=2048, size=4096, type=c\nstart=8192, size=20480, type=5\n"
                     "start=10240, size=2048, type=7\n"));
  const std::string marker = test::MakeContent(1024, 7);
  WriteAt(image, 10240 * 512, marker);

  DiskTable table({"/dev/null-standin"});
  int drive = -1;
  uint64_t start = 0, count = 0;
  std::string reason;
  ASSERT_EQ(ResolveImagePartition(table, image.string(), 5, drive, start, count, &reason), 0) << reason;
  EXPECT_EQ(drive, 1);
  EXPECT_EQ(start, 10240u);
  EXPECT_EQ(count, 2048u);
  SectorSource source;
  ASSERT_EQ(source.OpenPhysicalDriveSource(table, drive), 0);
  std::string read(1024, '\0');
  ASSERT_EQ(source.ReadSectors(2, read.data(), start, 512, nullptr), 0);
  EXPECT_EQ(read, marker);
  // Asking again keeps the same disk index.
  ASSERT_EQ(ResolveImagePartition(table, image.string(), 1, drive, start, count), 0);
  EXPECT_EQ(drive, 1);
  EXPECT_EQ(start, 2048u);

  EXPECT_EQ(ResolveImagePartition(table, image.string(), 3, drive, start, count, &reason),
            err::kInvalidParameter);
  EXPECT_NE(reason.find("no partition 3"), std::string::npos) << reason;
  EXPECT_EQ(drive, -1);

  // An entry that runs past the end is refused with its reason; the sound
  // one beside it still resolves.
  const fs::path cut = dir / "cut.img";
  ASSERT_TRUE(Sfdisk(cut, 40960, "label: dos\nstart=2048, size=4096, type=c\nstart=8192, size=30000, type=7\n"));
  fs::resize_file(cut, 20000 * 512);
  EXPECT_EQ(ResolveImagePartition(table, cut.string(), 2, drive, start, count, &reason),
            err::kInvalidData);
  EXPECT_NE(reason.find("partition 2 cannot be used: it runs past the end"), std::string::npos) << reason;
  EXPECT_EQ(drive, -1);
  ASSERT_EQ(ResolveImagePartition(table, cut.string(), 1, drive, start, count, &reason), 0) << reason;
  EXPECT_EQ(start, 2048u);
  EXPECT_EQ(table.Size(), 3u);

  const fs::path plain = dir / "plain.img";
  MakeSparse(plain, 100);
  EXPECT_EQ(ResolveImagePartition(table, plain.string(), 1, drive, start, count, &reason),
            err::kInvalidParameter);
  EXPECT_NE(reason.find("no partition table"), std::string::npos) << reason;
  EXPECT_EQ(ResolveImagePartition(table, (dir / "missing.img").string(), 1, drive, start, count,
                                  &reason),
            err::kFileNotFound);
  EXPECT_EQ(table.Size(), 3u);

  // Only images that hold a table become disks.
  EXPECT_EQ(AddPartitionedImage(table, image.string(), drive), 0);
  EXPECT_EQ(drive, 1);
  EXPECT_EQ(AddPartitionedImage(table, plain.string(), drive, &reason), err::kInvalidParameter);
  EXPECT_EQ(drive, -1);
  EXPECT_EQ(table.Size(), 3u);
}

// Random tables and EBR chains: every answer is a table whose usable entries
// lie on the disk without overlapping, or a refusal with a reason. Run under the
// sanitizers, this also shows that no field is used unchecked.
TEST(PartitionTableTest, RandomTablesNeverEscapeTheDisk) {
  TempDir dir;
  const fs::path image = dir / "r.img";
  const uint64_t kDisk = 4096;
  std::mt19937 rng(20261210);
  auto pick = [&](uint32_t below) { return static_cast<uint32_t>(rng() % below); };
  int accepted = 0, refused = 0, withLogicals = 0, withMarked = 0;
  for (int round = 0; round < 400; ++round) {
    MakeSparse(image, kDisk);
    const uint8_t types[] = {0x00, 0x00, 0x00, 0x07, 0x0c, 0x05, 0x0f, 0x83, 0xEE};
    // Mostly small, plausible numbers, now and then anything at all.
    auto number = [&](uint32_t scale) { return pick(8) ? pick(scale) : static_cast<uint32_t>(rng()); };
    auto randomEntries = [&] {
      std::vector<RawEntry> entries;
      for (int i = 0; i < 4; ++i)
        entries.push_back({types[pick(9)], number(kDisk), number(kDisk / 4),
                           static_cast<uint8_t>(pick(16) ? (pick(2) ? 0 : 0x80) : pick(256))});
      return entries;
    };
    // Extended boot records go where the entries point, so chains get walked.
    std::vector<uint64_t> ebrAt;
    auto follow = [&](const std::vector<RawEntry>& entries, uint64_t base) {
      for (const auto& e : entries)
        if (e.type == 0x05 || e.type == 0x0f) ebrAt.push_back(base + e.start);
    };
    const auto primary = randomEntries();
    WriteAt(image, 0, MbrSector(primary));
    follow(primary, 0);
    const uint64_t extStart = ebrAt.empty() ? 0 : ebrAt.front();
    for (size_t i = 0; i < ebrAt.size() && i < 12; ++i) {
      if (ebrAt[i] >= kDisk) continue;
      auto entries = randomEntries();
      if (pick(4)) entries[0] = {0x07, 1 + pick(63), 1 + pick(300)};
      entries[1] = {static_cast<uint8_t>(pick(3) ? 0x05 : 0x00), number(kDisk / 4), 1 + pick(400)};
      WriteAt(image, ebrAt[i] * 512, MbrSector(entries));
      follow({entries[1]}, extStart);
    }
    PartitionTable table;
    std::string reason;
    const int rc = ReadImagePartitionTable(image.string(), table, reason);
    if (rc != 0) {
      ++refused;
      EXPECT_FALSE(reason.empty());
      EXPECT_TRUE(table.entries.empty());
      continue;
    }
    ++accepted;
    if (std::any_of(table.entries.begin(), table.entries.end(),
                    [](const PartitionEntry& e) { return e.logical; }))
      ++withLogicals;
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    bool marked = false;
    for (const auto& e : table.entries) {
      if (!e.usable()) {
        marked = true;
        continue;
      }
      ASSERT_GT(e.sectorCount, 0u);
      ASSERT_LE(e.startSector + e.sectorCount, kDisk);
      spans.push_back({e.startSector, e.startSector + e.sectorCount});
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) ASSERT_LE(spans[i - 1].second, spans[i].first);
    withMarked += marked;
  }
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);
  EXPECT_GT(withLogicals, 0);
  EXPECT_GT(withMarked, 0);
}

}  // namespace
}  // namespace qm
