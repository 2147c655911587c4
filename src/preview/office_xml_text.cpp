#include "preview/office_xml_text.h"

#include <QXmlStreamReader>

namespace qm {

QString WordprocessingText(const QByteArray& xml, int maxChars) {
  QXmlStreamReader reader(xml);
  QString text;
  int inText = 0;  // inside <w:t>
  int inRun = 0;   // inside <w:r>: a <w:tab> elsewhere is a tab stop definition
  while (!reader.atEnd() && text.size() < maxChars) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement: {
        const auto name = reader.name();
        if (name == u"t") ++inText;
        else if (name == u"r") ++inRun;
        else if (inRun > 0 && name == u"tab") text += u'\t';
        else if (inRun > 0 && (name == u"br" || name == u"cr")) text += u'\n';
        break;
      }
      case QXmlStreamReader::EndElement: {
        const auto name = reader.name();
        if (name == u"t" && inText > 0) --inText;
        else if (name == u"r" && inRun > 0) --inRun;
        else if (name == u"p") text += u'\n';
        break;
      }
      case QXmlStreamReader::Characters:
        if (inText > 0) text += reader.text();
        break;
      default:
        break;
    }
  }
  text.truncate(maxChars);
  return text;
}

QString OpenDocumentText(const QByteArray& xml, int maxChars) {
  QXmlStreamReader reader(xml);
  QString text;
  int inParagraph = 0;
  while (!reader.atEnd() && text.size() < maxChars) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement: {
        const auto name = reader.name();
        if (name == u"p" || name == u"h") {
          ++inParagraph;
        } else if (inParagraph > 0 && name == u"s") {
          // <text:s text:c="3"/> stands for several spaces.
          const int count = qBound(1, reader.attributes().value(QLatin1String("text:c")).toInt(), 64);
          text += QString(count, u' ');
        } else if (inParagraph > 0 && name == u"tab") {
          text += u'\t';
        } else if (inParagraph > 0 && name == u"line-break") {
          text += u'\n';
        }
        break;
      }
      case QXmlStreamReader::EndElement:
        if ((reader.name() == u"p" || reader.name() == u"h") && inParagraph > 0) {
          --inParagraph;
          text += u'\n';
        }
        break;
      case QXmlStreamReader::Characters:
        if (inParagraph > 0) text += reader.text();
        break;
      default:
        break;
    }
  }
  text.truncate(maxChars);
  return text;
}

}  // namespace qm
