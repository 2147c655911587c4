#include "preview/document_view.h"

#include "preview/archive_view.h"
#include "preview/pdf_view.h"
#include "preview/sheet_view.h"
#include "preview/slides_view.h"
#include "preview/word_view.h"
#include "results/file_types.h"

namespace qm {

std::unique_ptr<IDocumentView> ChooseConverter(const QString& lowerExtension,
                                               const std::filesystem::path& pictureFolder, std::stop_token stop) {
  QString extension = lowerExtension.toLower();
  if (!extension.startsWith(u'.')) extension.prepend(u'.');
  switch (PreviewConverterOf(extension.mid(1).toStdString())) {
    case PreviewConverter::kWord: return std::make_unique<WordView>(std::move(stop));
    case PreviewConverter::kSlides: return std::make_unique<SlidesView>(std::move(stop));
    case PreviewConverter::kSheet: return std::make_unique<SheetView>(extension, std::move(stop));
    case PreviewConverter::kPdf: return std::make_unique<PdfView>(pictureFolder);
    case PreviewConverter::kArchive: return std::make_unique<ArchiveView>(std::move(stop));
    case PreviewConverter::kNone: break;
  }
  return nullptr;
}

}  // namespace qm
