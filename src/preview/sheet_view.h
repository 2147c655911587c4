// Spreadsheets (and the other files the spreadsheet family opens) as preview
// text: the first kPreviewSheetRows x kPreviewSheetColumns cells of the
// active sheet.
#pragma once

#include <QString>

#include <stop_token>

#include "preview/document_view.h"

namespace qm {

class SheetView final : public IDocumentView {
 public:
  // `lowerExtension` tells apart the formats that share a container: an OLE
  // compound file is a workbook only when it is named .xls.
  SheetView(QString lowerExtension, std::stop_token stop)
      : extension_(std::move(lowerExtension)), stop_(std::move(stop)) {}
  int Convert(const std::filesystem::path& path, QString& text) override;

 private:
  QString extension_;
  std::stop_token stop_;
};

}  // namespace qm
