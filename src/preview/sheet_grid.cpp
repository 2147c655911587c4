#include "preview/sheet_grid.h"

#include <algorithm>

#include "preview/document_view.h"

namespace qm {

void SheetGrid::Add(std::int64_t row, std::int64_t column, const QString& text) {
  if (text.isEmpty() || row < 0 || column < 0) return;
  firstRow_ = std::min(firstRow_, row);
  firstColumn_ = std::min(firstColumn_, column);
  lastRow_ = std::max(lastRow_, row);
  lastColumn_ = std::max(lastColumn_, column);
  if (row >= firstRow_ + kPreviewSheetRows || column >= firstColumn_ + kPreviewSheetColumns) return;
  // Line breaks and tabs inside a cell would tear the grid apart.
  QString shown = text.left(kPreviewTextChars);
  shown.replace(u'\t', u' ').replace(u'\n', u' ').replace(u'\r', u' ');
  cells_.push_back({row, column, std::move(shown)});
  if (cells_.size() > 4096) Prune();
}

// The shown window only moves up and left as cells arrive, so a cell that
// has fallen outside it can never come back in.
void SheetGrid::Prune() {
  std::erase_if(cells_, [&](const Cell& cell) {
    return cell.row >= firstRow_ + kPreviewSheetRows || cell.column >= firstColumn_ + kPreviewSheetColumns;
  });
}

QString SheetGrid::Render() const {
  if (cells_.empty()) return {};
  const auto rows = static_cast<int>(std::min<std::int64_t>(kPreviewSheetRows, lastRow_ - firstRow_ + 1));
  const auto columns =
      static_cast<int>(std::min<std::int64_t>(kPreviewSheetColumns, lastColumn_ - firstColumn_ + 1));
  std::vector<QString> table(static_cast<size_t>(rows * columns));
  for (const Cell& cell : cells_) {
    const std::int64_t r = cell.row - firstRow_, c = cell.column - firstColumn_;
    if (r < rows && c < columns) table[static_cast<size_t>(r * columns + c)] = cell.text;
  }
  QString text;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      if (c > 0) text += u'\t';
      text += table[static_cast<size_t>(r * columns + c)];
    }
    text += u'\n';
  }
  return text;
}

}  // namespace qm
