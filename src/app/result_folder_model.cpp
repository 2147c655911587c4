#include "app/result_folder_model.h"

#include <algorithm>

#include "app/formatting.h"
#include "app/language_store.h"
#include "engines/file_recovery_parse.h"

namespace qm {
namespace {

// Deeper than any real volume nests. The keys of a damaged volume's loop
// differ at every level (they carry the depth), so only the depth ends it.
constexpr uint32_t kMaxDepth = 4096;

}  // namespace

struct ResultFolderModel::Node {
  FoundFileRecord record{};
  Node* parent = nullptr;
  int row = 0;
  uint32_t depth = 0;  // the depth this folder's contents lie at
  bool isFolder = true;
  bool listed = false;
  std::vector<FoundFileRecord> pending;  // listed, not yet handed to the view
  size_t handedOut = 0;
  std::vector<std::unique_ptr<Node>> children;
  mutable int fileCount = -1;  // files in the whole subtree, counted on demand
};

ResultFolderModel::ResultFolderModel(IFileRecoveryParse& engine, QObject* parent)
    : QAbstractItemModel(parent), engine_(engine), root_(std::make_unique<Node>()) {}

ResultFolderModel::~ResultFolderModel() = default;

ResultFolderModel::Node* ResultFolderModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

const FoundFileRecord* ResultFolderModel::RecordAt(const QModelIndex& index) const {
  return index.isValid() ? &NodeOf(index)->record : nullptr;
}

void ResultFolderModel::List(Node& node) const {
  node.listed = true;
  if (node.depth > kMaxDepth) return;
  std::vector<FoundFileRecord> items;
  const int rc = engine_.ListChildren(node.parent ? &node.record : nullptr, node.depth, items);
  if (rc != 0) lastError_ = rc;
  // The engine lists files before folders; the tree shows folders first and
  // keeps the engine's name order inside each kind.
  std::stable_partition(items.begin(), items.end(),
                        [](const FoundFileRecord& r) { return r.isDirectory != 0; });
  node.pending = std::move(items);
}

QModelIndex ResultFolderModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (row < 0 || column < 0 || column >= kColumnCount ||
      static_cast<size_t>(row) >= node->children.size())
    return {};
  return createIndex(row, column, node->children[row].get());
}

QModelIndex ResultFolderModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  Node* parent = NodeOf(child)->parent;
  if (parent == nullptr || parent == root_.get()) return {};
  return createIndex(parent->row, 0, parent);
}

int ResultFolderModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(NodeOf(parent)->children.size());
}

int ResultFolderModel::columnCount(const QModelIndex&) const { return kColumnCount; }

bool ResultFolderModel::hasChildren(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (parent.isValid() && parent.column() != 0) return false;
  if (!node->isFolder) return false;
  if (!node->listed) return true;  // unknown until expanded
  return !node->children.empty() || node->handedOut < node->pending.size();
}

bool ResultFolderModel::canFetchMore(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (!node->isFolder) return false;
  return !node->listed || node->handedOut < node->pending.size();
}

void ResultFolderModel::fetchMore(const QModelIndex& parent) {
  Node* node = NodeOf(parent);
  if (!node->isFolder) return;
  if (!node->listed) List(*node);
  const size_t left = node->pending.size() - node->handedOut;
  if (left == 0) {
    node->pending = {};
    return;
  }
  const size_t batch = std::min<size_t>(left, kBatchSize);
  const int first = static_cast<int>(node->children.size());
  beginInsertRows(parent, first, first + static_cast<int>(batch) - 1);
  for (size_t i = 0; i < batch; ++i) {
    auto child = std::make_unique<Node>();
    child->record = node->pending[node->handedOut++];
    child->parent = node;
    child->row = static_cast<int>(node->children.size());
    child->isFolder = child->record.isDirectory != 0;
    child->depth = node->depth + 1;
    node->children.push_back(std::move(child));
  }
  if (node->handedOut == node->pending.size()) node->pending = {};
  endInsertRows();
}

QVariant ResultFolderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Node* node = NodeOf(index);
  const FoundFileRecord& record = node->record;
  if (role == Qt::DisplayRole) {
    if (index.column() == kName) return QString::fromStdString(record.Name());
    if (!node->isFolder) return QString::fromStdString(FormatSize(static_cast<int64_t>(record.fileSize)));
    if (node->fileCount < 0) {
      uint32_t count = 0;
      node->fileCount = engine_.CountFiles(&record, node->depth, &count) == 0 ? static_cast<int>(count) : 0;
    }
    return node->fileCount;
  }
  if (role == Qt::DecorationRole && index.column() == kName) {
    std::string type = "folder";
    if (!node->isFolder) {
      const std::string name = record.Name();
      const size_t dot = name.rfind('.');
      type = dot == std::string::npos ? "file" : name.substr(dot + 1);
    }
    return QIcon(QStringLiteral(":/skin/") +
                 QString::fromStdString(FileIconPath(type, node->isFolder || record.contentOk != 0)));
  }
  return {};
}

QVariant ResultFolderModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const QString key = section == kName ? QStringLiteral("FileName") : QStringLiteral("Size");
  const QString text = LanguageStore::Instance().Text("MainWnd", key);
  if (!text.isEmpty()) return text;
  return section == kName ? QStringLiteral("File Name") : QStringLiteral("Size");
}

}  // namespace qm
