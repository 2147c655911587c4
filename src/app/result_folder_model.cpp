#include "app/result_folder_model.h"

#include <QMetaObject>
#include <algorithm>

#include "app/formatting.h"
#include "app/local_format.h"
#include "app/language_store.h"
#include "app/result_selection.h"
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
  bool volumeRow = false;  // the row of the whole volume: lists the root
  bool listed = false;
  bool listing = false;                  // its listing runs on a worker
  std::vector<FoundFileRecord> pending;  // listed, not yet handed to the view
  std::vector<int> pendingCounts;        // the file counts of `pending`'s folders
  std::vector<Records> pendingFiles;     // when choosing: the shown files of `pending`'s folders
  size_t handedOut = 0;
  std::vector<std::unique_ptr<Node>> children;
  int fileCount = 0;  // files in the whole subtree, for a folder
  Records files;      // when choosing: the shown files of the whole subtree
  mutable uint64_t checkedAt = 0;  // the generation checkState was worked out for
  mutable Qt::CheckState checkState = Qt::Unchecked;
};

// What a worker read for one folder.
struct ResultFolderModel::FolderListing {
  int error = 0;
  std::vector<FoundFileRecord> items;
  std::vector<int> counts;  // per item: files under it when a folder
  std::vector<Records> files;  // per item, when choosing
};

ResultFolderModel::ResultFolderModel(IFileRecoveryParse& engine, QObject* parent)
    : QAbstractItemModel(parent), engine_(engine), root_(std::make_unique<Node>()) {}

