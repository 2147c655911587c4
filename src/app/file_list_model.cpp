#include "app/file_list_model.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "app/formatting.h"
#include "app/local_format.h"
#include "app/language_store.h"
#include "app/result_selection.h"

namespace qm {
namespace {

const QString kNoText = QStringLiteral("    ----    ");

const char* const kHeaderKeys[FileListModel::kColumnCount] = {
    "", "FileName", "Size", "ModifiedTime", "CreatedTime", "Path", "Type"};
const char* const kHeaderFallbacks[FileListModel::kColumnCount] = {
    "", "File Name", "Size", "Modified Time", "Created Time", "Path", "Type"};

std::string_view TypeOf(const FoundFileRecord& record, std::string_view name) {
  if (record.isDirectory != 0) return "folder";
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return "file";
  return name.substr(dot + 1);
}

// The key that orders texts without regard to case. Plain ASCII, by far the
// common case, is lowered in place; anything else goes through Unicode case
// folding.
std::string FoldedText(std::string_view text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .toCaseFolded()
        .toStdString();
  }
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view NameOf(const FoundFileRecord& record) {
  return {record.name, strnlen(record.name, sizeof record.name)};
}

// One row of a sort: the column's value as two integers (a text's first
// sixteen folded bytes, big-endian, so that integer order is text order),
// the row's place before the sort, which keeps equal rows in their order,
// and the record it shows.
struct SortRow {
  uint64_t major;
  uint64_t minor;
  uint32_t position;
  uint32_t record;
};

uint64_t BigEndianPrefix(std::string_view text, size_t from) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) {
    const size_t at = from + i;
    value = (value << 8) | (at < text.size() ? static_cast<unsigned char>(text[at]) : 0u);
  }
  return value;
}

// Sorts `rows` and writes the new order. `texts`, when given, holds the
// folded text of each position that is longer than sixteen bytes. Two rows
// whose first sixteen bytes tie compare by those texts: a row without one
// is then a prefix of the other and comes first, as the empty text does.
void SortByKeys(std::vector<SortRow>& rows, const std::vector<std::string>* texts, int direction,
                std::vector<uint32_t>& order) {
  const auto compare = [texts](const SortRow& a, const SortRow& b) -> int {
    if (a.major != b.major) return a.major < b.major ? -1 : 1;
    if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
    if (texts == nullptr) return 0;
    const int c = (*texts)[a.position].compare((*texts)[b.position]);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  };
  const bool ascending = direction == 1;
  std::sort(rows.begin(), rows.end(), [&](const SortRow& a, const SortRow& b) {
    const int c = compare(a, b);
    if (c != 0) return ascending ? c < 0 : c > 0;
    return a.position < b.position;
  });
  for (size_t i = 0; i < rows.size(); ++i) order[i] = rows[i].record;
}

}  // namespace

FileListModel::FileListModel(ResultSelection& selection, QObject* parent)
    : QAbstractTableModel(parent), selection_(selection) {}

void FileListModel::SetRecords(Records records) {
  std::vector<Records> parts;
  if (records) parts.push_back(std::move(records));
  SetParts(std::move(parts));
}

void FileListModel::SetParts(std::vector<Records> parts) {
  beginResetModel();
  std::erase_if(parts, [](const Records& part) { return !part; });
  parts_ = std::move(parts);
  if (parts_.empty()) paths_.clear();  // the results are gone; their keys may come again
  starts_.clear();
  partChecked_.assign(parts_.size(), 0);
  size_t count = 0;
  checkedRows_ = 0;
  for (size_t part = 0; part < parts_.size(); ++part) {
    starts_.push_back(static_cast<uint32_t>(count));
    count += parts_[part]->size();
    for (const FoundFileRecord& record : *parts_[part]) partChecked_[part] += selection_.Contains(record) ? 1 : 0;
    checkedRows_ += partChecked_[part];
  }
  order_.resize(count);
  for (size_t i = 0; i < count; ++i) order_[i] = static_cast<uint32_t>(i);
  endResetModel();
  emit SelectAllStateChanged(SelectAllState());
}

