// The deep pass's per-sector question. The pre-check of the catalogue may
// say yes too often but never no where a catalogue row matches, which is
// checked on random sectors, on a start of every row, on those starts with
// single bytes changed and on random sectors that share a start's first
// bytes. Then the order of the answers: MFT records, a FAT folder's first
// sector, FAT directory sectors, carving candidates.
#include "engines/deep/deep_sector_classifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_source.h"
#include "engines/fat/fat_directory_entry.h"
#include "engines/ntfs/ntfs_file_record.h"
#include "engines/signatures/signature_catalogue.h"
#include "support/test_support.h"

namespace qm {
namespace {

using namespace std::literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSector = 512;

struct Sector {
  Bytes b = Bytes(kSector, 0);
  Sector& put(size_t at, std::string_view s) {
    std::memcpy(b.data() + at, s.data(), s.size());
    return *this;
  }
  Sector& le16(size_t at, uint16_t v) { return put(at, {reinterpret_cast<char*>(&v), 2}); }
  Sector& le32(size_t at, uint32_t v) { return put(at, {reinterpret_cast<char*>(&v), 4}); }
  Sector& be16(size_t at, uint16_t v) {
    const char s[2] = {char(v >> 8), char(v)};
    return put(at, {s, 2});
  }
  Sector& be32(size_t at, uint32_t v) {
    const char s[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return put(at, {s, 4});
  }
};

Sector TransportPackets(Sector s = {}) {
  for (size_t at = 0; at < kSector; at += 188) s.put(at, "\x47\x40\x11\x10"sv);
  return s;
}

// One start of a file for every row of the catalogue (and the variants of
// rows with several kinds of start), as the first sector of the file.
std::vector<Sector> SignatureStarts() {
  Sector pe;
  pe.put(0, "MZ").le32(60, 0x80).put(0x80, "PE\0\0"sv).le16(0x80 + 22, 0x0102);
  Sector icon;
  icon.le16(2, 1).le16(4, 2).put(6, "\x20\x20\0\0"sv).le32(6 + 8, 1128).le32(6 + 12, 38);
  icon.put(22, "\x20\x20\0\0"sv).le32(22 + 8, 4264).le32(22 + 12, 38 + 1128);
  Sector font;
  font.be32(0, 0x00010000).be16(4, 3).be16(6, 32).be16(8, 1).be16(10, 16).be32(60, 0x00010000);
  return {
      Sector().put(0, "\0\0\x01\xBA"sv).put(14, "\0\0\x01\xBB"sv),
      Sector().put(0, "\0\0\x01\xB3"sv).put(12, "\0\0\x01\xB8"sv),
      Sector().be32(0, 32).put(4, "ftypisom"),
      Sector().be32(0, 32).put(4, "ftypmp42"),
      Sector().put(0, ".RMF"),
      Sector().put(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv),
      Sector().put(0, "FWS\x05"),
      Sector().put(0, "CWS\x0A"),
      Sector().put(0, "RIFF\x10\0\0\0AVI LIST"sv),
      Sector().put(0, "FLV\x01\x05\0\0\0\x09"sv),
      Sector().be32(0, 20).put(4, "ftyp3gp4"),
      Sector().put(0, "\x1A\x45\xDF\xA3"),
      TransportPackets(),
      Sector().put(4, "\x47\x40\x00\x10\0\0\xB0\x11\0\0\xC1\0"sv),
      Sector().put(0, "\x01\x02\x03\x04\x47\x40\x00\x10\0\0\xB0\x11\0\0\xC1\0"sv),
      Sector().put(0, "\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x02\x04\x00"sv),
      Sector().put(0, "ID3\x03\x00\x00\x00\x00\x10\x7F"sv),
      Sector().put(0, "MThd").be32(4, 6).be16(8, 1).be16(10, 1).be16(12, 96).put(14, "MTrk"),
      Sector().put(0, "MAC \x96\x0F"sv),
      Sector().put(0, "RIFF\x24\0\0\0WAVEfmt "sv),
      Sector().put(0, "moov"),
      Sector().be32(0, 20).put(4, "ftypqt  "),
      Sector().put(0, "\xFF\xFD\xE4\x00"sv),
      Sector().put(0, "MMMD"),
      Sector().put(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv),
      Sector().put(0, "GIF87a"),
      Sector().put(0, "GIF89a"),
      Sector().put(0, "BM").le32(2, 70).le32(10, 54).le32(14, 40),
      Sector().put(0, "BA").le32(2, 70).le32(10, 54).le32(14, 40),
      Sector().put(0, "\xFF\xD8\xFF\xE0\x00\x10JFIF\0"sv),
      Sector().put(0,
                   "\xFF\xD8\xFF\xE1\x1F\xFE"
                   "Exif\0\0"sv),
      Sector().put(0, "\xFF\xD8\xFF\xDB\x00\x43"sv),
      Sector().put(0, "\xFF\xD8\xFF\xC4\x01\xA2"sv),
      Sector().put(0, "\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00"sv),
      Sector().put(0, "\xFF\xD8\xFF\xFE\x00\x05hi"sv),
      Sector().put(0, "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"sv),
      Sector().put(0, "8BPS\0\x01"sv),
      Sector().put(0, "MM\0\x2A"sv),
      Sector().put(0, "II\x2A\0"sv),
      icon,
      Sector().put(0, "PK\x03\x04\x14\0\0\0\0\0"sv).le16(26, 17).put(30, "word/document.xml"),
      Sector().put(31, "[Content_Types].xml"),
      Sector().put(0, "%PDF-1.7"),
      Sector().put(0, "\x1F\x8B\x08\x08\0\0\0\0\x02\x03"sv),
      Sector().put(0, "\x1F\x8B\x08\x00\0\0\0\0\x04\xFF"sv),
      Sector().put(0, "7z\xBC\xAF\x27\x1C"sv),
      Sector().put(0, "PK\x03\x04\x14\0\0\0\0\0"sv).le16(26, 10).put(30, "random.txt"),
      Sector().put(0, "Rar!\x1A\x07\x00\xCF\x90\x73"sv),
      Sector().put(0, "MSCF").le32(8, 4096),
      pe,
      Sector().put(0, "\xFE\xEF\x00\x00\x01"sv),
      Sector().put(0, "SQLite format 3\0"sv),
      Sector().put(0, "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F"sv),
      Sector().put(0, "!BDN").put(8, "SM"),
      font,
  };
}

// The tests that read on from the candidate (transport stream, Open XML)
// look at an image whose sectors from 1 on hold a transport stream with a
// ZIP local header named "word/..." inside its first packet: both accept
// whatever they are handed as far as the source goes. A fresh context has
// no carved streams and no MTS start before, so every test answers in its
// most accepting way.
class CataloguePreCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    Bytes image(kSector, 0);
    for (int packet = 0; packet < 60; ++packet) {
      Bytes p(188, 0xFF);
      std::memcpy(p.data(), "\x47\x40\x11\x10", 4);
      if (packet == 0) {
        std::memcpy(p.data() + 4, "PK\x03\x04", 4);
        p[4 + 26] = 17;
        p[4 + 27] = 0;
        std::memcpy(p.data() + 4 + 30, "word/document.xml", 17);
      }
      image.insert(image.end(), p.begin(), p.end());
    }
    image.resize(41 * kSector, 0);
    path_ = dir_ / "accepting.img";
    test::WriteBytes(path_, std::string(image.begin(), image.end()));
    ASSERT_EQ(source_.OpenImageSource(path_), 0);
  }

