#include "preview/spreadsheet_xml.h"

#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>

#include "preview/document_view.h"

namespace qm {
namespace {

// "AB12" -> row 11, column 27 (from 0); false when it is no cell reference.
bool ParseCellReference(QStringView reference, std::int64_t& row, std::int64_t& column) {
  std::int64_t c = 0, r = 0;
  qsizetype i = 0;
  for (; i < reference.size() && reference[i].isLetter() && i < 4; ++i) {
    c = c * 26 + (reference[i].toUpper().unicode() - u'A' + 1);
  }
  const qsizetype digitsStart = i;
  for (; i < reference.size() && reference[i].isDigit() && i - digitsStart < 8; ++i) {
    r = r * 10 + (reference[i].unicode() - u'0');
  }
  if (c == 0 || r == 0 || i != reference.size()) return false;
  row = r - 1;
  column = c - 1;
  return true;
}

// Row and column repeat counts in OpenDocument may claim the whole sheet.
std::int64_t RepeatCount(const QXmlStreamAttributes& attributes, QLatin1String name) {
  const qint64 count = attributes.value(name).toLongLong();
  return std::clamp<qint64>(count, 1, 1 << 24);
}

}  // namespace

std::vector<QString> SharedStrings(const QByteArray& xml) {
  std::vector<QString> strings;
  QXmlStreamReader reader(xml);
  QString current;
  bool inItem = false, inText = false;
  int inPhonetic = 0;  // <rPh> holds reading aids, not the shown text
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        if (reader.name() == u"si") {
          inItem = true;
          current.clear();
        } else if (reader.name() == u"rPh") {
          ++inPhonetic;
        } else if (reader.name() == u"t") {
          inText = true;
        }
        break;
      case QXmlStreamReader::EndElement:
        if (reader.name() == u"si") {
          strings.push_back(current);
          inItem = false;
        } else if (reader.name() == u"rPh" && inPhonetic > 0) {
          --inPhonetic;
        } else if (reader.name() == u"t") {
          inText = false;
        }
        break;
      case QXmlStreamReader::Characters:
        if (inItem && inText && inPhonetic == 0 && current.size() < kPreviewTextChars) current += reader.text();
        break;
      default:
        break;
    }
  }
  return strings;
}

QString ActiveWorksheetPart(const QByteArray& workbook, const QByteArray& relationships) {
  int activeTab = 0;
  QStringList sheetRelations;
  QXmlStreamReader reader(workbook);
  while (!reader.atEnd()) {
    if (reader.readNext() != QXmlStreamReader::StartElement) continue;
    if (reader.name() == u"workbookView") {
      activeTab = std::max(0, reader.attributes().value(QLatin1String("activeTab")).toInt());
    } else if (reader.name() == u"sheet") {
      for (const QXmlStreamAttribute& attribute : reader.attributes()) {
        if (attribute.name() == u"id") sheetRelations << attribute.value().toString();
      }
    }
  }
  if (sheetRelations.isEmpty()) return {};
  const QString wanted = sheetRelations.value(activeTab, sheetRelations.first());

  QXmlStreamReader rels(relationships);
  while (!rels.atEnd()) {
    if (rels.readNext() != QXmlStreamReader::StartElement || rels.name() != u"Relationship") continue;
    if (rels.attributes().value(QLatin1String("Id")) != wanted) continue;
    const QString target = rels.attributes().value(QLatin1String("Target")).toString();
    return target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target;
  }
  return {};
}

void ReadWorksheet(const QByteArray& xml, const std::vector<QString>& shared, SheetGrid& grid) {
  QXmlStreamReader reader(xml);
  std::int64_t row = -1, column = -1;
  QString type, value, inlineText;
  bool inValue = false, inInlineText = false;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement: {
        const auto name = reader.name();
        if (name == u"row") {
          const qint64 number = reader.attributes().value(QLatin1String("r")).toLongLong();
          row = number > 0 ? number - 1 : row + 1;
          column = -1;
        } else if (name == u"c") {
          std::int64_t r = 0, c = 0;
          if (ParseCellReference(reader.attributes().value(QLatin1String("r")), r, c)) {
            row = r;
            column = c;
          } else {
            ++column;
          }
          type = reader.attributes().value(QLatin1String("t")).toString();
          value.clear();
          inlineText.clear();
        } else if (name == u"v") {
          inValue = true;
        } else if (name == u"t") {
          inInlineText = true;
        }
        break;
      }
      case QXmlStreamReader::EndElement: {
        const auto name = reader.name();
        if (name == u"v") {
          inValue = false;
        } else if (name == u"t") {
          inInlineText = false;
        } else if (name == u"c") {
          QString shown;
          if (type == u"s") {
            bool ok = false;
            const qsizetype index = value.trimmed().toLongLong(&ok);
            if (ok && index >= 0 && index < static_cast<qsizetype>(shared.size())) shown = shared[index];
          } else if (type == u"inlineStr") {
            shown = inlineText;
          } else if (type == u"b") {
            shown = value.trimmed() == u"1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
          } else {
            shown = value;
          }
          grid.Add(row, column, shown);
        }
        break;
      }
      case QXmlStreamReader::Characters:
        if (inValue && value.size() < kPreviewTextChars) value += reader.text();
        if (inInlineText && inlineText.size() < kPreviewTextChars) inlineText += reader.text();
        break;
      default:
        break;
    }
  }
}

