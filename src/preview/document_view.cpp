#include "preview/document_view.h"

#include "preview/archive_view.h"
#include "preview/pdf_view.h"
#include "preview/sheet_view.h"
#include "preview/slides_view.h"
#include "preview/word_view.h"

namespace qm {
namespace {

// The extension is searched as a substring of each list in turn and the
// first list that holds it wins.
constexpr const char16_t* kWordExtensions = u"*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt";
constexpr const char16_t* kSlidesExtensions = u"*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp";
constexpr const char16_t* kSheetExtensions =
    u"*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg";
constexpr const char16_t* kPdfExtensions = u"*.pdf";
constexpr const char16_t* kArchiveExtensions =
    u"*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

}  // namespace

std::unique_ptr<IDocumentView> ChooseConverter(const QString& lowerExtension,
                                               const std::filesystem::path& pictureFolder, std::stop_token stop) {
  QString extension = lowerExtension.toLower();
  if (!extension.startsWith(u'.')) extension.prepend(u'.');
  // "." alone is a substring of every list; a file without an extension is
  // no document.
  if (extension.size() < 2 || extension.contains(u'|') || extension.contains(u'*')) return nullptr;

  const auto in = [&](const char16_t* list) { return QStringView(list).contains(extension); };
  if (in(kWordExtensions)) return std::make_unique<WordView>(std::move(stop));
  if (in(kSlidesExtensions)) return std::make_unique<SlidesView>(std::move(stop));
  if (in(kSheetExtensions)) return std::make_unique<SheetView>(extension, std::move(stop));
  if (in(kPdfExtensions)) return std::make_unique<PdfView>(pictureFolder);
  if (in(kArchiveExtensions)) return std::make_unique<ArchiveView>(std::move(stop));
  return nullptr;
}

}  // namespace qm
