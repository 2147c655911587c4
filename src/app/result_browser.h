// Ties the result views together: the category tree chooses what the file
// list shows (a group, a whole category or everything found), header clicks sort the list, row checks and the
// select-all box change the selection, and the check marks travel between
// rows, group nodes and category nodes. The widgets are handed in, so a
// window (or a test) only has to own them.
#pragma once
#include <QObject>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "app/file_list_model.h"
#include "app/file_type_tree.h"
#include "results/found_file_record.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm {

class ResultSelection;

struct ResultBrowserWidgets {
  QTreeView* fileList = nullptr;         // required
  QTreeWidget* typeTree = nullptr;       // required
  QCheckBox* selectAll = nullptr;        // optional; the header's first item works as well
  QLabel* summary = nullptr;             // optional: the selection summary
  QAbstractButton* recover = nullptr;    // optional: enabled while something is chosen
};

class ResultBrowser : public QObject {
  Q_OBJECT

 public:
  ResultBrowser(const ResultBrowserWidgets& widgets, ResultSelection& selection,
                QObject* parent = nullptr);

  // Rebuilds the category tree from the listed results and empties the list.
  void ShowResults(const std::vector<FoundFileRecord>& results);
  // The same from results a worker has grouped already (GroupByExtension).
  // Call Clear before the worker starts, so the old groups are gone by
  // the time the new ones are built.
  void ShowGroups(std::map<std::string, std::vector<FoundFileRecord>> grouped);
  // Empties the list and the category tree; the selection stays.
  void Clear();
  // Shows one group in the list (as choosing its node does).
  void ShowGroup(int group);
  // Shows the files of a node of the category tree: a group's, those of
  // every group of a category, or everything found.
  void ShowNode(QTreeWidgetItem* node);
  // Opens on the first category that holds files: the photos when there
  // are any, as they are what most people come back for.
  void ShowFirstCategory();
  // The group shown on its own, or -1 while a category (or nothing) is.
  int ShownGroup() const;
  QTreeWidgetItem* ShownNode() const { return shownNode_; }
  // Shows files of no one group, a folder's: the select-all box then ticks
  // these rows, and the group nodes follow what is ticked among them.
  void ShowFiles(FileListModel::Records files);
  // Brings the list's checks, the group nodes and the summary up to date
  // after the selection was changed elsewhere (the folder view).
  void SyncChecks();
  // The select-all box was clicked: a partly or un-checked list becomes
  // wholly chosen, a wholly chosen one is dropped.
  void ToggleSelectAll();
  // Sets the summary text and the recover button from the selection.
  void RefreshSummary();

  FileListModel& Model() { return model_; }
  FileTypeTree& TypeTree() { return tree_; }

 signals:
  void SelectionChanged();
  // The list now shows `node`'s files.
  void NodeShown(QTreeWidgetItem* node);

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The name column takes the room the others leave, while the user has
  // not sized it.
  void FitNameColumn();
  void OnGroupsCheckChanged(const std::vector<int>& groups, bool checked);
  void OnSelectAllStateChanged(Qt::CheckState state);
  void OnHeaderClicked(int section);
  // The tree's group marks follow the list's rows of each shown group.
  void SyncTreeMarks();
  bool IsShown(int group) const;
  // Each group node from how many of its records are chosen.
  void RefreshGroupStates();

  ResultBrowserWidgets widgets_;
  ResultSelection& selection_;
  FileListModel model_;
  FileTypeTree tree_;
  QTreeWidgetItem* shownNode_ = nullptr;
  std::vector<int> shownGroups_;  // the list's parts, in order
  int nameMinimum_ = 0;
  bool nameSizedByUser_ = false;
  bool fittingName_ = false;
};

}  // namespace qm