ResultFolderModel::~ResultFolderModel() {
  stopping_ = true;
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
  const bool fromTop = isRoot || node.volumeRow;
  const bool choosing = shown_ != nullptr;
  const FoundFileRecord folder = node.record;
  const uint32_t depth = node.depth;
  Node* target = &node;  // nodes live as long as the model, which joins this thread
  workers_[target] = std::thread([this, isRoot, fromTop, choosing, folder, depth, target] {
    FolderListing listing;
    if (choosing) {
      listing = ListForChoosing(isRoot, fromTop, folder, depth);
    } else if (depth <= kMaxDepth) {
      listing.error = engine_.ListChildren(fromTop ? nullptr : &folder, depth, listing.items);
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

ResultFolderModel::FolderListing ResultFolderModel::ListForChoosing(bool volumeRow, bool fromTop,
                                                                    const FoundFileRecord& folder,
                                                                    uint32_t depth) const {
  FolderListing listing;
  if (volumeRow) {
    // The one row above the root's folders, so that the files lying in the
    // root can be chosen too.
    FoundFileRecord top{};
    top.isDirectory = 1;
    top.SetName(volumeName_.toStdString());
    listing.files.push_back(ShownFilesUnder(nullptr, 0, &listing.error));
    listing.counts.push_back(static_cast<int>(listing.files.back()->size()));
    listing.items.push_back(top);
    return listing;
  }
  std::vector<FoundFileRecord> children;
  if (depth > kMaxDepth) return listing;
  listing.error = engine_.ListChildren(fromTop ? nullptr : &folder, depth, children);
  for (const FoundFileRecord& child : children) {
    if (child.isDirectory == 0) continue;  // the file list shows the files
    Records files = ShownFilesUnder(&child, depth + 1, &listing.error);
    if (files->empty()) continue;  // nothing in it is listed
    listing.counts.push_back(static_cast<int>(files->size()));
    listing.files.push_back(std::move(files));
    listing.items.push_back(child);
  }
  return listing;
}

ResultFolderModel::Records ResultFolderModel::ShownFilesUnder(const FoundFileRecord* folder, uint32_t depth,
                                                              int* error) const {
  // Depth first with an explicit stack; a folder met twice (a loop in a
  // damaged volume) is not entered again.
  auto files = std::make_shared<std::vector<FoundFileRecord>>();
  struct Pending {
    bool root;
    FoundFileRecord folder;
    uint32_t depth;  // the depth its contents lie at
  };
  std::vector<Pending> stack;
  stack.push_back({folder == nullptr, folder != nullptr ? *folder : FoundFileRecord{}, depth});
  std::unordered_set<uint64_t> seen;
  std::vector<FoundFileRecord> items;
  while (!stack.empty() && !stopping_) {
    const Pending next = stack.back();
    stack.pop_back();
    items.clear();
    if (int rc = engine_.ListChildren(next.root ? nullptr : &next.folder, next.depth, items); rc != 0) *error = rc;
    for (const FoundFileRecord& item : items) {
      if (item.isDirectory == 0) {
        if (shown_->contains(ResultSelection::KeyOf(item))) files->push_back(item);
        continue;
      }
      if (next.depth + 1 > kMaxDepth || !seen.insert((uint64_t{next.depth + 1} << 32) | item.entryId).second)
        continue;
      stack.push_back({false, item, next.depth + 1});
    }
  }
  return files;
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
  node.pendingFiles = std::move(listing.files);
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
    node.pendingFiles = {};
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
    if (at < node.pendingFiles.size()) child->files = node.pendingFiles[at];
    child->parent = &node;
    child->row = static_cast<int>(node.children.size());
    child->isFolder = child->record.isDirectory != 0;
    // The volume's row lists the root, whose contents lie at depth 0.
    child->volumeRow = shown_ != nullptr && node.parent == nullptr;
    child->depth = child->volumeRow ? 0 : node.depth + 1;
    node.children.push_back(std::move(child));
  }
  if (node.handedOut == node.pending.size()) {
    node.pending = {};
    node.pendingCounts = {};
    node.pendingFiles = {};
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
  if (role == Qt::CheckStateRole && index.column() == kName && shown_ != nullptr && node->isFolder) {
    return CheckStateOf(*node);
  }
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

bool ResultFolderModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kName || role != Qt::CheckStateRole || selection_ == nullptr) return false;
  const Node* node = NodeOf(index);
  if (!node->files) return false;
  // A partly ticked folder becomes wholly ticked, as its box shows next.
  if (value.toInt() == Qt::Unchecked) {
    selection_->RemoveAll(*node->files);
  } else {
    selection_->AddAll(node->files);
  }
  RefreshChecks();
  emit SelectionChanged();
  return true;
}

Qt::ItemFlags ResultFolderModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractItemModel::flags(index);
  if (index.isValid() && index.column() == kName && NodeOf(index)->files) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

void ResultFolderModel::ChooseFrom(std::shared_ptr<const KeySet> shown, ResultSelection& selection,
                                   const QString& volumeName) {
  beginResetModel();
  shown_ = std::move(shown);
  selection_ = &selection;
  volumeName_ = volumeName;
  endResetModel();
}

ResultFolderModel::Records ResultFolderModel::FilesAt(const QModelIndex& index) const {
  return index.isValid() ? NodeOf(index)->files : nullptr;
}

Qt::CheckState ResultFolderModel::CheckStateOf(const Node& node) const {
  if (node.checkedAt != checkGeneration_) {
    size_t ticked = 0;
    if (node.files && selection_ != nullptr) {
      for (const FoundFileRecord& file : *node.files) ticked += selection_->Contains(file) ? 1 : 0;
    }
    node.checkState = ticked == 0                   ? Qt::Unchecked
                      : ticked == node.files->size() ? Qt::Checked
                                                     : Qt::PartiallyChecked;
    node.checkedAt = checkGeneration_;
  }
  return node.checkState;
}

void ResultFolderModel::RefreshChecks() {
  ++checkGeneration_;
  EmitChecks(*root_);
}

void ResultFolderModel::EmitChecks(const Node& node) {
  if (node.children.empty()) return;
  const QModelIndex parent = IndexOf(node);
  emit dataChanged(index(0, kName, parent), index(static_cast<int>(node.children.size()) - 1, kName, parent),
                   {Qt::CheckStateRole});
  for (const auto& child : node.children) EmitChecks(*child);
}

QVariant ResultFolderModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  // When choosing, the second column holds the folders' file counts only.
  const bool counts = shown_ != nullptr && section != kName;
  const QString key = section == kName ? QStringLiteral("FileName")
                      : counts         ? QStringLiteral("FileCount")
                                       : QStringLiteral("Size");
  const QString text = LanguageStore::Instance().Text("MainWnd", key);
  if (!text.isEmpty()) return text;
  return section == kName ? QStringLiteral("File Name") : counts ? QStringLiteral("Files") : QStringLiteral("Size");
}

}  // namespace qm
