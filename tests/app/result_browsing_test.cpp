// The result views driven the way the window drives them: rows checked in
// the list, nodes of the category tree, the select-all box and header
// clicks, over records built here.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/file_list_model.h"
#include "app/formatting.h"
#include "app/file_type_tree.h"
#include "app/language_store.h"
#include "app/result_browser.h"
#include "app/result_selection.h"
#include "platform/filetime.h"

namespace qm {
namespace {

FoundFileRecord MakeRecord(const std::string& name, uint64_t size, uint32_t index,
                           uint16_t volume = 'C', bool folder = false) {
  FoundFileRecord record{};
  record.volumeLetter = volume;
  record.engineKind = static_cast<uint32_t>(EngineKind::kFatQuick);
  record.isDirectory = folder ? 1 : 0;
  record.contentOk = kContentOk;
  record.recordIndex = index;
  record.fileSize = size;
  record.SetName(name);
  return record;
}

uint64_t Time(int year, int month, int day) {
  uint64_t fileTime = 0;
  EXPECT_TRUE(CivilToFileTime({year, month, day, 12, 0, 0}, fileTime));
  return fileTime;
}

// The window's result page, without the window.
struct BrowserPage {
  QTreeView list;
  QTreeWidget tree;
  QCheckBox selectAll;
  QLabel summary;
  QPushButton recover;
  ResultSelection selection;
  ResultBrowser browser{{&list, &tree, &selectAll, &summary, &recover}, selection};

