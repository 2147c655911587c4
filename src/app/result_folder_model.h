// The results as the folders they were found in, read from the engine one
// folder at a time: a folder is listed when it is first expanded, on a
// worker thread (with the file counts of its subfolders), so a slow or
// damaged volume does not stall the window; its rows are handed to the view
// in batches, so a folder with a hundred thousand entries does not stall it
// either. Folders come before files.
#pragma once
#include <QAbstractItemModel>
#include <QIcon>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <vector>
#include "results/found_file_record.h"

namespace qm {

class IFileRecoveryParse;

class ResultFolderModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  enum Column { kName = 0, kSize, kColumnCount };
  // Rows handed to the view per fetch.
  static constexpr int kBatchSize = 1000;

  // `engine` must outlive the model.
  explicit ResultFolderModel(IFileRecoveryParse& engine, QObject* parent = nullptr);
  // Waits for the listings still running: the engine must not be closed
  // under them.
  ~ResultFolderModel() override;

  // The record a row stands for; null for the invisible root.
  const FoundFileRecord* RecordAt(const QModelIndex& index) const;
  // The last listing error (0 when none), as the engine reported it.
  int LastError() const { return lastError_; }
  // Whether a folder is being read.
  bool Listing() const { return running_ > 0; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Node;
  struct FolderListing;
  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const Node& node) const;
  void StartListing(Node& node);
  void TakeListing(Node& node, FolderListing listing);
  void HandOut(Node& node);

  IFileRecoveryParse& engine_;
  std::unique_ptr<Node> root_;
  int lastError_ = 0;
  int running_ = 0;
  std::map<const Node*, std::thread> workers_;  // the listings running, by folder
};

}  // namespace qm
