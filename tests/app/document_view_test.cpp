#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "preview/archive_view.h"
#include "preview/document_view.h"
#include "preview/external_tool.h"
#include "preview/pdf_view.h"
#include "preview/sheet_view.h"
#include "preview/slides_view.h"
#include "preview/word_view.h"
#include "support/test_support.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Runs a packing tool in `folder`; the fixtures are made with the same
// tools people make such files with.
void RunPacker(const fs::path& folder, const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setWorkingDirectory(QString::fromStdString(folder.string()));
  process.start(program, arguments);
  ASSERT_TRUE(process.waitForFinished(30000)) << program.toStdString();
  ASSERT_EQ(process.exitCode(), 0) << program.toStdString() << ": " << process.readAllStandardError().toStdString();
}

// A zip package holding `parts` (name -> content).
fs::path MakeZip(const TempDir& dir, const std::string& name, const std::map<std::string, std::string>& parts) {
  const fs::path staging = dir / (name + ".parts");
  for (const auto& [part, content] : parts) {
    fs::create_directories((staging / part).parent_path());
    WriteBytes(staging / part, content);
  }
  RunPacker(staging, "zip", {"-q", "-X", "-r", QString::fromStdString((dir / name).string()), "."});
  return dir / name;
}

// The first `bytes` bytes of `source`, as a recovered file cut short.
fs::path CutTo(const fs::path& source, size_t bytes, const fs::path& target) {
  WriteBytes(target, ReadBytes(source).substr(0, bytes));
  return target;
}

int ConvertWith(const QString& extension, const fs::path& file, QString& text, const fs::path& pictures = {}) {
  const auto converter = ChooseConverter(extension, pictures);
  if (!converter) return -1;
  return converter->Convert(file, text);
}

std::string Cell(int row, int column) { return "R" + std::to_string(row) + "C" + std::to_string(column); }

// The preview of a sheet whose cell (r, c) holds "R<r>C<c>".
QString ExpectedGrid() {
  QString text;
  for (int r = 0; r < kPreviewSheetRows; ++r) {
    for (int c = 0; c < kPreviewSheetColumns; ++c) text += QString::fromStdString((c ? "\t" : "") + Cell(r, c));
    text += u'\n';
  }
  return text;
}

std::string ColumnName(int column) {
  std::string name;
  for (++column; column > 0; column = (column - 1) / 26) name.insert(name.begin(), char('A' + (column - 1) % 26));
  return name;
}

const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char* kSheetNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                       "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

// A workbook of two sheets whose second is active: a decoy and the 50 x 30
// sheet, half its cells shared strings and half inline strings.
fs::path MakeXlsx(const TempDir& dir) {
  std::string shared = std::string(kXmlHead) + "<sst " + kSheetNs + ">";
  std::string rows;
  int sharedCount = 0;
  for (int r = 0; r < 50; ++r) {
    rows += "<row r=\"" + std::to_string(r + 1) + "\">";
    for (int c = 0; c < 30; ++c) {
      const std::string ref = ColumnName(c) + std::to_string(r + 1);
      if ((r + c) % 2 == 0) {
        shared += "<si><t>" + Cell(r, c) + "</t></si>";
        rows += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(sharedCount++) + "</v></c>";
      } else {
        rows += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + Cell(r, c) + "</t></is></c>";
      }
    }
    rows += "</row>";
  }
  shared += "</sst>";
  return MakeZip(dir, "book.xlsx",
                 {{"xl/workbook.xml", std::string(kXmlHead) + "<workbook " + kSheetNs +
                                          "><bookViews><workbookView activeTab=\"1\"/></bookViews><sheets>"
                                          "<sheet name=\"Decoy\" sheetId=\"1\" r:id=\"rId1\"/>"
                                          "<sheet name=\"Data\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>"},
                  {"xl/_rels/workbook.xml.rels",
                   std::string(kXmlHead) +
                       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/>"
                       "<Relationship Id=\"rId2\" Target=\"worksheets/sheet2.xml\"/></Relationships>"},
                  {"xl/sharedStrings.xml", shared},
                  {"xl/worksheets/sheet1.xml", std::string(kXmlHead) + "<worksheet " + kSheetNs +
                                                   "><sheetData><row r=\"1\"><c r=\"A1\"><v>666</v></c></row>"
                                                   "</sheetData></worksheet>"},
                  {"xl/worksheets/sheet2.xml",
                   std::string(kXmlHead) + "<worksheet " + kSheetNs + "><sheetData>" + rows + "</sheetData></worksheet>"}});
}

