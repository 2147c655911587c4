// PDF files are previewed as the picture of their first page, written as
// "tmp.jpg" into the folder given (the scan log folder).
#pragma once

#include <filesystem>

#include "preview/document_view.h"

namespace qm {

class PdfView final : public IDocumentView {
 public:
  explicit PdfView(std::filesystem::path pictureFolder) : pictureFolder_(std::move(pictureFolder)) {}
  // Leaves `text` empty: the result is the picture.
  int Convert(const std::filesystem::path& path, QString& text) override;

  static constexpr const char* kPictureName = "tmp.jpg";

 private:
  std::filesystem::path pictureFolder_;
};

}  // namespace qm
