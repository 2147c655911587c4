#include "app/result_folder_model.h"

#include <QMetaObject>
#include <algorithm>

#include "app/formatting.h"
#include "app/local_format.h"
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
  bool listing = false;                  // its listing runs on a worker
  std::vector<FoundFileRecord> pending;  // listed, not yet handed to the view
  std::vector<int> pendingCounts;        // the file counts of `pending`'s folders
  size_t handedOut = 0;
  std::vector<std::unique_ptr<Node>> children;
  int fileCount = 0;  // files in the whole subtree, for a folder
};

// What a worker read for one folder.
struct ResultFolderModel::FolderListing {
  int error = 0;
  std::vector<FoundFileRecord> items;
  std::vector<int> counts;  // per item: files under it when a folder
};

ResultFolderModel::ResultFolderModel(IFileRecoveryParse& engine, QObject* parent)
    : QAbstractItemModel(parent), engine_(engine), root_(std::make_unique<Node>()) {}

ResultFolderModel::~ResultFolderModel() {
  for (auto& [node, worker] : workers_) worker.join();
}

ResultFolderModel::Node* ResultFolderModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

const FoundFileRecord* ResultFolderModel::RecordAt(const QModelIndex& index) const {
  return index.isValid() ? &NodeOf(index)->record : nullptr;
}

QModelIndex ResultFolderModel::IndexOf(const Node& node) const {
  if (node.parent == nullptr) return {};
  return createIndex(node.row, 0, const_cast<Node*>(&node));
}

void ResultFolderModel::StartListing(Node& node) {
  if (node.listing) return;
  node.listing = true;
  ++running_;
  const bool isRoot = node.parent == nullptr;
  const FoundFileRecord folder = node.record;
  const uint32_t depth = node.depth;
  Node* target = &node;  // nodes live as long as the model, which joins this thread
  workers_[target] = std::thread([this, isRoot, folder, depth, target] {
    FolderListing listing;
    if (depth <= kMaxDepth) {
      listing.error = engine_.ListChildren(isRoot ? nullptr : &folder, depth, listing.items);
      // The engine lists files before folders; the tree shows folders first
      // and keeps the engine's name order inside each kind.
      std::stable_partition(listing.items.begin(), listing.items.end(),
                            [](const FoundFileRecord& r) { return r.isDirectory != 0; });
      for (const FoundFileRecord& item : listing.items) {
        uint32_t count = 0;
        const bool counted = item.isDirectory != 0 && engine_.CountFiles(&item, depth + 1, &count) == 0;
        listing.counts.push_back(counted ? static_cast<int>(count) : 0);
      }
    }
    QMetaObject::invokeMethod(
        this, [this, target, listing = std::move(listing)]() mutable { TakeListing(*target, std::move(listing)); },
        Qt::QueuedConnection);
  });
}

void ResultFolderModel::TakeListing(Node& node, FolderListing listing) {
  // Posted as the worker's last act: it has ended or is about to.
  if (auto worker = workers_.find(&node); worker != workers_.end()) {
    worker->second.join();
    workers_.erase(worker);
  }
  --running_;
  node.listing = false;
  node.listed = true;
  if (listing.error != 0) lastError_ = listing.error;
  node.pending = std::move(listing.items);
  node.pendingCounts = std::move(listing.counts);
  if (node.pending.empty()) {
    // The expander of a folder found empty goes.
    const QModelIndex index = IndexOf(node);
    if (index.isValid()) emit dataChanged(index, index);
    return;
  }
  HandOut(node);
}

void ResultFolderModel::HandOut(Node& node) {
  const size_t left = node.pending.size() - node.handedOut;
  if (left == 0) {
    node.pending = {};
    node.pendingCounts = {};
    return;
  }
  const size_t batch = std::min<size_t>(left, kBatchSize);
  const int first = static_cast<int>(node.children.size());
  beginInsertRows(IndexOf(node), first, first + static_cast<int>(batch) - 1);
  for (size_t i = 0; i < batch; ++i) {
    auto child = std::make_unique<Node>();
    const size_t at = node.handedOut++;
    child->record = node.pending[at];
    child->fileCount = at < node.pendingCounts.size() ? node.pendingCounts[at] : 0;
    child->parent = &node;
    child->row = static_cast<int>(node.children.size());
    child->isFolder = child->record.isDirectory != 0;
    child->depth = node.depth + 1;
    node.children.push_back(std::move(child));
  }
  if (node.handedOut == node.pending.size()) {
    node.pending = {};
    node.pendingCounts = {};
  }
  endInsertRows();
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
  if (!node->listed) return !node->listing;
  return node->handedOut < node->pending.size();
}

void ResultFolderModel::fetchMore(const QModelIndex& parent) {
  Node* node = NodeOf(parent);
  if (!node->isFolder) return;
  // The first batch arrives with the listing; later ones as the view asks.
  if (!node->listed) StartListing(*node);
  else HandOut(*node);
}

QVariant ResultFolderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Node* node = NodeOf(index);
  const FoundFileRecord& record = node->record;
  if (role == Qt::DisplayRole) {
    if (index.column() == kName) return QString::fromStdString(record.Name());
    if (!node->isFolder) return LocalSize(static_cast<int64_t>(record.fileSize));
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
