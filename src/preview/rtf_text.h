// Plain text of an RTF document, read without a word processor.
#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// The visible text of `rtf`, at most `maxChars` characters: control words
// and groups that hold no body text (font and colour tables, pictures,
// "\*" destinations) are dropped, \par and \line become line feeds. Works
// in one pass over the bytes without recursion, so deep nesting in a
// hostile file costs nothing.
QString RtfToText(const QByteArray& rtf, int maxChars);

}  // namespace qm
