#include "app/result_browser.h"

#include <QFontMetrics>

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
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
  // The name takes what the other columns leave; they are sized for their
  // usual texts ("2024-12-31 23:59:59", "1023.99 MB") rather than measured
  // over a million rows.
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(30);
  const QFontMetrics metrics(list->font());
  const auto fit = [&](int column, const QString& sample) {
    header->resizeSection(column, metrics.horizontalAdvance(sample) + 28);
  };
  header->resizeSection(FileListModel::kCheck, 36);
  fit(FileListModel::kSize, "1023.99 MB");
  fit(FileListModel::kModified, "2024-12-31 23:59:59");
  fit(FileListModel::kCreated, "2024-12-31 23:59:59");
  fit(FileListModel::kPath, "/DCIM/100CANON");
  fit(FileListModel::kType, "jpeg");
  header->setSectionResizeMode(FileListModel::kName, QHeaderView::Stretch);
  connect(header, &QHeaderView::sectionClicked, this, &ResultBrowser::OnHeaderClicked);

  connect(&model_, &FileListModel::SelectAllStateChanged, this,
          &ResultBrowser::OnSelectAllStateChanged);
  connect(&model_, &FileListModel::SelectionChanged, this, [this] {
    if (shownGroup_ < 0) RefreshGroupStates();
    RefreshSummary();
    emit SelectionChanged();
  });
  connect(&tree_, &FileTypeTree::GroupsCheckChanged, this, &ResultBrowser::OnGroupsCheckChanged);
  connect(&tree_, &FileTypeTree::GroupShown, this, &ResultBrowser::ShowGroup);
  if (widgets_.selectAll != nullptr) {
    connect(widgets_.selectAll, &QCheckBox::clicked, this, &ResultBrowser::ToggleSelectAll);
  }
  RefreshSummary();
}

void ResultBrowser::ShowResults(const std::vector<FoundFileRecord>& results) {
  Clear();  // the old groups go before the new ones are made
  tree_.SetResults(results);
}

void ResultBrowser::Clear() {
  shownGroup_ = -1;
  model_.SetRecords(nullptr);
  tree_.Clear();
}

void ResultBrowser::ShowGroups(std::map<std::string, std::vector<FoundFileRecord>> grouped) {
  Clear();
  tree_.SetGroups(std::move(grouped));
}

void ResultBrowser::ShowGroup(int group) {
  if (tree_.GroupNode(group) == nullptr) return;
  shownGroup_ = group;
  model_.SetRecords(tree_.Groups()[group].records);
}

void ResultBrowser::ShowFiles(FileListModel::Records files) {
  shownGroup_ = -1;
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
  QTreeWidgetItem* node = tree_.GroupNode(shownGroup_);
  if (node == nullptr && model_.rowCount() > 0) {
    // A folder's files: the rows themselves are ticked or cleared.
    model_.SetAllChecked(model_.SelectAllState() != Qt::Checked);
    OnSelectAllStateChanged(model_.SelectAllState());
    return;
  }
  if (node == nullptr) {
    OnSelectAllStateChanged(Qt::Unchecked);
    return;
  }
  // Reported through the node even when its state stays, so the rows and
  // the selection always follow the box.
  tree_.CheckNode(node, model_.SelectAllState() != Qt::Checked);
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
  bool shownAffected = false;
  for (int group : groups) {
    if (group == shownGroup_) {
      shownAffected = true;
      continue;
    }
    if (checked) {
      selection_.AddAll(all[group].records);
    } else {
      selection_.RemoveAll(*all[group].records);
    }
  }
  if (shownAffected) {
    model_.SetAllChecked(checked);  // also refreshes the summary
  } else {
    RefreshSummary();
  }
  emit SelectionChanged();
}

void ResultBrowser::OnSelectAllStateChanged(Qt::CheckState state) {
  if (widgets_.selectAll != nullptr) {
    const QSignalBlocker block(widgets_.selectAll);
    widgets_.selectAll->setCheckState(state);
  }
  tree_.ShowGroupState(shownGroup_, state);
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
