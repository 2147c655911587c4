// Word-processing documents as preview text: the first kPreviewTextChars
// characters.
#pragma once

#include <stop_token>

#include "preview/document_view.h"

namespace qm {

class WordView final : public IDocumentView {
 public:
  explicit WordView(std::stop_token stop) : stop_(std::move(stop)) {}
  int Convert(const std::filesystem::path& path, QString& text) override;

 private:
  std::stop_token stop_;
};

}  // namespace qm