const char* kOdfNs = "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                     "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                     "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                     "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
                     "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\"";

fs::path MakeOdf(const TempDir& dir, const std::string& name, const std::string& mime, const std::string& body) {
  return MakeZip(dir, name,
                 {{"mimetype", mime},
                  {"content.xml", std::string(kXmlHead) + "<office:document-content " + kOdfNs + "><office:body>" +
                                      body + "</office:body></office:document-content>"}});
}

// The 50 x 30 sheet as an OpenDocument table, its empty tail written with
// the repeat counts real files use for the rest of the sheet.
fs::path MakeOds(const TempDir& dir) {
  std::string body = "<office:spreadsheet><table:table table:name=\"Data\">";
  for (int r = 0; r < 50; ++r) {
    body += "<table:table-row>";
    for (int c = 0; c < 30; ++c) body += "<table:table-cell><text:p>" + Cell(r, c) + "</text:p></table:table-cell>";
    body += "<table:table-cell table:number-columns-repeated=\"16354\"/></table:table-row>";
  }
  body += "<table:table-row table:number-rows-repeated=\"1048526\"><table:table-cell "
          "table:number-columns-repeated=\"16384\"/></table:table-row></table:table></office:spreadsheet>";
  return MakeOdf(dir, "book.ods", "application/vnd.oasis.opendocument.spreadsheet", body);
}

fs::path MakePptx(const TempDir& dir, int slides) {
  std::map<std::string, std::string> parts{{"ppt/presentation.xml", std::string(kXmlHead) + "<p:presentation/>"}};
  for (int n = 1; n <= slides; ++n) {
    parts["ppt/slides/slide" + std::to_string(n) + ".xml"] =
        std::string(kXmlHead) +
        "<p:sld xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"><p:cSld><p:spTree>"
        "<p:sp><p:txBody><a:p><a:r><a:t>Title " + std::to_string(n) + "</a:t></a:r></a:p></p:txBody></p:sp>"
        "<p:sp><p:txBody><a:p><a:r><a:t>Point </a:t></a:r><a:r><a:t>" + std::to_string(n) +
        "</a:t></a:r></a:p></p:txBody></p:sp></p:spTree></p:cSld></p:sld>";
  }
  return MakeZip(dir, "deck.pptx", parts);
}

fs::path MakeOdp(const TempDir& dir, int slides) {
  std::string body = "<office:presentation>";
  for (int n = 1; n <= slides; ++n) {
    body += "<draw:page><draw:frame><draw:text-box><text:p>Title " + std::to_string(n) +
            "</text:p></draw:text-box></draw:frame><draw:frame><draw:text-box><text:p>Point " + std::to_string(n) +
            "</text:p></draw:text-box></draw:frame><presentation:notes><draw:frame><draw:text-box><text:p>Notes"
            "</text:p></draw:text-box></draw:frame></presentation:notes></draw:page>";
  }
  return MakeOdf(dir, "deck.odp", "application/vnd.oasis.opendocument.presentation", body + "</office:presentation>");
}

QString ExpectedSlides(int slides) {
  QString text;
  for (int n = 1; n <= slides; ++n) text += QStringLiteral("Title %1\nPoint %1\n").arg(n);
  return text;
}

// 5000 characters in 50 paragraphs of 99 letters and a line feed.
std::string LongParagraph(int index) { return std::string(99, char('a' + index % 26)); }

QString ExpectedLongText() {
  QString text;
  for (int i = 0; i < 50; ++i) text += QString::fromStdString(LongParagraph(i)) + u'\n';
  return text.left(kPreviewTextChars);
}

fs::path MakeDocx(const TempDir& dir) {
  std::string body;
  for (int i = 0; i < 50; ++i) {
    // A tab stop definition in the paragraph's properties is no text.
    body += "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr><w:r><w:t>" +
            LongParagraph(i).substr(0, 50) + "</w:t></w:r><w:r><w:t>" + LongParagraph(i).substr(50) + "</w:t></w:r></w:p>";
  }
  return MakeZip(dir, "letter.docx",
                 {{"word/document.xml",
                   std::string(kXmlHead) +
                       "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
                       body + "</w:body></w:document>"}});
}

