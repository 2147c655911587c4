#include "app/result_browser.h"

#include <QEvent>
#include <QFontMetrics>
#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QMenu>
#include <QLabel>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>

#include "app/language_store.h"
#include "app/result_selection.h"

namespace qm {

ResultBrowser::ResultBrowser(const ResultBrowserWidgets& widgets, ResultSelection& selection,
                             QObject* parent)
    : QObject(parent),
      widgets_(widgets),
      selection_(selection),
      model_(selection),
      tree_(widgets.typeTree) {
  QTreeView* list = widgets_.fileList;
  list->setModel(&model_);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSortingEnabled(false);  // sorting follows the header's own direction rules
  QHeaderView* header = list->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  // The name takes what the other columns leave, and never less than a
  // camera's usual name ("IMG_20240613_184512.jpg"); the others are sized
  // for their usual texts rather than measured over a million rows. Every
  // column can be dragged wider; once the user has sized the name, a
  // resize of the window leaves it as they set it.
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(30);
  header->setSectionResizeMode(QHeaderView::Interactive);
  list->ensurePolished();
  const QFontMetrics metrics(list->font());
  QFont headerFont = header->font();
  headerFont.setBold(true);
  const QFontMetrics headerMetrics(headerFont);
  // Wide enough for the sample and for the column's heading, with the
  // room the cell and the heading keep around their text.
  const auto fit = [&](int column, const QString& sample) {
    const QString heading = model_.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    header->resizeSection(column, std::max(metrics.horizontalAdvance(sample) + 12,
                                           headerMetrics.horizontalAdvance(heading) + 24));
  };
  header->resizeSection(FileListModel::kCheck, 36);
  fit(FileListModel::kSize, "999.99 MB");
  fit(FileListModel::kModified, "2024-12-31 23:59:59");
  fit(FileListModel::kCreated, "2024-12-31 23:59:59");
  fit(FileListModel::kPath, "/DCIM/100CANON");
  fit(FileListModel::kType, "jpeg");
  nameMinimum_ =
      metrics.horizontalAdvance(QStringLiteral("IMG_20240613_184512.jpg")) + list->iconSize().width() + 24;
  header->resizeSection(FileListModel::kName, nameMinimum_);
  connect(header, &QHeaderView::sectionResized, this, [this](int section, int, int) {
    if (section == FileListModel::kName && !fittingName_) nameSizedByUser_ = true;
  });
  // A found file's creation time is seldom what tells it apart, and its
  // column costs the name the room it needs: it is shown on request, from
  // the heading's menu, as every column but the name and the check.
  header->setSectionHidden(FileListModel::kCreated, true);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QHeaderView::customContextMenuRequested, this, [this, header](const QPoint& at) {
    QMenu menu;
    for (int column = FileListModel::kName + 1; column < FileListModel::kColumnCount; ++column) {
      QAction* action = menu.addAction(model_.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
      action->setCheckable(true);
      action->setChecked(!header->isSectionHidden(column));
      connect(action, &QAction::toggled, this, [this, header, column](bool shown) {
        header->setSectionHidden(column, !shown);
        FitNameColumn();
      });
    }
    menu.exec(header->mapToGlobal(at));
  });
  list->viewport()->installEventFilter(this);
  connect(header, &QHeaderView::sectionClicked, this, &ResultBrowser::OnHeaderClicked);

  connect(&model_, &FileListModel::SelectAllStateChanged, this,
          &ResultBrowser::OnSelectAllStateChanged);
  connect(&model_, &FileListModel::SelectionChanged, this, [this] {
    if (shownNode_ == nullptr) RefreshGroupStates();
    RefreshSummary();
    emit SelectionChanged();
  });
  connect(&tree_, &FileTypeTree::GroupsCheckChanged, this, &ResultBrowser::OnGroupsCheckChanged);
  connect(&tree_, &FileTypeTree::NodeChosen, this, &ResultBrowser::ShowNode);
  // In a category's list a row's check can change its group's mark without
  // changing the list's own.
  connect(&model_, &FileListModel::RowCheckChanged, this, &ResultBrowser::SyncTreeMarks);
  if (widgets_.selectAll != nullptr) {
    connect(widgets_.selectAll, &QCheckBox::clicked, this, &ResultBrowser::ToggleSelectAll);
  }
  RefreshSummary();
}

bool ResultBrowser::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && watched == widgets_.fileList->viewport()) FitNameColumn();
  return QObject::eventFilter(watched, event);
}

void ResultBrowser::FitNameColumn() {
  if (nameSizedByUser_) return;
  QHeaderView* header = widgets_.fileList->header();
  int others = 0;
  for (int column = 0; column < FileListModel::kColumnCount; ++column) {
    if (column != FileListModel::kName && !header->isSectionHidden(column)) others += header->sectionSize(column);
  }
  const int room = widgets_.fileList->viewport()->width() - others;
  fittingName_ = true;
  header->resizeSection(FileListModel::kName, std::max(nameMinimum_, room));
  fittingName_ = false;
}

void ResultBrowser::ShowResults(const std::vector<FoundFileRecord>& results) {
  Clear();  // the old groups go before the new ones are made
  tree_.SetResults(results);
}

void ResultBrowser::Clear() {
  shownNode_ = nullptr;
  shownGroups_.clear();
  model_.SetRecords(nullptr);
  tree_.Clear();
}

void ResultBrowser::ShowGroups(std::map<std::string, std::vector<FoundFileRecord>> grouped) {
  Clear();
  tree_.SetGroups(std::move(grouped));
}

