#include "preview/word_view.h"

#include "preview/external_tool.h"
#include "preview/office_xml_text.h"
#include "preview/preview_file_kind.h"
#include "preview/rtf_text.h"
#include "preview/zip_package.h"

namespace qm {
namespace {

// Enough RTF for 2048 characters of text even behind large font and style
// tables; a picture-heavy file is cut, not read whole.
constexpr qint64 kRtfReadBytes = 8LL << 20;

int FromPackage(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  const auto parts = ReadPackageParts(
      path, [](const std::string& name) { return name == "word/document.xml" || name == "content.xml"; }, stop);
  if (!parts) return kConvertNothingOut;
  if (const auto word = parts->find("word/document.xml"); word != parts->end()) {
    text = WordprocessingText(word->second, kPreviewTextChars);
  } else if (const auto odf = parts->find("content.xml"); odf != parts->end()) {
    text = OpenDocumentText(odf->second, kPreviewTextChars);
  }
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

int FromLegacyDocument(const std::filesystem::path& path, std::stop_token stop, QString& text) {
  QByteArray output;
  // -w: paragraphs stay on one line instead of being wrapped at 72 columns.
  const int status = RunTool("catdoc", {"-w", "-d", "utf-8", QString::fromStdString(path.string())}, stop, output);
  if (status != 0) return status;
  text = QString::fromUtf8(output).left(kPreviewTextChars);
  return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
}

}  // namespace

int WordView::Convert(const std::filesystem::path& path, QString& text) {
  text.clear();
  switch (SniffContainer(path)) {
    case DocumentContainer::Zip:
      return FromPackage(path, stop_, text);
    case DocumentContainer::Rtf:
      text = RtfToText(ReadFileHead(path, kRtfReadBytes), kPreviewTextChars);
      return text.trimmed().isEmpty() ? kConvertNothingOut : 0;
    case DocumentContainer::OleCompound:
      return FromLegacyDocument(path, stop_, text);
    default:
      return kConvertNothingOut;
  }
}

}  // namespace qm