fs::path MakeOdt(const TempDir& dir) {
  std::string body = "<office:text>";
  for (int i = 0; i < 50; ++i) body += "<text:p>" + LongParagraph(i) + "</text:p>";
  return MakeOdf(dir, "letter.odt", "application/vnd.oasis.opendocument.text", body + "</office:text>");
}

fs::path MakePdf(const TempDir& dir) {
  const fs::path path = dir / "two-pages.pdf";
  QPdfWriter writer(QString::fromStdString(path.string()));
  writer.setResolution(72);
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter(&writer);
  painter.fillRect(QRect(0, 0, 200, 200), Qt::black);
  writer.newPage();
  painter.drawText(QPoint(100, 100), QStringLiteral("second page"));
  painter.end();
  return path;
}

TEST(DocumentConverterChoice, PicksTheConverterByExtensionAndNoneForOtherFiles) {
  enum Kind { Word, Slides, Sheet, Pdf, Archive, None };
  const struct {
    const char* extension;
    Kind kind;
  } cases[] = {
      {".doc", Word},    {".docx", Word},      {".dotm", Word},       {".rtf", Word},     {".odt", Word},
      {".ppt", Slides},  {".ppsx", Slides},    {".odp", Slides},      {".xls", Sheet},    {".xlsm", Sheet},
      {".csv", Sheet},   {".vcf", Sheet},      {".msg", Sheet},       {".pdf", Pdf},      {".zip", Archive},
      {".7z", Archive},  {".gz", Archive},     {".gzip", Archive},    {".iso", Archive},  {".jar", Archive},
      {".DOCX", Word},   {"xlsx", Sheet},      {".exe", None},        {".jpg", None},     {".mp4", None},
      {"", None},        {".", None},          {"|", None},
      // Whole extensions only: each of these lies inside a listed one.
      {".do", None},     {".c", None},         {".ls", None},         {".pd", None},      {".z", None},
      {".ppt|", None},   {"*.doc", None},
  };
  for (const auto& c : cases) {
    const auto converter = ChooseConverter(QString::fromLatin1(c.extension), {});
    IDocumentView* view = converter.get();
    const Kind got = dynamic_cast<WordView*>(view)      ? Word
                     : dynamic_cast<SlidesView*>(view)  ? Slides
                     : dynamic_cast<SheetView*>(view)   ? Sheet
                     : dynamic_cast<PdfView*>(view)     ? Pdf
                     : dynamic_cast<ArchiveView*>(view) ? Archive
                                                        : None;
    EXPECT_EQ(got, c.kind) << "extension '" << c.extension << "'";
  }
}

TEST(DocumentConverters, WordProcessingFilesGiveTheirFirstCharacters) {
  TempDir dir;
  std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}{\\*\\generator x;}";
  for (int i = 0; i < 50; ++i) rtf += "\\f0\\fs20 " + LongParagraph(i) + "\\par\n";
  rtf += "}";
  WriteBytes(dir / "letter.rtf", rtf);
  WriteBytes(dir / "cards.vcf", ExpectedLongText().toStdString() + std::string(3000, 'x'));

  const struct {
    fs::path file;
    const char* extension;
  } cases[] = {{MakeDocx(dir), ".docx"}, {MakeOdt(dir), ".odt"}, {dir / "letter.rtf", ".rtf"},
                     {dir / "cards.vcf", ".vcf"}};
  for (const auto& c : cases) {
    QString text;
    EXPECT_EQ(ConvertWith(c.extension, c.file, text), 0) << c.extension;
    EXPECT_EQ(text, ExpectedLongText()) << c.extension;
  }
}

TEST(DocumentConverters, RtfControlWordsEscapesAndUnicodeBecomeText) {
  const struct {
    const char* rtf;
    const char* text;
  } cases[] = {
      {"{\\rtf1 Hello\\par World}", "Hello\nWorld"},
      {"{\\rtf1 a\\tab b\\line c}", "a\tb\nc"},
      {"{\\rtf1 braces \\{ \\} and \\\\ backslash}", "braces { } and \\ backslash"},
      {"{\\rtf1 caf\\'e9}", "caf\xc3\xa9"},
      {"{\\rtf1\\uc1 \\u8364?5 and \\u-3913?}", "\xe2\x82\xac" "5 and \xef\x82\xb7"},
      {"{\\rtf1{\\pict\\pngblip 89504e47}after}", "after"},
      {"{\\rtf1 a{\\*\\blob\\bin1 {}b}", "ab"},
      {"{\\rtf1 keep\\bin3 {}\\ text}", "keep text"},
      {"{\\rtf1{\\*\\unknowndest hidden}shown}", "shown"},
      {"{\\rtf1 unclosed {{{{ groups \\", "unclosed  groups "},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "case.rtf", c.rtf);
    QString text;
    ConvertWith(".rtf", dir / "case.rtf", text);
    EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.rtf;
  }
}

