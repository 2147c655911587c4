// Fills the placeholders of a text from a language file. The texts come
// from files users may edit, so they are never handed to printf: each
// "%s", "%d" or "%c" takes the next argument as text, "%%" is a '%', and a
// placeholder without an argument stays as it is.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace qm {

QString FillMessage(const QString& text, const QStringList& arguments);

// The stage line of a window working through volumes: for a partition
// whose key is a letter, `letterText` filled with it ("Scanning drive
// E:"); for one without, `numberText` filled with the number; for an image,
// `imageText` filled with the file's name, or followed by it when the text
// has no place for it ("Scanning image card.img").
QString VolumeStageText(uint16_t key, const QString& imagePath, const QString& letterText,
                        const QString& numberText, const QString& imageText);

}  // namespace qm