QString OpenDocumentActiveTable(const QByteArray& settings) {
  QXmlStreamReader reader(settings);
  while (!reader.atEnd()) {
    if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"config-item" &&
        reader.attributes().value(QLatin1String("config:name")) == u"ActiveTable") {
      return reader.readElementText().left(256);
    }
  }
  return {};
}

namespace {

// False when no table of that name exists.
bool ReadNamedTable(const QByteArray& content, const QString& tableName, SheetGrid& grid) {
  QXmlStreamReader reader(content);
  int tableDepth = 0;  // tables nested in cells are not part of the sheet
  bool inWanted = false, found = false;
  std::int64_t row = 0, column = 0, rowRepeat = 1, cellRepeat = 1;
  struct PendingCell {
    std::int64_t column, repeat;
    QString text;
  };
  std::vector<PendingCell> rowCells;
  QString cellText;
  int inParagraph = 0, inCell = 0;

  while (!reader.atEnd() && !(found && !inWanted)) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement: {
        const auto name = reader.name();
        if (name == u"table") {
          ++tableDepth;
          if (tableDepth == 1 && !found &&
              (tableName.isEmpty() || reader.attributes().value(QLatin1String("table:name")) == tableName)) {
            inWanted = found = true;
            row = 0;
          }
        } else if (!inWanted || tableDepth != 1) {
          break;
        } else if (name == u"table-row") {
          rowRepeat = RepeatCount(reader.attributes(), QLatin1String("table:number-rows-repeated"));
          column = 0;
          rowCells.clear();
        } else if (name == u"table-cell" || name == u"covered-table-cell") {
          ++inCell;
          cellRepeat = RepeatCount(reader.attributes(), QLatin1String("table:number-columns-repeated"));
          cellText.clear();
        } else if (inCell > 0 && name == u"p") {
          if (inParagraph == 0 && !cellText.isEmpty()) cellText += u' ';
          ++inParagraph;
        } else if (inParagraph > 0 && name == u"s") {
          cellText += u' ';
        }
        break;
      }
      case QXmlStreamReader::EndElement: {
        const auto name = reader.name();
        if (name == u"table") {
          if (tableDepth == 1) inWanted = false;
          tableDepth = std::max(0, tableDepth - 1);
        } else if (!inWanted || tableDepth != 1) {
          break;
        } else if (name == u"p" && inParagraph > 0) {
          --inParagraph;
        } else if (name == u"table-cell" || name == u"covered-table-cell") {
          inCell = std::max(0, inCell - 1);
          if (!cellText.isEmpty()) rowCells.push_back({column, cellRepeat, cellText});
          column += cellRepeat;
        } else if (name == u"table-row") {
          // Repeats only need their first rows and their last, which marks
          // how far the used range reaches.
          for (std::int64_t r = 0; r < rowRepeat; r = (r + 1 < kPreviewSheetRows) ? r + 1 : std::max(r + 1, rowRepeat - 1)) {
            for (const PendingCell& cell : rowCells) {
              for (std::int64_t c = 0; c < cell.repeat;
                   c = (c + 1 < kPreviewSheetColumns) ? c + 1 : std::max(c + 1, cell.repeat - 1)) {
                grid.Add(row + r, cell.column + c, cell.text);
              }
            }
          }
          row += rowRepeat;
        }
        break;
      }
      case QXmlStreamReader::Characters:
        if (inWanted && inParagraph > 0 && cellText.size() < kPreviewTextChars) cellText += reader.text();
        break;
      default:
        break;
    }
  }
  return found;
}

}  // namespace

void ReadOpenDocumentTable(const QByteArray& content, const QString& tableName, SheetGrid& grid) {
  if (!ReadNamedTable(content, tableName, grid) && !tableName.isEmpty()) ReadNamedTable(content, {}, grid);
}

}  // namespace qm
