// The results as the folders they were found in, read from the engine one
// folder at a time: a folder is listed when it is first expanded, on a
// worker thread (with the file counts of its subfolders), so a slow or
// damaged volume does not stall the window; its rows are handed to the view
// in batches, so a folder with a hundred thousand entries does not stall it
// either. Folders come before files.
//
// The window uses it to choose files by folder (ChooseFrom): then the tree
// holds folders only, under one row for the whole volume; a folder stands
// for the files of its whole subtree that the results list (what the type
// filter left out is not counted), its count is theirs, and its check box
// ticks them all and shows partial when some are ticked.
#pragma once
#include <QAbstractItemModel>
#include <QIcon>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <unordered_set>
#include <vector>
#include "results/found_file_record.h"

namespace qm {

class IFileRecoveryParse;
class ResultSelection;

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

  using Records = std::shared_ptr<const std::vector<FoundFileRecord>>;
  using KeySet = std::unordered_set<uint64_t>;  // ResultSelection::KeyOf of each file

  // Shows folders for choosing the files whose keys are in `shown`, ticked
  // in `selection` (which must outlive the model), under a row named
  // `volumeName`. Call before the view asks for rows.
  void ChooseFrom(std::shared_ptr<const KeySet> shown, ResultSelection& selection, const QString& volumeName);
  // The shown files under a folder row (its whole subtree); null for a file
  // row or before ChooseFrom.
  Records FilesAt(const QModelIndex& index) const;
  // Redraws the check boxes after the selection changed elsewhere.
  void RefreshChecks();

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
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 signals:
  // A folder's check box was used; the selection has already followed.
  void SelectionChanged();

 private:
  struct Node;
  struct FolderListing;
  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const Node& node) const;
  void StartListing(Node& node);
  void TakeListing(Node& node, FolderListing listing);
  void HandOut(Node& node);
  FolderListing ListForChoosing(bool volumeRow, bool fromTop, const FoundFileRecord& folder, uint32_t depth) const;
  Records ShownFilesUnder(const FoundFileRecord* folder, uint32_t depth, int* error) const;
  Qt::CheckState CheckStateOf(const Node& node) const;
  void EmitChecks(const Node& node);

  IFileRecoveryParse& engine_;
  std::unique_ptr<Node> root_;
  int lastError_ = 0;
  int running_ = 0;
  std::map<const Node*, std::thread> workers_;  // the listings running, by folder
  std::atomic<bool> stopping_{false};            // the model is going: walks end early
  std::shared_ptr<const KeySet> shown_;          // set when choosing
  ResultSelection* selection_ = nullptr;
  QString volumeName_;
  uint64_t checkGeneration_ = 1;                 // advances when the selection changes
};

}  // namespace qm
