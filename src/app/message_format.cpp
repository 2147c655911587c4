#include "app/message_format.h"

namespace qm {

QString FillMessage(const QString& text, const QStringList& arguments) {
  QString out;
  out.reserve(text.size() + 16);
  qsizetype next = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c != u'%' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    const QChar kind = text[i + 1];
    if (kind == u'%') {
      out += u'%';
      ++i;
    } else if ((kind == u's' || kind == u'd' || kind == u'c') && next < arguments.size()) {
      out += arguments[next++];
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace qm

namespace qm {

QString VolumeStageText(uint16_t key, const QString& imagePath, const QString& letterText,
                        const QString& numberText, const QString& imageText) {
  if (!imagePath.isEmpty()) {
    const QString name = imagePath.mid(imagePath.lastIndexOf(u'/') + 1);
    if (imageText.contains("%s")) return FillMessage(imageText, {name});
    return imageText + " " + name;
  }
  const bool letter = (key >= 'A' && key <= 'Z') || (key >= 'a' && key <= 'z');
  if (letter) return FillMessage(letterText, {QString(QChar(key))});
  return FillMessage(numberText, {QString::number(key)});
}

}  // namespace qm