TEST(DocumentConverters, SpreadsheetsGiveTheFirstTenByTenCellsOfTheActiveSheet) {
  TempDir dir;
  std::string csv;
  for (int r = 0; r < 50; ++r) {
    for (int c = 0; c < 30; ++c) csv += (c ? "," : "") + Cell(r, c);
    csv += "\r\n";
  }
  WriteBytes(dir / "book.csv", csv);

  const struct {
    fs::path file;
    const char* extension;
  } cases[] = {{MakeXlsx(dir), ".xlsx"}, {MakeOds(dir), ".ods"}, {dir / "book.csv", ".csv"}};
  for (const auto& c : cases) {
    QString text;
    // .ods is not in the spreadsheet list; the content decides, not the name.
    EXPECT_EQ(SheetView(QString::fromLatin1(c.extension), {}).Convert(c.file, text), 0) << c.extension;
    EXPECT_EQ(text, ExpectedGrid()) << c.extension;
  }
}

TEST(DocumentConverters, CsvQuotingAndDelimitersAreHonoured) {
  const struct {
    const char* csv;
    const char* text;
  } cases[] = {
      {"a,\"b,c\",\"say \"\"hi\"\"\"\n1,2,3\n", "a\tb,c\tsay \"hi\"\n1\t2\t3\n"},
      {"x;y;z\n1;2;3", "x\ty\tz\n1\t2\t3\n"},
      {"\xef\xbb\xbfname,\"two\nlines\"\n", "name\ttwo lines\n"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteBytes(dir / "case.csv", c.csv);
    QString text;
    EXPECT_EQ(ConvertWith(".csv", dir / "case.csv", text), 0) << c.csv;
    EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.csv;
  }
}

TEST(DocumentConverters, PresentationsGiveTheTextsOfTheFirstTwentySlidesInOrder) {
  TempDir dir;
  for (const auto& [file, extension] :
       std::map<fs::path, QString>{{MakePptx(dir, 40), ".pptx"}, {MakeOdp(dir, 40), ".odp"}}) {
    QString text;
    EXPECT_EQ(ConvertWith(extension, file, text), 0) << extension.toStdString();
    EXPECT_EQ(text, ExpectedSlides(kPreviewSlides)) << extension.toStdString();
  }
}

TEST(DocumentConverters, PdfFirstPageBecomesAPictureInTheGivenFolderOnly) {
  TempDir dir;
  const fs::path pdf = MakePdf(dir);
  const fs::path pictures = dir / "scanlog";
  fs::create_directories(pictures);
  WriteBytes(pictures / "tmp.jpg", "an older picture");

  QString text;
  ASSERT_EQ(ConvertWith(".pdf", pdf, text, pictures), 0);
  QImage page(QString::fromStdString((pictures / "tmp.jpg").string()));
  ASSERT_FALSE(page.isNull());
  // The first page is the black square in its top left corner.
  EXPECT_LT(qGray(page.pixel(page.width() / 20, page.height() / 20)), 64);
  EXPECT_GT(qGray(page.pixel(page.width() - 2, page.height() - 2)), 192);
  EXPECT_EQ(std::distance(fs::directory_iterator(pictures), fs::directory_iterator()), 1);

  WriteBytes(dir / "fake.pdf", "%PDF-1.4 this is not really a PDF");
  fs::remove(pictures / "tmp.jpg");
  EXPECT_EQ(ConvertWith(".pdf", dir / "fake.pdf", text, pictures), kConvertNothingOut);
  EXPECT_FALSE(fs::exists(pictures / "tmp.jpg"));
}

TEST(DocumentConverters, ArchivesListTheirEntriesUnderTheSeparator) {
  TempDir dir;
  const fs::path content = dir / "content";
  fs::create_directories(content / "sub");
  WriteBytes(content / "alpha.txt", std::string(1234, 'a'));
  WriteBytes(content / "sub" / "beta.bin", std::string(77, 'b'));
  RunPacker(content, "zip", {"-q", "-r", "../pack.zip", "."});
  RunPacker(content, "tar", {"-czf", "../pack.tar.gz", "alpha.txt", "sub/beta.bin"});
  RunPacker(content, "7z", {"a", "-bd", "-bso0", "../pack.7z", "alpha.txt", "sub"});
  RunPacker(content, "gzip", {"-k", "alpha.txt"});
  fs::rename(content / "alpha.txt.gz", dir / "alone.gz");

  const struct {
    const char* name;
    const char* extension;
    QStringList mustShow;
  } cases[] = {
      {"pack.zip", ".zip", {"1234  alpha.txt", "77  sub/beta.bin"}},
      {"pack.tar.gz", ".gz", {"1234  alpha.txt", "77  sub/beta.bin"}},
      {"pack.7z", ".7z", {"1234  alpha.txt", "77  sub/beta.bin"}},
      {"alone.gz", ".gz", {"-  alone"}},
  };
  for (const auto& c : cases) {
    QString text;
    ASSERT_EQ(ConvertWith(c.extension, dir / c.name, text), 0) << c.name;
    EXPECT_TRUE(text.startsWith(QStringLiteral("-------------------\n"))) << c.name;
    for (const QString& line : c.mustShow) EXPECT_TRUE(text.contains(line)) << c.name << ": " << text.toStdString();
  }
}

TEST(DocumentConverters, ArchiveEntryNamesAreShownAsPlainText) {
  TempDir dir;
  const fs::path content = dir / "content";
  fs::create_directories(content);
  WriteBytes(content / "line\nbreak.txt", "x");
  WriteBytes(content / "\x1b[31mred.txt", "y");
  RunPacker(content, "tar", {"-cf", "../names.tar", "line\nbreak.txt", "\x1b[31mred.txt"});
  QString text;
  ASSERT_EQ(ConvertWith(".tar", dir / "names.tar", text), 0);
  EXPECT_TRUE(text.contains(QStringLiteral("  line?break.txt\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("  ?[31mred.txt\n"))) << text.toStdString();
}

TEST(DocumentConverters, AStopRequestEndsAConversion) {
  TempDir dir;
  const fs::path content = dir / "content";
  fs::create_directories(content);
  WriteBytes(content / "a.txt", "a");
  RunPacker(content, "zip", {"-q", "../pack.zip", "a.txt"});
  std::stop_source stopped;
  stopped.request_stop();
  const struct {
    fs::path file;
    const char* extension;
  } cases[] = {{MakeDocx(dir), ".docx"}, {MakeXlsx(dir), ".xlsx"}, {MakePptx(dir, 3), ".pptx"}, {dir / "pack.zip", ".zip"}};
  for (const auto& c : cases) {
    QString text;
    EXPECT_EQ(ChooseConverter(c.extension, {}, stopped.get_token())->Convert(c.file, text), kConvertNothingOut)
        << c.extension;
  }

  // A helper program that does not finish is killed on request, well
  // before its time limit would end it.
  std::stop_source stop;
  std::jthread requester([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.request_stop();
  });
  QElapsedTimer clock;
  clock.start();
  QByteArray output;
  EXPECT_EQ(RunTool("sleep", {"300"}, stop.get_token(), output), kConvertNothingOut);
  EXPECT_LT(clock.elapsed(), kToolTimeLimitMs);
}

TEST(DocumentConverters, DamagedArchiveKeepsTheEntriesBeforeTheDamage) {
  TempDir dir;
  const fs::path content = dir / "content";
  fs::create_directories(content);
  // Stored, not deflated, so that the cut lands in the middle entry's data.
  std::string noise;
  for (int i = 0; i < 30000; ++i) noise += char((i * 7919) % 251);
  for (const char* name : {"first.bin", "second.bin", "third.bin"}) WriteBytes(content / name, noise);
  RunPacker(content, "zip", {"-q", "-0", "../pack.zip", "first.bin", "second.bin", "third.bin"});
  const fs::path cut = CutTo(dir / "pack.zip", 45000, dir / "cut.zip");

  QString text;
  ASSERT_EQ(ConvertWith(".zip", cut, text), 0);
  EXPECT_TRUE(text.contains(QStringLiteral("first.bin")));
  EXPECT_FALSE(text.contains(QStringLiteral("third.bin")));
  EXPECT_TRUE(text.contains(QStringLiteral("damaged")));

  WriteBytes(dir / "junk.zip", std::string(4096, 'x'));
  EXPECT_EQ(ConvertWith(".zip", dir / "junk.zip", text), kConvertNothingOut);
}

TEST(DocumentConverters, TruncatedOrForeignDocumentsFailCleanly) {
  TempDir dir;
  const struct {
    fs::path file;
    const char* extension;
  } whole[] = {{MakeDocx(dir), ".docx"}, {MakeOdt(dir), ".odt"},      {MakeXlsx(dir), ".xlsx"},
               {MakeOds(dir), ".ods"},   {MakePptx(dir, 40), ".pptx"}, {MakeOdp(dir, 40), ".odp"}};
  for (const auto& c : whole) {
    const fs::path half = CutTo(c.file, fs::file_size(c.file) / 2, dir / ("half" + std::string(c.extension)));
    QString text;
    EXPECT_NE(SheetView(QString::fromLatin1(c.extension), {}).Convert(half, text), 0) << c.extension;
    EXPECT_NE(WordView({}).Convert(half, text), 0) << c.extension;
    EXPECT_NE(SlidesView({}).Convert(half, text), 0) << c.extension;
  }

  // Files that are not what their name says, and empty ones.
  WriteBytes(dir / "empty", "");
  WriteBytes(dir / "binary.csv", std::string("MZ\x90\0\x03\0\0\0", 8));
  WriteBytes(dir / "mail.msg", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'));
  const struct {
    const char* file;
    const char* extension;
  } foreign[] = {{"empty", ".docx"}, {"empty", ".csv"}, {"empty", ".pptx"}, {"empty", ".pdf"},
                 {"empty", ".zip"},  {"binary.csv", ".csv"}, {"mail.msg", ".msg"}};
  for (const auto& c : foreign) {
    QString text;
    EXPECT_EQ(ConvertWith(c.extension, dir / c.file, text, dir.path()), kConvertNothingOut) << c.file;
  }
}

TEST(DocumentConverters, TruncatedPdfGivesEitherNothingOrAWholePicture) {
  TempDir dir;
  const fs::path pdf = MakePdf(dir);
  const fs::path half = CutTo(pdf, fs::file_size(pdf) / 2, dir / "half.pdf");
  QString text;
  const int status = ConvertWith(".pdf", half, text, dir.path());
  if (status == 0) {
    EXPECT_FALSE(QImage(QString::fromStdString((dir / "tmp.jpg").string())).isNull());
  } else {
    EXPECT_EQ(status, kConvertNothingOut);
    EXPECT_FALSE(fs::exists(dir / "tmp.jpg"));
  }
}

TEST(DocumentConverters, OversizedPackagePartIsRefusedNotRead) {
  TempDir dir;
  // A part that inflates past the cap: a zip bomb in miniature.
  const std::string huge = std::string(kXmlHead) +
                           "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
                           "<w:body><w:p><w:r><w:t>" +
                           std::string(static_cast<size_t>(kMaxPackageMemberBytes), 'z') +
                           "</w:t></w:r></w:p></w:body></w:document>";
  const fs::path docx = MakeZip(dir, "bomb.docx", {{"word/document.xml", huge}});
  QString text;
  EXPECT_EQ(ConvertWith(".docx", docx, text), kConvertNothingOut);
  EXPECT_TRUE(text.isEmpty());
}

TEST(DocumentConverters, LegacyBinaryFilesGoThroughCatdocWhenInstalled) {
  TempDir dir;
  // An OLE compound header followed by nothing the tools can read.
  WriteBytes(dir / "broken.doc", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(1024, '\x01'));

  // Without the tools on the search path the failure says so.
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(dir.path().string()));
  for (const char* extension : {".doc", ".xls", ".ppt"}) {
    QString text;
    EXPECT_EQ(ConvertWith(extension, dir / "broken.doc", text), kConvertToolMissing) << extension;
  }
  qputenv("PATH", path);

  if (QStandardPaths::findExecutable("catdoc").isEmpty() || QStandardPaths::findExecutable("xls2csv").isEmpty() ||
      QStandardPaths::findExecutable("catppt").isEmpty()) {
    GTEST_SKIP() << "catdoc is not installed (apt-get install catdoc)";
  }
  for (const char* extension : {".doc", ".xls", ".ppt"}) {
    QString text;
    EXPECT_NE(ConvertWith(extension, dir / "broken.doc", text), 0) << extension << ": " << text.toStdString();
  }
}

}  // namespace
}  // namespace qm
