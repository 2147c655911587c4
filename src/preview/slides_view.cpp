#include "preview/slides_view.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <map>

#include "preview/external_tool.h"
#include "preview/preview_file_kind.h"
#include "preview/zip_package.h"

namespace qm {
namespace {

// A slide's shapes in PresentationML: each <p:sp> with a <p:txBody> is a
// text frame; its paragraphs are parted by line feeds.
void AppendSlideText(const QByteArray& xml, QString& text) {
  QXmlStreamReader reader(xml);
  int inBody = 0, inText = 0, paragraphs = 0;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        if (reader.name() == u"txBody") {
          ++inBody;
          paragraphs = 0;
        } else if (inBody > 0 && reader.name() == u"p") {
          if (paragraphs++ > 0) text += u'\n';
        } else if (inBody > 0 && reader.name() == u"t") {
          ++inText;
        } else if (inBody > 0 && reader.name() == u"br") {
          text += u'\n';
        }
        break;
      case QXmlStreamReader::EndElement:
        if (reader.name() == u"txBody" && inBody > 0) {
          --inBody;
          text += u'\n';
        } else if (reader.name() == u"t" && inText > 0) {
          --inText;
        }
        break;
      case QXmlStreamReader::Characters:
        if (inText > 0) text += reader.text();
        break;
      default:
        break;
    }
  }
}

int FromPresentationML(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  static const QRegularExpression slideName(QStringLiteral("^ppt/slides/slide([0-9]{1,6})\\.xml$"));
  std::map<int, std::string> slideParts;  // by slide number, the order the slides were made in
  const auto names = ReadPackageParts(
      path,
      [&](const std::string& name) {
        const auto match = slideName.match(QString::fromStdString(name));
        if (match.hasMatch()) slideParts[match.captured(1).toInt()] = name;
        return false;
      },
      stop);
  if (!names || slideParts.empty()) return kConvertNothingOut;
  while (slideParts.size() > static_cast<size_t>(kPreviewSlides)) slideParts.erase(std::prev(slideParts.end()));

  const auto slides = ReadPackageParts(
      path,
      [&](const std::string& name) {
        return std::any_of(slideParts.begin(), slideParts.end(), [&](const auto& slide) { return slide.second == name; });
      },
      stop);
  if (!slides) return kConvertNothingOut;
  for (const auto& [number, name] : slideParts) {
    if (const auto found = slides->find(name); found != slides->end()) AppendSlideText(found->second, text);
  }
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

// OpenDocument presentations: each <draw:page> is a slide, each child
// holding paragraphs a shape; the speaker notes are left out.
int FromOpenDocument(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  const auto parts = ReadPackageParts(path, [](const std::string& name) { return name == "content.xml"; }, stop);
  if (!parts || parts->empty()) return kConvertNothingOut;
  QXmlStreamReader reader(parts->begin()->second);
  int pages = 0, pageDepth = 0, depth = 0, notes = 0, inParagraph = 0;
  bool shapeHasText = false;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        ++depth;
        if (reader.name() == u"page" && pageDepth == 0) {
          if (++pages > kPreviewSlides) return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
          pageDepth = depth;
        } else if (pageDepth > 0 && reader.name() == u"notes") {
          ++notes;
        } else if (pageDepth > 0 && notes == 0 && reader.name() == u"p") {
          if (shapeHasText && inParagraph == 0) text += u'\n';
          ++inParagraph;
          shapeHasText = true;
        }
        break;
      case QXmlStreamReader::EndElement:
        if (pageDepth > 0 && reader.name() == u"notes" && notes > 0) {
          --notes;
        } else if (pageDepth > 0 && reader.name() == u"p" && inParagraph > 0 && notes == 0) {
          --inParagraph;
        } else if (pageDepth > 0 && notes == 0 && depth == pageDepth + 1 && shapeHasText) {
          text += u'\n';  // the end of a shape on the page
          shapeHasText = false;
        }
        if (depth == pageDepth) pageDepth = 0;
        --depth;
        break;
      case QXmlStreamReader::Characters:
        if (inParagraph > 0 && notes == 0) text += reader.text();
        break;
      default:
        break;
    }
  }
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

int FromLegacyPresentation(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  QByteArray output;
  const int status = RunTool("catppt", {"-d", "utf-8", QString::fromStdString(path.string())}, stop, output);
  if (status != 0) return status;
  // catppt does not mark where a slide ends, so the count of slides cannot
  // be kept; the text is cut at the length twenty full slides rarely pass.
  text = QString::fromUtf8(output).left(kPreviewSlides * kPreviewTextChars);
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

}  // namespace

int SlidesView::Convert(const std::filesystem::path& path, QString& text) {
  text.clear();
  switch (SniffContainer(path)) {
    case DocumentContainer::Zip: {
      if (FromPresentationML(path, stop_, text) == 0) return 0;
      text.clear();
      return FromOpenDocument(path, stop_, text);
    }
    case DocumentContainer::OleCompound:
      return FromLegacyPresentation(path, stop_, text);
    default:
      return kConvertNothingOut;
  }
}

}  // namespace qm