  int Catalogue(const Bytes& sector) {
    SignatureScanContext context;
    context.source = &source_;
    context.sectorSize = kSector;
    context.startSector = 1;
    context.currentSector = 1;
    return FirstMatchingType(sector.data(), sector.size(), context, kNoSignatureMatch);
  }

  // The property itself; counts the sectors the pre-check let through.
  void ExpectExact(const Bytes& sector, size_t& passed) {
    if (MayStartKnownFile(sector.data(), sector.size())) {
      ++passed;
      return;
    }
    EXPECT_EQ(Catalogue(sector), kNoSignatureMatch)
        << "turned away, but the catalogue matches a sector starting "
        << ::testing::PrintToString(Bytes(sector.begin(), sector.begin() + 16));
  }

  test::TempDir dir_;
  std::filesystem::path path_;
  SectorSource source_;
  std::mt19937_64 random_{20261210};
};

TEST_F(CataloguePreCheck, NeverTurnsAwayASectorTheCatalogueMatches) {
  std::uniform_int_distribution<int> byte(0, 255);
  auto randomSector = [&] {
    Bytes s(kSector);
    for (size_t at = 0; at < kSector; at += 8) {
      const uint64_t word = random_();
      std::memcpy(s.data() + at, &word, 8);
    }
    return s;
  };

  // Random sectors: nearly all are turned away.
  size_t passed = 0;
  constexpr int kRandom = 50000;
  for (int i = 0; i < kRandom; ++i) ExpectExact(randomSector(), passed);
  EXPECT_LT(passed, size_t{kRandom / 100});

  for (const Sector& start : SignatureStarts()) {
    const Bytes& s = start.b;
    SCOPED_TRACE(::testing::PrintToString(Bytes(s.begin(), s.begin() + 16)));
    ASSERT_NE(Catalogue(s), kNoSignatureMatch) << "a start the catalogue does not match";
    EXPECT_TRUE(MayStartKnownFile(s.data(), s.size()));

    // Each of the first 64 bytes changed alone, to values on both sides of
    // every field boundary the tests draw.
    for (size_t at = 0; at < 64; ++at) {
      const uint8_t v = s[at];
      for (int value : {0, 1, 0x7F, 0x80, 0xFF, v ^ 0x01, v ^ 0x20, v ^ 0x80, v + 1, v - 1,
                        byte(random_), byte(random_)}) {
        Bytes mutated = s;
        mutated[at] = static_cast<uint8_t>(value);
        ExpectExact(mutated, passed);
      }
    }
    // The start's first k bytes, and the rest random; then the start whole
    // with random bytes where it holds zeros (the tests' other fields).
    for (size_t k = 1; k <= 16; ++k) {
      for (int i = 0; i < 100; ++i) {
        Bytes r = randomSector();
        std::memcpy(r.data(), s.data(), k);
        ExpectExact(r, passed);
      }
    }
    for (int i = 0; i < 200; ++i) {
      Bytes r = randomSector();
      for (size_t at = 0; at < kSector; ++at)
        if (s[at] != 0) r[at] = s[at];
      ExpectExact(r, passed);
    }
  }

  // Each row's own first bytes with random rest.
  for (const SignatureEntry& row : SignatureTable()) {
    for (char first : row.firstBytes) {
      for (int i = 0; i < 200; ++i) {
        Bytes r = randomSector();
        r[0] = static_cast<uint8_t>(first);
        ExpectExact(r, passed);
      }
    }
  }
}

TEST_F(CataloguePreCheck, BlankSectorsAreTurnedAway) {
  for (uint8_t fill : {0x00, 0xFF, 0xF6, 0x20}) {
    const Bytes s(kSector, fill);
    EXPECT_FALSE(MayStartKnownFile(s.data(), s.size())) << int(fill);
    EXPECT_EQ(ClassifyDeepSector(s.data(), kSector), DeepSectorKind::kNothing) << int(fill);
  }
}

// ---- classification order ----

// An MFT file record's first sector: "FILE", bytes in use and allocated for
// a record of two 512-byte sectors (one sector when larger), the update
// sequence number at +48 and again at the end of the first 512 bytes.
Bytes FileRecord(uint32_t sectorSize, uint16_t flags) {
  Bytes s(sectorSize, 0);
  const uint32_t record = sectorSize <= 512 ? 2 * sectorSize : sectorSize;
  std::memcpy(s.data(), "FILE", 4);
  s[4] = 48;
  s[6] = static_cast<uint8_t>(record / 512 + 1);
  std::memcpy(s.data() + 22, &flags, 2);
  const uint32_t used = 400;
  std::memcpy(s.data() + 24, &used, 4);
  std::memcpy(s.data() + 28, &record, 4);
  s[48] = 0x2A;
  s[510] = 0x2A;
  return s;
}

// A 32-byte short directory entry dated 2020-06-15 12:30.
void PutEntry(Bytes& s, size_t at, std::string_view name11, uint8_t attributes, uint32_t size,
              uint16_t cluster, uint16_t writeTime = 0x63C0) {
  const uint16_t date = ((2020 - 1980) << 9) | (6 << 5) | 15;
  std::memcpy(s.data() + at, name11.data(), 11);
  s[at + 11] = attributes;
  std::memcpy(s.data() + at + 14, &writeTime, 2);
  std::memcpy(s.data() + at + 16, &date, 2);
  std::memcpy(s.data() + at + 18, &date, 2);
  std::memcpy(s.data() + at + 22, &writeTime, 2);
  std::memcpy(s.data() + at + 24, &date, 2);
  std::memcpy(s.data() + at + 26, &cluster, 2);
  std::memcpy(s.data() + at + 28, &size, 4);
}

Bytes DotCluster(uint16_t dotDotWriteTime) {
  Bytes s(kSector, 0);
  PutEntry(s, 0, ".          ", 0x10, 0, 5);
  PutEntry(s, 32, "..         ", 0x10, 0, 0, dotDotWriteTime);
  PutEntry(s, 64, "PHOTO   JPG", 0x20, 5000, 6);
  return s;
}

Bytes Directory(std::string_view firstName) {
  Bytes s(kSector, 0);
  PutEntry(s, 0, firstName, 0x20, 100, 3);
  PutEntry(s, 32, "NOTES   TXT", 0x20, 2000, 4);
  return s;
}

TEST(DeepSectorClassifier, KindsInTheirOrder) {
  Bytes jpeg(kSector, 0x5A);
  std::memcpy(jpeg.data(), "\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
  Bytes notARecord = FileRecord(kSector, 1);
  const uint32_t allocated = 4096;  // not the size of a record of 512-byte sectors
  std::memcpy(notARecord.data() + 28, &allocated, 4);

  struct Case {
    const char* name;
    Bytes sector;
    uint32_t sectorSize;
    DeepSectorKind kind;
  };
  const Case cases[] = {
      {"file record", FileRecord(kSector, 0x01), kSector, DeepSectorKind::kFileRecord},
      {"deleted file record", FileRecord(kSector, 0x00), kSector, DeepSectorKind::kFileRecord},
      {"directory record", FileRecord(kSector, 0x03), kSector, DeepSectorKind::kDirectoryRecord},
      {"file record of a 4096-byte sector", FileRecord(4096, 0x01), 4096,
       DeepSectorKind::kFileRecord},
      {"record of the wrong size", notARecord, kSector, DeepSectorKind::kNothing},
      {"folder's first sector", DotCluster(0x63C0), kSector, DeepSectorKind::kDotCluster},
      {"dot entries with other times", DotCluster(0x63C1), kSector, DeepSectorKind::kNothing},
      {"directory sector", Directory("README  TXT"), kSector, DeepSectorKind::kDirectory},
      // "MZ" starts an executable too, but a directory sector comes first.
      {"directory sector opening like a program", Directory("MZ      EXE"), kSector,
       DeepSectorKind::kDirectory},
      {"jpeg", jpeg, kSector, DeepSectorKind::kCarveCandidate},
      {"zeros", Bytes(kSector, 0), kSector, DeepSectorKind::kNothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GE(c.sector.size(), c.sectorSize);
    EXPECT_EQ(ClassifyDeepSector(c.sector.data(), c.sectorSize), c.kind);
  }
}

// The cheap look at a sector's first entry, which spares random sectors the
// full directory test, keeps every sector that test accepts: directory
// sectors of every kind of first entry, each with single bytes of its first
// two entries changed, are classified as directories exactly when the
// full tests in their order say so.
TEST(DeepSectorClassifier, DirectoryPreCheckKeepsEveryDirectorySector) {
  Bytes longName(kSector, 0);
  PutEntry(longName, 32, "LONGNA~1JPG", 0x20, 4000, 7);
  const uint8_t checksum = ShortNameChecksum(longName.data() + 32);
  longName[0] = 0x41;
  for (int i = 0; i < 5; ++i) longName[1 + 2 * i] = static_cast<uint8_t>("longn"[i]);
  longName[11] = 0x0F;
  longName[13] = checksum;
  Bytes label(kSector, 0);
  PutEntry(label, 0, "BACKUP     ", 0x08, 0, 0);
  PutEntry(label, 32, "DATA       ", 0x10, 0, 3);
  Bytes deleted = Directory("README  TXT");
  deleted[0] = 0xE5;
  Bytes folder(kSector, 0);
  PutEntry(folder, 0, "PHOTOS     ", 0x10, 0, 9);
  const Bytes starts[] = {Directory("README  TXT"), longName, label, deleted, folder,
                          DotCluster(0x63C1)};

  std::mt19937 random(11);
  size_t directories = 0, others = 0;
  for (const Bytes& start : starts) {
    for (size_t at = 0; at < 64; ++at) {
      const uint8_t v = start[at];
      for (int value : {0, 0x05, 0x0F, 0x10, 0x11, 0x20, 0x2E, 0x3F, 0x40, 0x41, 0x61, 0x7A, 0xE5,
                        0xFF, v ^ 0x01, v ^ 0x80, v + 1, v - 1, int(random() & 0xFF)}) {
        Bytes s = start;
        s[at] = static_cast<uint8_t>(value);
        const bool dotStart = IsDotClusterStart(s.data(), s.data() + 32) &&
                              std::memcmp(s.data() + 14, s.data() + 46, 4) == 0 &&
                              std::memcmp(s.data() + 22, s.data() + 54, 4) == 0;
        const bool directory =
            !ntfs::IsFileRecordCandidate(ntfs::Bytes(s.data(), kSector), kSector) && !dotStart &&
            IsDirectorySector(s.data(), kSector);
        (directory ? directories : others)++;
        EXPECT_EQ(ClassifyDeepSector(s.data(), kSector) == DeepSectorKind::kDirectory, directory)
            << "byte " << at << " set to " << value << " in "
            << ::testing::PrintToString(Bytes(s.begin(), s.begin() + 32));
      }
    }
  }
  EXPECT_GT(directories, 1000u);
  EXPECT_GT(others, 1000u);
}

}  // namespace
}  // namespace qm
