#include "app/file_type_tree.h"

#include <QIcon>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <map>

#include "app/formatting.h"
#include "app/language_store.h"
#include "app/message_format.h"
#include "results/categories.h"

namespace qm {
namespace {

constexpr int kGroupRole = Qt::UserRole + 1;
constexpr int kNodeNameRole = Qt::UserRole + 2;  // "NodePhoto" ... "NodeOther"
constexpr int kOtherCategory = 5;

const char* const kCategoryTextKeys[6] = {"MSG0807", "MSG0808", "MSG0809",
                                          "MSG0810", "MSG0811", "MSG0812"};

// "JPG (12)"; a group of other files says it holds files: "EXE Files (3)".
QString GroupLabel(const FileTypeTree::Group& group, const LanguageStore& language) {
  const qsizetype count = static_cast<qsizetype>(group.records->size());
  const QString name = group.category == kOtherCategory
                           ? FillMessage(language.Text("Messages", "MSG1509"), {group.extension.toUpper()})
                           : group.extension.toUpper();
  return QStringLiteral("%1 (%2)").arg(name).arg(count);
}

}  // namespace

const char* const FileTypeTree::kCategoryNodeNames[6] = {"NodePhoto",  "NodeAudio", "NodeVideo",
                                                         "NodeOffice", "NodeZip",   "NodeOther"};

FileTypeTree::FileTypeTree(QTreeWidget* tree, QObject* parent) : QObject(parent), tree_(tree) {
  connect(tree_, &QTreeWidget::itemChanged, this, &FileTypeTree::OnItemChanged);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
}

void FileTypeTree::Clear() {
  updating_ = true;
  tree_->clear();
  updating_ = false;
  groups_.clear();
  groupNodes_.clear();
  allNode_ = nullptr;
  for (auto*& node : categoryNodes_) node = nullptr;
}

void FileTypeTree::SetResults(const std::vector<FoundFileRecord>& results) {
  Clear();  // the old groups go before the new ones are made
  SetGroups(GroupByExtension(results));
}

void FileTypeTree::SetGroups(std::map<std::string, std::vector<FoundFileRecord>> grouped) {
  Clear();
  for (auto& [extension, records] : grouped) {
    if (records.empty()) continue;
    Group group;
    group.extension = QString::fromStdString(extension);
    // The group's extension after synonyms is in the same category as the
    // names it came from, so it decides the whole group.
    group.category = extension == "unknow" ? kOtherCategory
                                           : static_cast<int>(CategoryOfExtension(extension));
    group.records = std::make_shared<const std::vector<FoundFileRecord>>(std::move(records));
    groups_.push_back(std::move(group));
  }

  updating_ = true;
  const LanguageStore& language = LanguageStore::Instance();
  const Qt::ItemFlags checkable = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
  if (!groups_.empty()) {
    // One box that ticks everything found.
    size_t total = 0;
    for (const Group& group : groups_) total += group.records->size();
    allNode_ = new QTreeWidgetItem(tree_);
    allNode_->setText(0, QStringLiteral("%1 (%2)").arg(language.Text("Messages", "MSG1401")).arg(total));
    allNode_->setData(0, kNodeNameRole, QStringLiteral("NodeAll"));
    allNode_->setData(0, kGroupRole, -1);
    allNode_->setFlags(checkable);
    allNode_->setCheckState(0, Qt::Unchecked);
    allNode_->setExpanded(true);
  }
  for (int category = 0; category < 6; ++category) {
    bool any = false;
    for (const Group& group : groups_) any = any || group.category == category;
    if (!any) continue;
    auto* node = new QTreeWidgetItem(allNode_);
    node->setText(0, language.Text("Messages", kCategoryTextKeys[category]));
    node->setData(0, kNodeNameRole, QString::fromLatin1(kCategoryNodeNames[category]));
    node->setData(0, kGroupRole, -1);
    node->setFlags(checkable);
    node->setCheckState(0, Qt::Unchecked);
    node->setExpanded(true);
    categoryNodes_[category] = node;
  }
  groupNodes_.assign(groups_.size(), nullptr);
  for (size_t i = 0; i < groups_.size(); ++i) {
    const Group& group = groups_[i];
    auto* node = new QTreeWidgetItem(categoryNodes_[group.category]);
    node->setText(0, GroupLabel(group, language));
    node->setData(0, kGroupRole, static_cast<int>(i));
    const std::string type = group.extension == "unknow" ? "file" : group.extension.toStdString();
    node->setIcon(0, QIcon(QStringLiteral(":/skin/") + QString::fromStdString(FileIconPath(type, true))));
    node->setFlags(checkable | Qt::ItemNeverHasChildren);
    node->setCheckState(0, Qt::Unchecked);
    groupNodes_[i] = node;
  }
  updating_ = false;
}

void FileTypeTree::Retranslate() {
  const LanguageStore& language = LanguageStore::Instance();
  updating_ = true;
  for (int category = 0; category < 6; ++category) {
    if (categoryNodes_[category] != nullptr) {
      categoryNodes_[category]->setText(0, language.Text("Messages", kCategoryTextKeys[category]));
    }
  }
  for (size_t i = 0; i < groupNodes_.size() && i < groups_.size(); ++i) {
    if (groupNodes_[i] != nullptr) groupNodes_[i]->setText(0, GroupLabel(groups_[i], language));
  }
  updating_ = false;
}

QTreeWidgetItem* FileTypeTree::CategoryNode(int category) const {
  return category >= 0 && category < 6 ? categoryNodes_[category] : nullptr;
}

QTreeWidgetItem* FileTypeTree::FirstCategoryNode() const {
  for (QTreeWidgetItem* node : categoryNodes_) {
    if (node != nullptr) return node;
  }
  return nullptr;
}

std::vector<int> FileTypeTree::GroupsUnder(const QTreeWidgetItem* node) const {
  std::vector<int> groups;
  if (node == nullptr) return groups;
  if (const int own = GroupOf(node); own >= 0) {
    groups.push_back(own);
    return groups;
  }
  for (int i = 0; i < node->childCount(); ++i) {
    const std::vector<int> below = GroupsUnder(node->child(i));
    groups.insert(groups.end(), below.begin(), below.end());
  }
  return groups;
}

QTreeWidgetItem* FileTypeTree::GroupNode(int group) const {
  return group >= 0 && static_cast<size_t>(group) < groupNodes_.size() ? groupNodes_[group] : nullptr;
}

int FileTypeTree::GroupOf(const QTreeWidgetItem* node) {
  return node ? node->data(0, kGroupRole).toInt() : -1;
}

Qt::CheckState FileTypeTree::State(const QTreeWidgetItem* node) const {
  return node ? node->checkState(0) : Qt::Unchecked;
}

void FileTypeTree::SetState(QTreeWidgetItem* node, Qt::CheckState state) {
  const bool wasUpdating = updating_;
  updating_ = true;
  node->setCheckState(0, state);
  updating_ = wasUpdating;
}

void FileTypeTree::SetSubtree(QTreeWidgetItem* node, Qt::CheckState state) {
  SetState(node, state);
  for (int i = 0; i < node->childCount(); ++i) SetSubtree(node->child(i), state);
}

void FileTypeTree::RecomputeAncestors(QTreeWidgetItem* node) {
  for (QTreeWidgetItem* parent = node->parent(); parent != nullptr; parent = parent->parent()) {
    int checked = 0;
    bool partial = false;
    for (int i = 0; i < parent->childCount(); ++i) {
      const Qt::CheckState state = parent->child(i)->checkState(0);
      checked += state == Qt::Checked ? 1 : 0;
      partial = partial || state == Qt::PartiallyChecked;
    }
    Qt::CheckState state = Qt::Unchecked;
    if (checked == parent->childCount()) {
      state = Qt::Checked;
    } else if (checked > 0 || partial) {
      state = Qt::PartiallyChecked;
    }
    SetState(parent, state);
  }
}

void FileTypeTree::CheckNode(QTreeWidgetItem* node, bool checked) {
  if (node == nullptr) return;
  SetSubtree(node, checked ? Qt::Checked : Qt::Unchecked);
  RecomputeAncestors(node);
  emit GroupsCheckChanged(GroupsUnder(node), checked);
}

void FileTypeTree::ShowGroupState(int group, Qt::CheckState state) {
  QTreeWidgetItem* node = GroupNode(group);
  if (node == nullptr) return;
  SetState(node, state);
  RecomputeAncestors(node);
}

void FileTypeTree::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (updating_ || column != 0) return;
  // A click on a partly checked node checks it, as the box shows it next.
  CheckNode(item, item->checkState(0) != Qt::Unchecked);
}

void FileTypeTree::OnCurrentItemChanged(QTreeWidgetItem* current) {
  if (current != nullptr && !updating_) emit NodeChosen(current);
}

}  // namespace qm