void ResultBrowser::ShowGroup(int group) { ShowNode(tree_.GroupNode(group)); }

void ResultBrowser::ShowNode(QTreeWidgetItem* node) {
  if (node == nullptr || node->treeWidget() != tree_.Tree()) return;
  shownNode_ = node;
  shownGroups_ = tree_.GroupsUnder(node);
  std::vector<FileListModel::Records> parts;
  for (int group : shownGroups_) parts.push_back(tree_.Groups()[group].records);
  model_.SetParts(std::move(parts));
  SyncTreeMarks();
  emit NodeShown(node);
}

void ResultBrowser::ShowFirstCategory() {
  QTreeWidgetItem* first = tree_.FirstCategoryNode();
  if (first == nullptr) return;
  tree_.Tree()->setCurrentItem(first);
  if (shownNode_ != first) ShowNode(first);
}

int ResultBrowser::ShownGroup() const {
  const int group = FileTypeTree::GroupOf(shownNode_);
  return shownNode_ != nullptr && group >= 0 ? group : -1;
}

bool ResultBrowser::IsShown(int group) const {
  return std::find(shownGroups_.begin(), shownGroups_.end(), group) != shownGroups_.end();
}

void ResultBrowser::ShowFiles(FileListModel::Records files) {
  // No node of the category tree stands for these rows, so the tree's
  // marks are left to RefreshGroupStates.
  shownNode_ = nullptr;
  shownGroups_.clear();
  model_.SetRecords(std::move(files));
}

void ResultBrowser::SyncChecks() {
  model_.RefreshChecks();
  RefreshGroupStates();
  RefreshSummary();
}

void ResultBrowser::RefreshGroupStates() {
  const auto& groups = tree_.Groups();
  for (size_t group = 0; group < groups.size(); ++group) {
    const auto& records = *groups[group].records;
    const size_t chosen = static_cast<size_t>(std::count_if(
        records.begin(), records.end(), [this](const FoundFileRecord& r) { return selection_.Contains(r); }));
    tree_.ShowGroupState(static_cast<int>(group), chosen == 0               ? Qt::Unchecked
                                                  : chosen == records.size() ? Qt::Checked
                                                                             : Qt::PartiallyChecked);
  }
}

void ResultBrowser::ToggleSelectAll() {
  if (shownNode_ == nullptr && model_.rowCount() > 0) {
    // A folder's files: the rows themselves are ticked or cleared.
    model_.SetAllChecked(model_.SelectAllState() != Qt::Checked);
    OnSelectAllStateChanged(model_.SelectAllState());
    return;
  }
  if (shownNode_ == nullptr) {
    OnSelectAllStateChanged(Qt::Unchecked);
    return;
  }
  // Reported through the node even when its state stays, so the rows and
  // the selection always follow the box.
  tree_.CheckNode(shownNode_, model_.SelectAllState() != Qt::Checked);
  // The box advanced its own mark when clicked; it shows the rows' state.
  OnSelectAllStateChanged(model_.SelectAllState());
}

void ResultBrowser::RefreshSummary() {
  if (widgets_.summary != nullptr) {
    widgets_.summary->setText(selection_.SummaryText(LanguageStore::Instance()));
  }
  if (widgets_.recover != nullptr) widgets_.recover->setEnabled(!selection_.Empty());
}

void ResultBrowser::OnGroupsCheckChanged(const std::vector<int>& groups, bool checked) {
  const auto& all = tree_.Groups();
  const auto follow = [&](int group) {
    if (checked) {
      selection_.AddAll(all[group].records);
    } else {
      selection_.RemoveAll(*all[group].records);
    }
  };
  std::vector<int> shown;
  for (int group : groups) {
    if (IsShown(group)) {
      shown.push_back(group);
    } else {
      follow(group);
    }
  }
  if (!shown.empty() && shown.size() == shownGroups_.size()) {
    model_.SetAllChecked(checked);  // also refreshes the summary
  } else if (!shown.empty()) {
    // Some of the groups the list shows, not all (a group of the shown
    // category): their rows are read again from the selection.
    for (int group : shown) follow(group);
    model_.RefreshChecks();
    SyncTreeMarks();
    RefreshSummary();
  } else {
    if (shownNode_ == nullptr) model_.RefreshChecks();  // a folder's files may be among them
    RefreshSummary();
  }
  emit SelectionChanged();
}

void ResultBrowser::OnSelectAllStateChanged(Qt::CheckState state) {
  if (widgets_.selectAll != nullptr) {
    const QSignalBlocker block(widgets_.selectAll);
    widgets_.selectAll->setCheckState(state);
  }
  SyncTreeMarks();
}

void ResultBrowser::SyncTreeMarks() {
  // Only while the list shows the groups of a tree node, part for part.
  if (static_cast<size_t>(model_.PartCount()) != shownGroups_.size()) return;
  for (size_t part = 0; part < shownGroups_.size(); ++part) {
    tree_.ShowGroupState(shownGroups_[part], model_.PartState(static_cast<int>(part)));
  }
}

void ResultBrowser::OnHeaderClicked(int section) {
  if (section == FileListModel::kCheck) {
    ToggleSelectAll();
    return;
  }
  const int direction = model_.ClickHeader(section);
  QHeaderView* header = widgets_.fileList->header();
  header->setSortIndicatorShown(true);
  header->setSortIndicator(section, direction == 1 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

}  // namespace qm