size_t FileListModel::PartOf(uint32_t position) const {
  return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), position) - starts_.begin()) - 1;
}

Qt::CheckState FileListModel::PartState(int part) const {
  if (part < 0 || static_cast<size_t>(part) >= parts_.size()) return Qt::Unchecked;
  const size_t checked = partChecked_[part];
  if (checked == 0 || parts_[part]->empty()) return Qt::Unchecked;
  return checked == parts_[part]->size() ? Qt::Checked : Qt::PartiallyChecked;
}

void FileListModel::SetPathSource(PathSource source) {
  pathSource_ = std::move(source);
  paths_.clear();
  if (!order_.empty()) emit dataChanged(index(0, kPath), index(rowCount() - 1, kPath), {Qt::DisplayRole});
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QString FileListModel::TypeText(const FoundFileRecord& record) {
  const std::string_view type = TypeOf(record, NameOf(record));
  return QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()));
}

QString FileListModel::CellText(const FoundFileRecord& record, int column) {
  switch (column) {
    case kName:
      return QString::fromStdString(record.Name());
    case kSize:
      return record.isDirectory != 0
                 ? QString()
                 : LocalSize(static_cast<int64_t>(record.fileSize));
    case kModified:
      return record.writeTime == 0 ? kNoText : QString::fromStdString(FormatFileTime(record.writeTime));
    case kCreated:
      return record.creationTime == 0 ? kNoText
                                      : QString::fromStdString(FormatFileTime(record.creationTime));
    case kPath:
      return kNoText;
    case kType:
      return TypeText(record);
    default:
      return {};
  }
}

QIcon FileListModel::IconFor(const FoundFileRecord& record) const {
  const std::string path = FileIconPath(TypeText(record).toStdString(), record.contentOk != 0);
  const QString key = QString::fromStdString(path);
  auto it = icons_.find(key);
  if (it == icons_.end()) it = icons_.insert(key, QIcon(QStringLiteral(":/skin/") + key));
  return *it;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FoundFileRecord& record = RecordAt(index.row());
  const int column = index.column();
  if (role == Qt::CheckStateRole && column == kCheck) {
    return selection_.Contains(record) ? Qt::Checked : Qt::Unchecked;
  }
  if (role == Qt::DisplayRole && column == kPath && pathSource_) {
    const quint64 key = ResultSelection::KeyOf(record);
    auto it = paths_.constFind(key);
    if (it == paths_.cend()) it = paths_.insert(key, pathSource_(record));
    return it->isEmpty() ? kNoText : *it;
  }
  if (role == Qt::DisplayRole) return CellText(record, column);
  if (role == Qt::DecorationRole && column == kName) return IconFor(record);
  if (role == Qt::ToolTipRole && column == kName) return CellText(record, kName);
  if (role == Qt::ToolTipRole && column == kPath && pathSource_) return data(index, Qt::DisplayRole);
  return {};
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kCheck || role != Qt::CheckStateRole) return false;
  const uint32_t position = order_[index.row()];
  const size_t part = PartOf(position);
  const FoundFileRecord& record = At(position);
  const bool checked = value.toInt() == Qt::Checked;
  const bool changed = checked ? selection_.Add(record, parts_[part]) : selection_.Remove(record);
  if (!changed) return true;
  partChecked_[part] = checked ? partChecked_[part] + 1 : partChecked_[part] - 1;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  SetCheckedRows(checked ? checkedRows_ + 1 : checkedRows_ - 1);
  emit RowCheckChanged(record, checked);
  emit SelectionChanged();
  return true;
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == kCheck) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::CheckStateRole && section == kCheck) return SelectAllState();
  if (role != Qt::DisplayRole) return {};
  if (section == kCheck) return QString();
  const QString text = LanguageStore::Instance().Text("MainWnd", kHeaderKeys[section]);
  return text.isEmpty() ? QString::fromLatin1(kHeaderFallbacks[section]) : text;
}

Qt::CheckState FileListModel::SelectAllState() const {
  if (checkedRows_ == 0 || order_.empty()) return Qt::Unchecked;
  return checkedRows_ == order_.size() ? Qt::Checked : Qt::PartiallyChecked;
}

