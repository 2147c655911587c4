// The rows of the file list: one or more extension groups' records (a group,
// or every group of a category), shown through the shared vectors (no copy,
// no widget per row) and an index permutation that sorting rearranges.
//
// Column 0 is the row's check box. Its state is read from the selection, so
// a check set anywhere (a category node, the select-all box) shows at once;
// a running count of checked rows gives the select-all state without a scan.
#pragma once
#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <array>
#include <functional>
#include <memory>
#include <vector>
#include "results/found_file_record.h"

namespace qm {

class ResultSelection;

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kCheck = 0, kName, kSize, kModified, kCreated, kPath, kType, kColumnCount };
  using Records = std::shared_ptr<const std::vector<FoundFileRecord>>;

  explicit FileListModel(ResultSelection& selection, QObject* parent = nullptr);

  // Shows `records` in their given order; the sort directions are kept.
  void SetRecords(Records records);
  // The same for several groups at once, one after the other; each stays a
  // part of its own, whose check state PartState tells.
  void SetParts(std::vector<Records> parts);
  int PartCount() const { return static_cast<int>(parts_.size()); }
  // Checked when every row of the part is chosen, partially when some are.
  Qt::CheckState PartState(int part) const;
  const FoundFileRecord& RecordAt(int row) const { return At(order_[row]); }
  // Where the Path column learns a record's folder ("/DCIM/100CANON"); a
  // path is asked for once, when its row is first shown. Without it the
  // column shows "----".
  using PathSource = std::function<QString(const FoundFileRecord&)>;
  void SetPathSource(PathSource source);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Checked when every row is chosen, partially checked when some are.
  Qt::CheckState SelectAllState() const;
  // Chooses or drops every row of the group.
  void SetAllChecked(bool checked);
  // Recounts the checked rows after the selection changed elsewhere.
  void RefreshChecks();

  // A click on a header item: the column's direction turns (name and type
  // start ascending, size and times descending, the path keeps its own)
  // and the rows are sorted. Returns the new direction: 1 ascending,
  // -1 descending, 0 before any click.
  int ClickHeader(int column);
  int Direction(int column) const { return directions_[column]; }
  // Sorts by `column`; `direction` 1 ascending, anything else descending.
  void SortRows(int column, int direction);

  // The texts a row shows.
  static QString TypeText(const FoundFileRecord& record);
  static QString CellText(const FoundFileRecord& record, int column);

 signals:
  // The user checked or cleared one row; the selection has already followed.
  void RowCheckChanged(const qm::FoundFileRecord& record, bool checked);
  void SelectAllStateChanged(Qt::CheckState state);
  void SelectionChanged();

 private:
  void SetCheckedRows(size_t count);
  QIcon IconFor(const FoundFileRecord& record) const;
  // The part that holds the record at `position` (an index over all parts).
  size_t PartOf(uint32_t position) const;
  const FoundFileRecord& At(uint32_t position) const {
    const size_t part = PartOf(position);
    return (*parts_[part])[position - starts_[part]];
  }

  ResultSelection& selection_;
  std::vector<Records> parts_;
  std::vector<uint32_t> starts_;       // the first position of each part
  std::vector<size_t> partChecked_;    // checked rows per part
  std::vector<uint32_t> order_;
  size_t checkedRows_ = 0;
  std::array<int, kColumnCount> directions_{};
  mutable QHash<QString, QIcon> icons_;
  PathSource pathSource_;
  mutable QHash<quint64, QString> paths_;  // by ResultSelection::KeyOf
};

}  // namespace qm
