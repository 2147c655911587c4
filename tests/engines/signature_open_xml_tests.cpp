// The content check of Office Open XML packages: ZIP files whose part names
// say which application wrote them, found by reading the first sectors of the
// file through a real SectorSource.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_source.h"
#include "engines/signatures/signature_catalogue.h"
#include "support/test_support.h"

namespace qm {
namespace {

using namespace std::literals;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr uint32_t kSector = 512;

// A ZIP made by the zip tool from the given files (name -> content).
Bytes ZipWithTool(const test::TempDir& dir, const std::string& name,
                  const std::map<std::string, std::string>& files) {
  const fs::path tree = dir / (name + ".d");
  std::string list;
  for (const auto& [path, content] : files) {
    fs::create_directories((tree / path).parent_path());
    test::WriteBytes(tree / path, content);
    list += " " + test::Quote(path);
  }
  const fs::path zip = dir / (name + ".zip");
  // -nw: names such as "[Content_Types].xml" are not wildcard patterns.
  const std::string command =
      "cd " + test::Quote(tree.string()) + " && zip -X -q -nw " + test::Quote(zip.string()) + list;
  std::string output;
  EXPECT_EQ(test::Run(command, &output), 0) << output;
  const std::string bytes = test::ReadBytes(zip);
  return Bytes(bytes.begin(), bytes.end());
}

// A stored ZIP local file header with `dataBytes` bytes of filler after it.
void AppendLocalFile(Bytes& zip, std::string_view name, size_t dataBytes) {
  Bytes header(30, 0);
  header[0] = 'P', header[1] = 'K', header[2] = 3, header[3] = 4, header[4] = 20;
  header[18] = header[22] = static_cast<uint8_t>(dataBytes);
  header[19] = header[23] = static_cast<uint8_t>(dataBytes >> 8);
  header[26] = static_cast<uint8_t>(name.size());
  zip.insert(zip.end(), header.begin(), header.end());
  zip.insert(zip.end(), name.begin(), name.end());
  zip.insert(zip.end(), dataBytes, 'x');
}

void AppendEndRecord(Bytes& zip) {
  Bytes record(22, 0);
  record[0] = 'P', record[1] = 'K', record[2] = 5, record[3] = 6;
  zip.insert(zip.end(), record.begin(), record.end());
}

// The file at sector 1 of an image; `padSectors` zero sectors follow it.
struct PackageImage {
  SectorSource source;
  Bytes firstSector = Bytes(kSector, 0);

  PackageImage(const test::TempDir& dir, const std::string& name, const Bytes& file,
               size_t padSectors = 24) {
    std::string bytes(kSector, '\0');
    bytes.append(file.begin(), file.end());
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector + padSectors * kSector, '\0');
    const fs::path path = dir / (name + ".img");
    test::WriteBytes(path, bytes);
    EXPECT_EQ(source.OpenImageSource(path), 0);
    std::copy_n(file.begin(), std::min<size_t>(file.size(), kSector), firstSector.begin());
  }
  SignatureScanContext Context() const {
    SignatureScanContext context;
    context.source = &source;
    context.sectorSize = kSector;
    context.startSector = 1;
    return context;
  }
  int Check(std::string_view extension) const {
    SignatureScanContext context = Context();
    return CheckContentByExtension(firstSector.data(), firstSector.size(), extension, context);
  }
  int Identify() const {
    SignatureScanContext context = Context();
    return IdentifyType(firstSector.data(), firstSector.size(), context);
  }
};

const std::map<std::string, std::string> kPackageCommon = {
    {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types/>"},
    {"_rels/.rels", "<?xml version=\"1.0\"?><Relationships/>"},
};

std::map<std::string, std::string> Package(std::string part) {
  auto files = kPackageCommon;
  files[std::move(part)] = "<?xml version=\"1.0\"?><document/>";
  return files;
}

class OpenXmlContentCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  }
  test::TempDir dir_;
};

TEST_F(OpenXmlContentCheck, PackagesMadeByZip) {
  const PackageImage docx(dir_, "docx", ZipWithTool(dir_, "docx", Package("word/document.xml")));
  EXPECT_EQ(docx.Check("docx"), 1);
  EXPECT_EQ(docx.Check("DOCM"), 1);
  EXPECT_EQ(docx.Check("xlsx"), 0);
  EXPECT_EQ(docx.Check("pptx"), 0);
  EXPECT_EQ(docx.Check("zip"), 1);
  EXPECT_EQ(docx.Identify(), 1);

  const PackageImage xlsx(dir_, "xlsx", ZipWithTool(dir_, "xlsx", Package("xl/workbook.xml")));
  EXPECT_EQ(xlsx.Check("xlsx"), 1);
  EXPECT_EQ(xlsx.Check("docx"), 0);
  EXPECT_EQ(xlsx.Identify(), 4);

  const PackageImage pptx(dir_, "pptx", ZipWithTool(dir_, "pptx", Package("ppt/presentation.xml")));
  EXPECT_EQ(pptx.Check("ppsx"), 1);
  EXPECT_EQ(pptx.Check("xlsx"), 0);

  const PackageImage other(dir_, "other",
                           ZipWithTool(dir_, "other", {{"notes.txt", "hello"}, {"data/b.bin", "xyz"}}));
  EXPECT_EQ(other.Check("docx"), 0);
  EXPECT_EQ(other.Check("zip"), 1);
  EXPECT_EQ(other.Identify(), 35);
}

// A package at the very end of a source: the window stops at the last
// sector instead of failing on a read past the end.
TEST_F(OpenXmlContentCheck, PackageAtTheEndOfTheSource) {
  const PackageImage docx(dir_, "tail", ZipWithTool(dir_, "tail", Package("word/document.xml")), 0);
  EXPECT_EQ(docx.Check("docx"), 1);
}

// Hand-built packages for what the zip tool does not lay out by itself.
TEST(OpenXmlContentCheckLayout, HeadersNearWindowEdgesAndEndRecord) {
  test::TempDir dir;

  // The "word/" local header starts 10 bytes before the end of a run of
  // four sectors, so its name lies in the next sectors read. The central
  // directory is beyond the searched sectors: only this header can tell.
  for (size_t fours = 1; fours <= 4; ++fours) {
    Bytes straddling;
    AppendLocalFile(straddling, "[Content_Types].xml", fours * 4 * kSector - 10 - (30 + 19));
    AppendLocalFile(straddling, "word/document.xml", 12000);
    const PackageImage a(dir, "straddling" + std::to_string(fours), straddling);
    EXPECT_EQ(a.Check("docx"), 1) << "header across sector " << fours * 4;
  }

  // Nothing after the end of central directory record belongs to the ZIP.
  Bytes ended;
  AppendLocalFile(ended, "a.txt", 10);
  AppendEndRecord(ended);
  AppendLocalFile(ended, "word/document.xml", 10);
  const PackageImage b(dir, "ended", ended);
  EXPECT_EQ(b.Check("docx"), 0);
  EXPECT_EQ(b.Check("zip"), 1);

  // Without a source only the bytes handed over are examined.
  Bytes small;
  AppendLocalFile(small, "word/document.xml", 40);
  SignatureScanContext noSource;
  Bytes sector(kSector, 0);
  std::copy(small.begin(), small.end(), sector.begin());
  EXPECT_EQ(CheckContentByExtension(sector.data(), sector.size(), "docx", noSource), 1);
  EXPECT_EQ(CheckContentByExtension(sector.data(), sector.size(), "xlsm", noSource), 0);
}

}  // namespace
}  // namespace qm
