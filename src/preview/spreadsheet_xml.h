// Cells of the XML parts of spreadsheet packages.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "preview/sheet_grid.h"

namespace qm {

// The texts of a SpreadsheetML shared string table, in order.
std::vector<QString> SharedStrings(const QByteArray& xml);

// The package path of the workbook's active sheet (or its first), from
// xl/workbook.xml and its relationships; empty when none is named.
QString ActiveWorksheetPart(const QByteArray& workbook, const QByteArray& relationships);

// Fills `grid` from a SpreadsheetML worksheet part: numbers as stored,
// shared and inline strings as their text.
void ReadWorksheet(const QByteArray& xml, const std::vector<QString>& shared, SheetGrid& grid);

// The name of the active table in an OpenDocument settings part, or empty.
QString OpenDocumentActiveTable(const QByteArray& settings);

// Fills `grid` from the table named `tableName` (the first one when empty or
// not found) of an OpenDocument spreadsheet's content part.
void ReadOpenDocumentTable(const QByteArray& content, const QString& tableName, SheetGrid& grid);

}  // namespace qm
