// Text pulled out of the XML parts of word-processing packages.
#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// Paragraphs of a WordprocessingML main part (word/document.xml), one per
// line, at most `maxChars` characters. Empty when the XML is damaged before
// any text.
QString WordprocessingText(const QByteArray& xml, int maxChars);

// Paragraphs and headings of an OpenDocument content part, one per line.
QString OpenDocumentText(const QByteArray& xml, int maxChars);

}  // namespace qm
