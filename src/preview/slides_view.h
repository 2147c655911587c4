// Presentations as preview text: the texts of the first kPreviewSlides
// slides, a line feed after each shape's text.
#pragma once

#include <stop_token>

#include "preview/document_view.h"

namespace qm {

class SlidesView final : public IDocumentView {
 public:
  explicit SlidesView(std::stop_token stop) : stop_(std::move(stop)) {}
  int Convert(const std::filesystem::path& path, QString& text) override;

 private:
  std::stop_token stop_;
};

}  // namespace qm
