#include "preview/sheet_view.h"

#include <QStringDecoder>

#include "preview/external_tool.h"
#include "preview/preview_file_kind.h"
#include "preview/sheet_grid.h"
#include "preview/spreadsheet_xml.h"
#include "preview/zip_package.h"

namespace qm {
namespace {

// Ten records of any sensible CSV or calendar file fit in this.
constexpr qint64 kTextReadBytes = 1LL << 20;

int Finish(const SheetGrid& grid, QString& text) {
  text = grid.Render();
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

int FromSpreadsheetML(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  const auto index = ReadPackageParts(
      path,
      [](const std::string& name) {
        return name == "xl/workbook.xml" || name == "xl/_rels/workbook.xml.rels" || name == "xl/sharedStrings.xml";
      },
      stop);
  if (!index || !index->contains("xl/workbook.xml")) return kConvertNothingOut;
  const auto part = [&](const char* name) {
    const auto found = index->find(name);
    return found == index->end() ? QByteArray() : found->second;
  };
  QString sheetPart = ActiveWorksheetPart(part("xl/workbook.xml"), part("xl/_rels/workbook.xml.rels"));
  if (sheetPart.isEmpty()) sheetPart = QStringLiteral("xl/worksheets/sheet1.xml");

  const std::string wanted = sheetPart.toStdString();
  const auto sheet = ReadPackageParts(path, [&](const std::string& name) { return name == wanted; }, stop);
  if (!sheet || sheet->empty()) return kConvertNothingOut;
  SheetGrid grid;
  ReadWorksheet(sheet->begin()->second, SharedStrings(part("xl/sharedStrings.xml")), grid);
  return Finish(grid, text);
}

int FromOpenDocument(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  const auto parts = ReadPackageParts(
      path, [](const std::string& name) { return name == "content.xml" || name == "settings.xml"; }, stop);
  if (!parts || !parts->contains("content.xml")) return kConvertNothingOut;
  const auto settings = parts->find("settings.xml");
  const QString active = settings == parts->end() ? QString() : OpenDocumentActiveTable(settings->second);
  SheetGrid grid;
  ReadOpenDocumentTable(parts->at("content.xml"), active, grid);
  return Finish(grid, text);
}

// Text files: UTF-8 when they decode as such, else Latin-1. A NUL byte
// means the file is not text at all.
bool DecodeText(const QByteArray& bytes, QString& text) {
  if (bytes.contains('\0')) return false;
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  text = utf8.decode(bytes);
  if (utf8.hasError()) text = QString::fromLatin1(bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  return true;
}

QChar GuessDelimiter(const QString& text) {
  const QStringView firstLine = QStringView(text).left(text.indexOf(u'\n') < 0 ? text.size() : text.indexOf(u'\n'));
  QChar best = u',';
  qsizetype bestCount = firstLine.count(u',');
  for (const QChar candidate : {QChar(u';'), QChar(u'\t')}) {
    if (firstLine.count(candidate) > bestCount) {
      best = candidate;
      bestCount = firstLine.count(candidate);
    }
  }
  return best;
}

// Quoted fields may hold delimiters, doubled quotes and line breaks.
void ReadDelimited(const QString& text, QChar delimiter, SheetGrid& grid) {
  std::int64_t row = 0, column = 0;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < text.size() && row < kPreviewSheetRows; ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
        field += u'"';
        ++i;
      } else if (c == u'"') {
        quoted = false;
      } else if (field.size() < kPreviewTextChars) {
        field += c;
      }
    } else if (c == u'"' && field.isEmpty()) {
      quoted = true;
    } else if (c == delimiter) {
      grid.Add(row, column++, field);
      field.clear();
    } else if (c == u'\n') {
      grid.Add(row++, column, field);
      field.clear();
      column = 0;
    } else if (c != u'\r' && field.size() < kPreviewTextChars) {
      field += c;
    }
  }
  if (row < kPreviewSheetRows) grid.Add(row, column, field);
}

int FromCsv(const std::filesystem::path& path, QString& text) {
  QString decoded;
  if (!DecodeText(ReadFileHead(path, kTextReadBytes), decoded)) return kConvertNothingOut;
  SheetGrid grid;
  ReadDelimited(decoded, GuessDelimiter(decoded), grid);
  return Finish(grid, text);
}

int FromLegacyWorkbook(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  QByteArray output;
  // -q0: no quotes around cells; -c: a tab between them; sheets are parted
  // by a form feed, so the first sheet is everything before the first one.
  const int status = RunTool("xls2csv", {"-q0", "-c", "\t", "-d", "utf-8", QString::fromStdString(path.string())},
                             stop, output);
  if (status != 0) return status;
  const QString firstSheet = QString::fromUtf8(output).section(u'\f', 0, 0);
  SheetGrid grid;
  ReadDelimited(firstSheet, u'\t', grid);
  return Finish(grid, text);
}

// Calendars and address cards are plain text.
int FromPlainText(const std::filesystem::path& path, QString& text) {
  QString decoded;
  if (!DecodeText(ReadFileHead(path, kTextReadBytes), decoded)) return kConvertNothingOut;
  text = decoded.left(kPreviewTextChars);
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

}  // namespace

int SheetView::Convert(const std::filesystem::path& path, QString& text) {
  text.clear();
  const DocumentContainer container = SniffContainer(path);
  if (container == DocumentContainer::Zip) {
    const int status = FromSpreadsheetML(path, stop_, text);
    return status == 0 ? 0 : FromOpenDocument(path, stop_, text);
  }
  if (container == DocumentContainer::OleCompound) {
    // Visio, Publisher, Project and Outlook files share the container but
    // have no reader here.
    return extension_ == u".xls" ? FromLegacyWorkbook(path, stop_, text) : kConvertNothingOut;
  }
  if (extension_ == u".csv") return FromCsv(path, text);
  if (extension_ == u".ics" || extension_ == u".vcf") return FromPlainText(path, text);
  return kConvertNothingOut;
}

}  // namespace qm