  FileListModel& model() { return browser.Model(); }
  FileTypeTree& types() { return browser.TypeTree(); }
  int GroupIndex(const QString& extension) {
    const auto& groups = types().Groups();
    for (size_t i = 0; i < groups.size(); ++i) {
      if (groups[i].extension == extension) return static_cast<int>(i);
    }
    ADD_FAILURE() << "no group " << extension.toStdString();
    return -1;
  }
  void CheckRow(int row, bool checked) {
    model().setData(model().index(row, FileListModel::kCheck), checked ? Qt::Checked : Qt::Unchecked,
                    Qt::CheckStateRole);
  }
  Qt::CheckState RowState(int row) {
    return model().data(model().index(row, FileListModel::kCheck), Qt::CheckStateRole).value<Qt::CheckState>();
  }
  std::vector<std::string> RowNames() {
    std::vector<std::string> names;
    for (int row = 0; row < model().rowCount(); ++row) names.push_back(model().RecordAt(row).Name());
    return names;
  }
};

// Three photos in two groups (jpeg joins jpg), a song and a nameless file.
std::vector<FoundFileRecord> MixedResults() {
  return {MakeRecord("a.jpg", 1000, 1), MakeRecord("b.JPEG", 2000, 2), MakeRecord("c.png", 400, 3),
          MakeRecord("d.mp3", 5000, 4), MakeRecord("README", 24, 5)};
}

std::string Summary(uint64_t bytes, int count) {
  const QString size = QString::fromStdString(FormatSize(static_cast<int64_t>(bytes)));
  if (count == 1) return QString("Selected %1 in 1 file").arg(size).toStdString();
  return QString("Selected %1 in %2 files").arg(size).arg(count).toStdString();
}

TEST(ResultSelection, KeysSeparateVolumesAndEnginesAndKeepRecoveryOrder) {
  ResultSelection selection;
  FoundFileRecord onC = MakeRecord("same.txt", 10, 7, 'C');
  FoundFileRecord onD = MakeRecord("same.txt", 20, 7, 'D');
  FoundFileRecord carved = MakeRecord("same.txt", 40, 7, 'C');
  carved.engineKind = static_cast<uint32_t>(EngineKind::kCarving);
  FoundFileRecord earlier = MakeRecord("first.txt", 80, 2, 'D');

  EXPECT_EQ(ResultSelection::KeyOf(onD), (uint64_t{('D' << 16) | 1u} << 32) | 7u);
  EXPECT_EQ(selection.SummaryText(LanguageStore::Instance()).toStdString(), "No files selected.");
  for (const FoundFileRecord* record : {&onD, &onC, &carved, &earlier}) EXPECT_TRUE(selection.Add(*record));
  EXPECT_FALSE(selection.Add(onC)) << "the same record twice is one entry";
  EXPECT_EQ(selection.Count(), 4u);
  EXPECT_EQ(selection.TotalBytes(), 150u);
  EXPECT_EQ(selection.SummaryText(LanguageStore::Instance()).toStdString(), Summary(150, 4));

  std::vector<std::pair<uint16_t, uint32_t>> order;
  for (const auto& r : selection.Records()) order.emplace_back(uint16_t{r.volumeLetter}, uint32_t{r.engineKind});
  const std::vector<std::pair<uint16_t, uint32_t>> expected = {
      {'C', 1}, {'C', 4}, {'D', 1}, {'D', 1}};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(uint32_t{selection.Records()[2].recordIndex}, 2u);

  EXPECT_TRUE(selection.Remove(onD));
  EXPECT_FALSE(selection.Remove(onD));
  selection.RemoveAll({onC, carved, earlier});
  EXPECT_TRUE(selection.Empty());
  EXPECT_EQ(selection.TotalBytes(), 0u);
}

// A group's records are shared, not copied: they stay readable after the
// group's view lets go, and a group merged in twice counts once.
TEST(ResultSelection, SharedGroupsMergeInKeyOrderAndOutliveTheirViews) {
  ResultSelection selection;
  auto group = std::make_shared<std::vector<FoundFileRecord>>();
  for (uint32_t index : {5u, 1u, 3u}) group->push_back(MakeRecord("g" + std::to_string(index) + ".jpg", 100, index, 'E'));
  const FoundFileRecord single = MakeRecord("own.jpg", 7, 2, 'E');
  EXPECT_TRUE(selection.Add(single));
  selection.AddAll(ResultSelection::SharedRecords(group));
  selection.AddAll(ResultSelection::SharedRecords(group));
  EXPECT_FALSE(selection.Add((*group)[0], group));
  std::weak_ptr<std::vector<FoundFileRecord>> watched = group;
  group.reset();
  EXPECT_FALSE(watched.expired());
  std::vector<std::string> names;
  for (const FoundFileRecord& r : selection.Records()) names.push_back(r.Name());
  EXPECT_EQ(names, (std::vector<std::string>{"g1.jpg", "own.jpg", "g3.jpg", "g5.jpg"}));
  EXPECT_EQ(selection.TotalBytes(), 307u);
  selection.RemoveAll({MakeRecord("g1.jpg", 100, 1, 'E'), MakeRecord("g5.jpg", 100, 5, 'E')});
  EXPECT_EQ(selection.Count(), 2u);
  EXPECT_EQ(selection.TotalBytes(), 107u);
  selection.Clear();
  EXPECT_TRUE(watched.expired());
}

TEST(ResultBrowser, RowChecksTravelToSelectAllGroupAndCategory) {
  BrowserPage page;
  page.browser.ShowResults(MixedResults());
  const int jpg = page.GroupIndex("jpg");
  page.browser.ShowGroup(jpg);
  ASSERT_EQ(page.model().rowCount(), 2);
  QTreeWidgetItem* photos = page.types().CategoryNode(0);
  QTreeWidgetItem* jpgNode = page.types().GroupNode(jpg);
  EXPECT_FALSE(page.recover.isEnabled());

  page.CheckRow(0, true);
  EXPECT_EQ(page.selectAll.checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(jpgNode->checkState(0), Qt::PartiallyChecked);
  EXPECT_EQ(photos->checkState(0), Qt::PartiallyChecked);

  // The last unchecked row: box and group wholly checked, the category
  // partly (its png group is still clear).
  page.CheckRow(1, true);
  EXPECT_EQ(page.selectAll.checkState(), Qt::Checked);
  EXPECT_EQ(page.model().SelectAllState(), Qt::Checked);
  EXPECT_EQ(jpgNode->checkState(0), Qt::Checked);
  EXPECT_EQ(photos->checkState(0), Qt::PartiallyChecked);
  EXPECT_EQ(page.summary.text().toStdString(), Summary(3000, 2));
  EXPECT_TRUE(page.recover.isEnabled());

  page.CheckRow(0, false);
  EXPECT_EQ(page.selectAll.checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(jpgNode->checkState(0), Qt::PartiallyChecked);
  EXPECT_EQ(page.summary.text().toStdString(), Summary(2000, 1));

  // A click on the partly checked box chooses the whole group, a second
  // click drops it.
  page.selectAll.click();
  EXPECT_EQ(page.RowState(0), Qt::Checked);
  EXPECT_EQ(jpgNode->checkState(0), Qt::Checked);
  EXPECT_EQ(page.selection.Count(), 2u);
  page.selectAll.click();
  EXPECT_EQ(page.RowState(1), Qt::Unchecked);
  EXPECT_EQ(page.selectAll.checkState(), Qt::Unchecked);
  EXPECT_EQ(photos->checkState(0), Qt::Unchecked);
  EXPECT_EQ(page.summary.text().toStdString(), "No files selected.");
  EXPECT_FALSE(page.recover.isEnabled());

  // Showing a group again reads the marks from the selection.
  page.CheckRow(1, true);
  page.browser.ShowGroup(page.GroupIndex("png"));
  EXPECT_EQ(page.selectAll.checkState(), Qt::Unchecked);
  page.browser.ShowGroup(jpg);
  EXPECT_EQ(page.RowState(0), Qt::Unchecked);
  EXPECT_EQ(page.RowState(1), Qt::Checked);
  EXPECT_EQ(page.selectAll.checkState(), Qt::PartiallyChecked);
}

TEST(ResultBrowser, CategoryNodeSelectsGroupsNeverShown) {
  BrowserPage page;
  page.browser.ShowResults(MixedResults());
  page.browser.ShowGroup(page.GroupIndex("mp3"));

  // The user ticks the photo category: both photo groups, never shown.
  page.types().CategoryNode(0)->setCheckState(0, Qt::Checked);
  EXPECT_EQ(page.selection.Count(), 3u);
  EXPECT_EQ(page.summary.text().toStdString(), Summary(3400, 3));
  EXPECT_EQ(page.types().GroupNode(page.GroupIndex("png"))->checkState(0), Qt::Checked);
  EXPECT_EQ(page.selectAll.checkState(), Qt::Unchecked) << "the shown music group is untouched";

  page.browser.ShowGroup(page.GroupIndex("png"));
  EXPECT_EQ(page.RowState(0), Qt::Checked);
  EXPECT_EQ(page.selectAll.checkState(), Qt::Checked);

  // Clearing the category clears the rows on show as well.
  page.types().CategoryNode(0)->setCheckState(0, Qt::Unchecked);
  EXPECT_EQ(page.RowState(0), Qt::Unchecked);
  EXPECT_EQ(page.selectAll.checkState(), Qt::Unchecked);
  EXPECT_TRUE(page.selection.Empty());

  // A nameless file falls into "other files" as group "unknow".
  const int unknown = page.GroupIndex("unknow");
  EXPECT_EQ(page.types().Groups()[unknown].category, 5);
  EXPECT_EQ(page.types().GroupNode(unknown)->text(0).toStdString(), "UNKNOW Files (1)");
}

// A category (or everything found) chosen in the tree lists the files of
// all its groups; ticks made in that list, by the select-all box or on a
// node travel to every group they touch. The tree's first node ticks
// everything found.
TEST(ResultBrowser, ACategoryListsAllItsGroupsAndTheFirstNodeTicksEverything) {
  BrowserPage page;
  page.browser.ShowResults(MixedResults());
  QTreeWidget& tree = page.tree;
  QTreeWidgetItem* photos = page.types().CategoryNode(0);
  QTreeWidgetItem* jpg = page.types().GroupNode(page.GroupIndex("jpg"));
  QTreeWidgetItem* png = page.types().GroupNode(page.GroupIndex("png"));
  ASSERT_EQ(tree.topLevelItemCount(), 1) << "one node above the categories";
  QTreeWidgetItem* everything = tree.topLevelItem(0);
  EXPECT_EQ(photos->parent(), everything);

  tree.setCurrentItem(photos);  // as a click on the heading does
  ASSERT_EQ(page.model().rowCount(), 3);
  const auto rowOf = [&](const std::string& name) {
    const auto names = page.RowNames();
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
  };

  const struct {
    const char* step;
    std::function<void()> act;
    size_t chosen;
    Qt::CheckState box, photos, jpg, png, everything;
  } steps[] = {
      {"one png row", [&] { page.CheckRow(rowOf("c.png"), true); }, 1, Qt::PartiallyChecked,
       Qt::PartiallyChecked, Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked},
      {"one jpg row", [&] { page.CheckRow(rowOf("a.jpg"), true); }, 2, Qt::PartiallyChecked,
       Qt::PartiallyChecked, Qt::PartiallyChecked, Qt::Checked, Qt::PartiallyChecked},
      {"select-all box", [&] { page.selectAll.click(); }, 3, Qt::Checked, Qt::Checked, Qt::Checked,
       Qt::Checked, Qt::PartiallyChecked},
      {"jpg node off", [&] { jpg->setCheckState(0, Qt::Unchecked); }, 1, Qt::PartiallyChecked,
       Qt::PartiallyChecked, Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked},
      {"everything", [&] { everything->setCheckState(0, Qt::Checked); }, 5, Qt::Checked, Qt::Checked,
       Qt::Checked, Qt::Checked, Qt::Checked},
      {"nothing", [&] { everything->setCheckState(0, Qt::Unchecked); }, 0, Qt::Unchecked, Qt::Unchecked,
       Qt::Unchecked, Qt::Unchecked, Qt::Unchecked},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(page.selection.Count(), s.chosen) << s.step;
    EXPECT_EQ(page.selectAll.checkState(), s.box) << s.step;
    EXPECT_EQ(photos->checkState(0), s.photos) << s.step;
    EXPECT_EQ(jpg->checkState(0), s.jpg) << s.step;
    EXPECT_EQ(png->checkState(0), s.png) << s.step;
    EXPECT_EQ(everything->checkState(0), s.everything) << s.step;
    for (int row = 0; row < page.model().rowCount(); ++row) {
      EXPECT_EQ(page.RowState(row) == Qt::Checked, page.selection.Contains(page.model().RecordAt(row)))
          << s.step << " row " << row;
    }
  }

  tree.setCurrentItem(everything);
  EXPECT_EQ(page.model().rowCount(), 5);
}

TEST(FileTypeTree, GroupsGoUnderTheCategoryOfTheirWholeExtension) {
  QTreeWidget widget;
  FileTypeTree tree(&widget);
  tree.SetResults({MakeRecord("main.c", 1, 1), MakeRecord("notes.md", 1, 2), MakeRecord("sketch.p", 1, 3),
                   MakeRecord("song.rm", 1, 4), MakeRecord("db.mdb", 1, 5), MakeRecord("x.jpeg", 1, 6)});
  const std::map<std::string, int> expected = {{"c", 5},  {"md", 5},  {"p", 5},
                                               {"rm", 1}, {"mdb", 3}, {"jpg", 0}};
  std::map<std::string, int> got;
  for (const FileTypeTree::Group& group : tree.Groups()) got[group.extension.toStdString()] = group.category;
  EXPECT_EQ(got, expected);
  ASSERT_NE(tree.CategoryNode(5), nullptr);
  EXPECT_EQ(tree.CategoryNode(5)->childCount(), 3);
  EXPECT_EQ(tree.CategoryNode(5)->child(0)->text(0).toStdString(), "C Files (1)");
}

TEST(FileTypeTree, ChecksPropagateDownAndAncestorsAreRecomputed) {
  QTreeWidget widget;
  FileTypeTree tree(&widget);
  tree.SetResults({MakeRecord("a.jpg", 1, 1), MakeRecord("b.png", 1, 2), MakeRecord("c.gif", 1, 3),
                   MakeRecord("d.mp3", 1, 4)});
  std::vector<std::pair<std::vector<int>, bool>> reports;
  QObject::connect(&tree, &FileTypeTree::GroupsCheckChanged,
                   [&](const std::vector<int>& groups, bool checked) { reports.emplace_back(groups, checked); });
  // Groups are in extension order: gif 0, jpg 1, mp3 2, png 3.
  QTreeWidgetItem* photos = tree.CategoryNode(0);
  ASSERT_EQ(photos->childCount(), 3);
  EXPECT_EQ(tree.CategoryNode(2), nullptr) << "no videos, no video node";

  const struct {
    const char* step;
    QTreeWidgetItem* node;
    Qt::CheckState set;
    Qt::CheckState photos, gif, jpg, png;
  } steps[] = {
      {"one group", tree.GroupNode(1), Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked, Qt::Checked,
       Qt::Unchecked},
      {"category", photos, Qt::Checked, Qt::Checked, Qt::Checked, Qt::Checked, Qt::Checked},
      {"one group off", tree.GroupNode(3), Qt::Unchecked, Qt::PartiallyChecked, Qt::Checked,
       Qt::Checked, Qt::Unchecked},
      // A click on a partly checked category checks it whole.
      {"partial category", photos, Qt::Checked, Qt::Checked, Qt::Checked, Qt::Checked, Qt::Checked},
      {"category off", photos, Qt::Unchecked, Qt::Unchecked, Qt::Unchecked, Qt::Unchecked,
       Qt::Unchecked},
  };
  for (const auto& s : steps) {
    reports.clear();
    s.node->setCheckState(0, s.set);
    EXPECT_EQ(photos->checkState(0), s.photos) << s.step;
    EXPECT_EQ(tree.GroupNode(0)->checkState(0), s.gif) << s.step;
    EXPECT_EQ(tree.GroupNode(1)->checkState(0), s.jpg) << s.step;
    EXPECT_EQ(tree.GroupNode(3)->checkState(0), s.png) << s.step;
    EXPECT_EQ(tree.CategoryNode(1)->checkState(0), Qt::Unchecked) << s.step;
    ASSERT_EQ(reports.size(), 1u) << s.step << ": one report per user change";
    EXPECT_EQ(reports[0].second, s.set == Qt::Checked) << s.step;
    const std::vector<int> all = {0, 1, 3};
    if (s.node == photos) {
      EXPECT_EQ(reports[0].first, all) << s.step;
    }
  }

  // The list's marks come back without a report.
  reports.clear();
  tree.ShowGroupState(0, Qt::PartiallyChecked);
  EXPECT_EQ(photos->checkState(0), Qt::PartiallyChecked);
  tree.ShowGroupState(0, Qt::Unchecked);
  EXPECT_EQ(photos->checkState(0), Qt::Unchecked);
  EXPECT_TRUE(reports.empty());
}

TEST(ResultBrowser, HeaderClicksSortWithEachColumnsDirection) {
  BrowserPage page;
  std::vector<FoundFileRecord> records = {
      MakeRecord("mid.doc", 500, 1),      MakeRecord("folderA", 0, 2, 'C', true),
      MakeRecord("Big.doc", 9000, 3),     MakeRecord("", 700, 4),
      MakeRecord("small.doc", 10, 5),     MakeRecord("folderB", 0, 6, 'C', true),
  };
  records[0].writeTime = Time(2024, 10, 1);
  records[2].writeTime = Time(2024, 3, 7);
  records[4].writeTime = Time(2023, 12, 31);
  auto shared = std::make_shared<const std::vector<FoundFileRecord>>(records);
  page.model().SetRecords(shared);
  QHeaderView* header = page.list.header();

  const struct {
    int column;
    int direction;
    std::vector<std::string> names;
  } clicks[] = {
      // Largest first, folders after the files; then smallest first,
      // folders before them.
      {FileListModel::kSize, -1, {"Big.doc", "", "mid.doc", "small.doc", "folderA", "folderB"}},
      {FileListModel::kSize, 1, {"folderA", "folderB", "small.doc", "mid.doc", "", "Big.doc"}},
      // Without regard to case; the empty name first when ascending.
      {FileListModel::kName, 1, {"", "Big.doc", "folderA", "folderB", "mid.doc", "small.doc"}},
      {FileListModel::kName, -1, {"small.doc", "mid.doc", "folderB", "folderA", "Big.doc", ""}},
      // Times by date, not by text ("2024-10-1" is after "2024-3-7"); the
      // newest first on the first click, rows without a time last.
      {FileListModel::kModified, -1, {"mid.doc", "Big.doc", "small.doc", "folderB", "folderA", ""}},
      // Type: "doc" before "folder"; equal types keep their order.
      {FileListModel::kType, 1, {"mid.doc", "Big.doc", "small.doc", "", "folderB", "folderA"}},
  };
  for (const auto& click : clicks) {
    emit header->sectionClicked(click.column);
    EXPECT_EQ(page.model().Direction(click.column), click.direction) << click.column;
    EXPECT_EQ(page.RowNames(), click.names) << "column " << click.column;
  }
  // The path is the same on every row: a click keeps its direction and
  // the order.
  const auto before = page.RowNames();
  emit header->sectionClicked(FileListModel::kPath);
  EXPECT_EQ(page.model().Direction(FileListModel::kPath), 0);
  EXPECT_EQ(page.RowNames(), before);
}

TEST(FileListModel, RowTextsAndCheckSurviveSorting) {
  ResultSelection selection;
  FileListModel model(selection);
  FoundFileRecord file = MakeRecord("Photo.Final.JPG", 1536, 1);
  file.writeTime = Time(2024, 3, 7);
  const FoundFileRecord folder = MakeRecord("DCIM", 0, 2, 'C', true);
  const FoundFileRecord bare = MakeRecord("Makefile", 3, 3);
  model.SetRecords(std::make_shared<const std::vector<FoundFileRecord>>(
      std::vector<FoundFileRecord>{file, folder, bare}));

  const struct {
    int row;
    std::vector<std::string> texts;  // columns 1..6
  } rows[] = {
      {0, {"Photo.Final.JPG", "1.50 KB", "2024-3-7 12:00:00", "    ----    ", "    ----    ", "JPG"}},
      {1, {"DCIM", "", "    ----    ", "    ----    ", "    ----    ", "folder"}},
      {2, {"Makefile", "3 Bytes", "    ----    ", "    ----    ", "    ----    ", "file"}},
  };
  for (const auto& r : rows) {
    for (int column = 1; column < FileListModel::kColumnCount; ++column) {
      EXPECT_EQ(model.data(model.index(r.row, column), Qt::DisplayRole).toString().toStdString(),
                r.texts[column - 1])
          << "row " << r.row << " column " << column;
    }
  }
  EXPECT_FALSE(model.data(model.index(0, FileListModel::kName), Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(model.headerData(FileListModel::kModified, Qt::Horizontal, Qt::DisplayRole).toString(),
            "Modified Time");

  model.setData(model.index(0, FileListModel::kCheck), Qt::Checked, Qt::CheckStateRole);
  const QPersistentModelIndex current = model.index(0, FileListModel::kName);
  model.ClickHeader(FileListModel::kName);  // DCIM, Makefile, Photo...
  EXPECT_EQ(current.row(), 2) << "a view's current row follows its record";
  EXPECT_EQ(model.data(model.index(2, FileListModel::kCheck), Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(model.data(model.index(0, FileListModel::kCheck), Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(model.SelectAllState(), Qt::PartiallyChecked);
}

TEST(FileListModel, NamesSortByTheirWholeTextWithoutRegardToCase) {
  ResultSelection selection;
  FileListModel model(selection);
  // Long names tie on their first sixteen bytes; non-ASCII names differ
  // only in case and keep their order.
  const std::vector<std::string> names = {"Holiday_Photos_2024_b.jpg", "ärger.doc", "zebra",
                                          "holiday_photos_2", "ÄRGER.doc", "HOLIDAY_PHOTOS_2024_a.jpg",
                                          "apple"};
  std::vector<FoundFileRecord> records;
  for (size_t i = 0; i < names.size(); ++i) records.push_back(MakeRecord(names[i], 1, static_cast<uint32_t>(i + 1)));
  model.SetRecords(std::make_shared<const std::vector<FoundFileRecord>>(records));
  model.ClickHeader(FileListModel::kName);
  std::vector<std::string> shown;
  for (int row = 0; row < model.rowCount(); ++row) shown.push_back(model.RecordAt(row).Name());
  const std::vector<std::string> expected = {"apple", "holiday_photos_2", "HOLIDAY_PHOTOS_2024_a.jpg",
                                             "Holiday_Photos_2024_b.jpg", "zebra", "ärger.doc",
                                             "ÄRGER.doc"};
  EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace qm