void FileListModel::SetCheckedRows(size_t count) {
  const Qt::CheckState before = SelectAllState();
  checkedRows_ = count;
  const Qt::CheckState after = SelectAllState();
  if (before != after) {
    emit headerDataChanged(Qt::Horizontal, kCheck, kCheck);
    emit SelectAllStateChanged(after);
  }
}

void FileListModel::SetAllChecked(bool checked) {
  if (order_.empty()) return;
  for (size_t part = 0; part < parts_.size(); ++part) {
    if (checked) {
      selection_.AddAll(parts_[part]);
    } else {
      selection_.RemoveAll(*parts_[part]);
    }
    partChecked_[part] = checked ? parts_[part]->size() : 0;
  }
  emit dataChanged(index(0, kCheck), index(rowCount() - 1, kCheck), {Qt::CheckStateRole});
  SetCheckedRows(checked ? order_.size() : 0);
  emit SelectionChanged();
}

void FileListModel::RefreshChecks() {
  size_t count = 0;
  for (size_t part = 0; part < parts_.size(); ++part) {
    partChecked_[part] = 0;
    for (const FoundFileRecord& record : *parts_[part]) partChecked_[part] += selection_.Contains(record) ? 1 : 0;
    count += partChecked_[part];
  }
  if (!order_.empty()) {
    emit dataChanged(index(0, kCheck), index(rowCount() - 1, kCheck), {Qt::CheckStateRole});
  }
  SetCheckedRows(count);
}

int FileListModel::ClickHeader(int column) {
  if (column <= kCheck || column >= kColumnCount) return 0;
  int& direction = directions_[column];
  switch (column) {
    case kName:
    case kType:
      direction = direction == 1 ? -1 : 1;
      break;
    case kSize:
    case kModified:
    case kCreated:
      direction = direction == -1 ? 1 : -1;
      break;
    default:
      break;  // the path is the same text on every row
  }
  SortRows(column, direction);
  return direction;
}

void FileListModel::SortRows(int column, int direction) {
  if (order_.size() < 2) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList persistent = persistentIndexList();
  const std::vector<uint32_t> before = persistent.isEmpty() ? std::vector<uint32_t>{} : order_;

  const size_t count = order_.size();
  std::vector<SortRow> rows(count);
  std::vector<std::string> texts;
  const bool byText = column == kName || column == kType;
  if (byText) texts.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const FoundFileRecord& r = At(order_[i]);
    SortRow& row = rows[i];
    row.position = static_cast<uint32_t>(i);
    row.record = order_[i];
    switch (column) {
      case kSize:
        // Folders before files, then by size.
        row.major = r.isDirectory != 0 ? 0 : 1;
        row.minor = r.fileSize;
        break;
      case kModified:
      case kCreated:
        // By the time itself: the shown text has no leading zeros in month
        // and day, so comparing texts would put October before March. A
        // missing time ("----") still sorts first.
        row.major = column == kModified ? r.writeTime : r.creationTime;
        row.minor = 0;
        break;
      case kName:
      case kType: {
        const std::string_view name = NameOf(r);
        std::string folded = FoldedText(column == kName ? name : TypeOf(r, name));
        row.major = BigEndianPrefix(folded, 0);
        row.minor = BigEndianPrefix(folded, 8);
        if (folded.size() > 16) texts[i] = std::move(folded);
        break;
      }
      default:
        row.major = row.minor = 0;  // every row shows the same path text
        break;
    }
  }
  SortByKeys(rows, byText ? &texts : nullptr, direction, order_);

  if (!persistent.isEmpty()) {
    std::vector<uint32_t> rowAfter(order_.size());
    for (size_t row = 0; row < order_.size(); ++row) rowAfter[order_[row]] = static_cast<uint32_t>(row);
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& old : persistent) {
      const uint32_t record = before[old.row()];
      moved.append(index(static_cast<int>(rowAfter[record]), old.column()));
    }
    changePersistentIndexList(persistent, moved);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace qm
