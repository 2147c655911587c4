// The corner of a worksheet the preview shows: the first rows and columns of
// its used range, however large the sheet is.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace qm {

class SheetGrid {
 public:
  // Rows and columns count from 0. Empty texts do not widen the used range.
  void Add(std::int64_t row, std::int64_t column, const QString& text);
  // The used range's first kPreviewSheetRows x kPreviewSheetColumns cells:
  // a tab between cells and a line feed after each row. The bare run of cell
  // texts with nothing between them would be unreadable in a preview.
  QString Render() const;
  bool Empty() const { return cells_.empty(); }

 private:
  struct Cell {
    std::int64_t row;
    std::int64_t column;
    QString text;
  };
  void Prune();

  std::vector<Cell> cells_;
  std::int64_t firstRow_ = INT64_MAX, firstColumn_ = INT64_MAX;
  std::int64_t lastRow_ = -1, lastColumn_ = -1;
};

}  // namespace qm
