// The category tree beside the file list: one node for everything found,
// holding six category nodes (photos, music, videos, documents, archives,
// other files), each holding one node per extension group of the results.
//
// Check boxes are tri-state. A node the user checks passes its state to
// every node below it, and each node above it is recomputed: all children
// checked gives checked, some checked or partly checked gives partial, none
// gives clear. One signal reports each user change with the records it
// covers, so the selection can follow.
#pragma once
#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "results/found_file_record.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace qm {

class FileTypeTree : public QObject {
  Q_OBJECT

 public:
  using Records = std::shared_ptr<const std::vector<FoundFileRecord>>;

  struct Group {
    QString extension;  // after synonyms; "unknow" for names without one
    int category = 0;   // index into kCategoryNames
    Records records;
  };

  // The node object names, in category order.
  static const char* const kCategoryNodeNames[6];

  explicit FileTypeTree(QTreeWidget* tree, QObject* parent = nullptr);

  // Rebuilds the tree from the listed results: every node starts clear.
  // Categories without files are left out.
  void SetResults(const std::vector<FoundFileRecord>& results);
  // The same from results already grouped (GroupByExtension), so that a
  // worker thread can do the grouping of a large listing; the records are
  // moved, not copied.
  void SetGroups(std::map<std::string, std::vector<FoundFileRecord>> grouped);
  void Clear();
  // Words the category and group nodes again in the current language.
  void Retranslate();

  const std::vector<Group>& Groups() const { return groups_; }
  QTreeWidget* Tree() const { return tree_; }
  // The node of everything found, of a category (0..5) or of a group; null
  // when not shown.
  QTreeWidgetItem* AllNode() const { return allNode_; }
  QTreeWidgetItem* CategoryNode(int category) const;
  QTreeWidgetItem* GroupNode(int group) const;
  // The first category that holds files, as it comes in the tree; null
  // when nothing was found.
  QTreeWidgetItem* FirstCategoryNode() const;
  // The group a node stands for, or -1 for a category node.
  static int GroupOf(const QTreeWidgetItem* node);
  // The groups a node stands for: its own, or those below it, in tree order.
  std::vector<int> GroupsUnder(const QTreeWidgetItem* node) const;

  Qt::CheckState State(const QTreeWidgetItem* node) const;

  // Sets a node as the user would: the nodes below follow, the nodes above
  // are recomputed, and GroupsCheckChanged is raised even when the state
  // does not change, so the caller can force the records to follow.
  void CheckNode(QTreeWidgetItem* node, bool checked);
  // Mirrors the file list: the group node takes `state`, the nodes above
  // are recomputed; no signal.
  void ShowGroupState(int group, Qt::CheckState state);

 signals:
  // The user checked or cleared a node; `groups` are the indices of the
  // groups under it (or the group itself).
  void GroupsCheckChanged(const std::vector<int>& groups, bool checked);
  // The user chose a node (a group, a category or everything found) to
  // show in the file list.
  void NodeChosen(QTreeWidgetItem* node);

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void OnCurrentItemChanged(QTreeWidgetItem* current);
  void SetSubtree(QTreeWidgetItem* node, Qt::CheckState state);
  void RecomputeAncestors(QTreeWidgetItem* node);
  void SetState(QTreeWidgetItem* node, Qt::CheckState state);

  QTreeWidget* tree_;
  std::vector<Group> groups_;
  std::vector<QTreeWidgetItem*> groupNodes_;
  QTreeWidgetItem* allNode_ = nullptr;
  QTreeWidgetItem* categoryNodes_[6] = {};
  bool updating_ = false;
};

}  // namespace qm
