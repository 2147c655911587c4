// Choosing files by folder and keeping their folders, through the window,
// on a card with two folders that hold files of the same name: choosing a
// folder lists the files under it with their folder paths, ticking the
// folder ticks exactly those files (the type view follows), and recovering
// with the folder structure kept puts each file back under its own folder,
// byte for byte.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/file_list_model.h"
#include "app/file_type_tree.h"
#include "app/keep_folders_option.h"
#include "app/main_wnd.h"
#include "app/result_browser.h"
#include "app/result_folder_model.h"
#include "support/test_support.h"
#include "camera_photo.h"
#include "screenshots.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

// The choice is remembered between runs: it is put back for the tests
// that follow.
struct KeepFoldersRestored {
  ~KeepFoldersRestored() { SetKeepFolderStructure(false); }
};

// The row of `name` under `parent`, once its folder has been read.
QModelIndex RowNamed(QAbstractItemModel& model, const QModelIndex& parent, const QString& name) {
  QModelIndex found;
  (void)QTest::qWaitFor(
      [&] {
        if (model.canFetchMore(parent)) model.fetchMore(parent);
        for (int row = 0; row < model.rowCount(parent); ++row) {
          if (model.index(row, 0, parent).data().toString() == name) found = model.index(row, 0, parent);
        }
        return found.isValid();
      },
      5000);
  return found;
}

// (name, path) of each row the file list shows, in row order.
using Rows = std::vector<std::pair<std::string, std::string>>;
Rows ListedFiles(FileListModel& list) {
  Rows rows;
  for (int row = 0; row < list.rowCount(); ++row) {
    rows.emplace_back(list.index(row, FileListModel::kName).data().toString().toStdString(),
                      list.index(row, FileListModel::kPath).data().toString().toStdString());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}


Qt::CheckState CheckOf(const QModelIndex& index) { return index.data(Qt::CheckStateRole).value<Qt::CheckState>(); }

// A card with two folders holding a photo of the same name, and a third
// photo one folder deeper, all deleted, as a quick scan finds them; names
// too long for 8.3 keep their first letter.
struct Card {
  qm::test::TempDir folder;
  const std::string beach = CameraPhoto(1, 160, 120), cake = CameraPhoto(2, 160, 120),
                    candles = CameraPhoto(3, 160, 120);
  MainWndServices services;

  bool Build() {
    qm::test::FatImageBuilder fat(folder / "card.img", 16, 32768);
    if (!fat.Create() || !fat.MakeDir("Urlaub") || !fat.MakeDir("Geburtstag/Torte")) return false;
    const std::pair<const char*, std::string> files[] = {{"Urlaub/Foto Nummer 1.jpg", beach},
                                                         {"Geburtstag/Foto Nummer 1.jpg", cake},
                                                         {"Geburtstag/Torte/Foto Nummer 2.jpg", candles},
                                                         {"Notizen vom Tag.txt", "kept"}};
    for (const auto& [name, bytes] : files) {
      if (!fat.AddFile(name, bytes)) return false;
    }
    for (const auto& [name, bytes] : files) {
      if (!fat.Delete(name)) return false;
    }
    services.enumerate = [] { return DiskSnapshot{}; };
    services.watchDevices = false;
    services.chooseImageToLoad = [this](QWidget*) { return QString::fromStdString((folder / "card.img").string()); };
    services.chooseRecoveryFolder = [this](QWidget*) {
      return QString::fromStdString((folder / "Recovered").string());
    };
    return true;
  }

  // A window that has scanned the card and shows its results; null on failure.
  std::unique_ptr<CMainWnd> Scanned() {
    QString error;
    auto window = CMainWnd::Create(&error, services);
    if (!window) {
      ADD_FAILURE() << error.toStdString();
      return nullptr;
    }
    window->Disks()->WaitForRefresh();
    window->show();
    Click(window->Layout(), "BtnDeletedRecovery");
    Click(window->Layout(), "BtnLoadImage");
    Click(window->Layout(), "BtnScan");
    if (window->CurrentPage() != CMainWnd::Page::kResults) {
      ADD_FAILURE() << "the scan did not end on the results";
      return nullptr;
    }
    return window;
  }
};

// Clicks Recover and finishes the recovery window once it is done.
void RecoverChosen(CMainWnd& window) {
  When(&window, [] { return QApplication::activeModalWidget() != nullptr && OpenBox() == nullptr; }, [] {
    QWidget* progress = QApplication::activeModalWidget();
    When(progress, [progress] { return !FindControl(progress, "FinishBtn")->isHidden(); },
         [progress] { FindControlAs<QAbstractButton>(progress, "FinishBtn")->click(); });
  });
  Click(window.Layout(), "BtnRecover");
}

TEST(FolderChoice, AFolderListsAndTicksExactlyTheFilesUnderIt) {
  Card card;
  ASSERT_TRUE(card.Build());
  auto window = card.Scanned();
  ASSERT_TRUE(window);
  QWidget* layout = window->Layout();

  // The type view lists the first group; the folder view replaces it.
  FileListModel& list = window->Browser()->Model();
  FindControlAs<QTabWidget>(layout, "ResultViews")->setCurrentIndex(1);
  auto* folders = FindControlAs<QTreeView>(layout, "FolderTree");
  QAbstractItemModel* tree = folders->model();
  ASSERT_NE(tree, nullptr);
  const QModelIndex volume = RowNamed(*tree, {}, "card.img");
  ASSERT_TRUE(volume.isValid()) << "the whole volume has a row of its own";
  const QModelIndex birthday = RowNamed(*tree, volume, "Geburtstag");
  const QModelIndex holiday = RowNamed(*tree, volume, "Urlaub");
  ASSERT_TRUE(birthday.isValid() && holiday.isValid());

  // A folder lists the files of its whole subtree; its count is the rows
  // listed, and the whole volume counts every file.
  const struct {
    QModelIndex folder;
    Rows rows;
  } listings[] = {
      {birthday, {{"Foto Nummer 1.jpg", "/Geburtstag"}, {"Foto Nummer 2.jpg", "/Geburtstag/Torte"}}},
      {holiday, {{"Foto Nummer 1.jpg", "/Urlaub"}}},
      {volume,
       {{"Foto Nummer 1.jpg", "/Geburtstag"}, {"Foto Nummer 1.jpg", "/Urlaub"},
        {"Foto Nummer 2.jpg", "/Geburtstag/Torte"}, {"Notizen vom Tag.txt", "/"}}},
  };
  for (const auto& listing : listings) {
    const QString name = listing.folder.data().toString();
    folders->setCurrentIndex(listing.folder);
    EXPECT_EQ(ListedFiles(list), listing.rows) << name.toStdString();
    EXPECT_EQ(listing.folder.siblingAtColumn(ResultFolderModel::kSize).data().toInt(),
              static_cast<int>(listing.rows.size()))
        << name.toStdString();
  }
  EXPECT_EQ(tree->headerData(ResultFolderModel::kSize, Qt::Horizontal).toString(), "Files");

  // Ticking a folder chooses exactly its files; the volume and the photos'
  // category show that part of theirs is chosen.
  folders->setCurrentIndex(birthday);
  ASSERT_TRUE(tree->flags(birthday) & Qt::ItemIsUserCheckable);
  ASSERT_TRUE(tree->setData(birthday, Qt::Checked, Qt::CheckStateRole));
  std::vector<std::string> chosen;
  for (const FoundFileRecord& record : window->Selection().Records()) chosen.push_back(record.Name());
  std::sort(chosen.begin(), chosen.end());
  EXPECT_EQ(chosen, (std::vector<std::string>{"Foto Nummer 1.jpg", "Foto Nummer 2.jpg"}));
  EXPECT_EQ(CheckOf(birthday), Qt::Checked);
  EXPECT_EQ(CheckOf(volume), Qt::PartiallyChecked);
  EXPECT_EQ(CheckOf(list.index(0, FileListModel::kCheck)), Qt::Checked);
  QTreeWidgetItem* photos = window->Browser()->TypeTree().CategoryNode(0);
  ASSERT_NE(photos, nullptr);
  EXPECT_EQ(photos->checkState(0), Qt::PartiallyChecked);

  // A row cleared in the list leaves the folder partly ticked; the
  // holiday folder ticked besides makes every photo chosen.
  list.setData(list.index(0, FileListModel::kCheck), Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_EQ(CheckOf(birthday), Qt::PartiallyChecked);
  ASSERT_TRUE(tree->setData(birthday, Qt::Checked, Qt::CheckStateRole));
  ASSERT_TRUE(tree->setData(holiday, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(window->Selection().Count(), 3u);
  EXPECT_EQ(photos->checkState(0), Qt::Checked);
  SaveShot(window.get(), "by-folder-ticked");
}

TEST(FolderChoice, KeptFoldersHoldTheRecoveredFilesAndTheChoiceIsRemembered) {
  KeepFoldersRestored restore;
  SetKeepFolderStructure(false);
  Card card;
  ASSERT_TRUE(card.Build());
  auto window = card.Scanned();
  ASSERT_TRUE(window);
  QWidget* layout = window->Layout();

  // The photos, from the type view: the two of the same name are told
  // apart by their folders.
  FileTypeTree& types = window->Browser()->TypeTree();
  QTreeWidgetItem* photos = types.CategoryNode(0);
  ASSERT_NE(photos, nullptr);
  ASSERT_EQ(photos->childCount(), 1);
  types.Tree()->setCurrentItem(photos->child(0));
  EXPECT_EQ(ListedFiles(window->Browser()->Model()),
            (Rows{{"Foto Nummer 1.jpg", "/Geburtstag"},
                                                       {"Foto Nummer 1.jpg", "/Urlaub"},
                                                       {"Foto Nummer 2.jpg", "/Geburtstag/Torte"}}));
  photos->setCheckState(0, Qt::Checked);
  ASSERT_EQ(window->Selection().Count(), 3u);

  auto* keep = FindControlAs<QCheckBox>(layout, "ChkKeepFolders");
  ASSERT_NE(keep, nullptr);
  EXPECT_TRUE(keep->isVisible()) << "offered where the files are recovered";
  EXPECT_FALSE(keep->isChecked());
  keep->click();
  SaveShot(window.get(), "by-type-folder-paths-kept");
  RecoverChosen(*window);
  const fs::path out = card.folder / "Recovered";
  const struct {
    const char* path;
    const std::string* bytes;
  } expected[] = {{"Urlaub/Foto Nummer 1.jpg", &card.beach},
                  {"Geburtstag/Foto Nummer 1.jpg", &card.cake},
                  {"Geburtstag/Torte/Foto Nummer 2.jpg", &card.candles}};
  for (const auto& file : expected) {
    EXPECT_TRUE(fs::is_regular_file(out / file.path)) << file.path;
    if (fs::is_regular_file(out / file.path)) {
      EXPECT_EQ(qm::test::ReadBytes(out / file.path), *file.bytes) << file.path;
    }
  }
  EXPECT_FALSE(fs::exists(out / "photo")) << "no sorting by type when the folders are kept";

  // The next window starts with the choice made here; cleared, the files
  // are sorted by type again.
  window.reset();
  window = card.Scanned();
  ASSERT_TRUE(window);
  keep = FindControlAs<QCheckBox>(window->Layout(), "ChkKeepFolders");
  EXPECT_TRUE(keep->isChecked());
  keep->click();
  window->Browser()->TypeTree().CategoryNode(0)->setCheckState(0, Qt::Checked);
  fs::remove_all(out);
  RecoverChosen(*window);
  EXPECT_TRUE(fs::is_regular_file(out / "photo" / "Foto Nummer 2.jpg"));
  EXPECT_FALSE(fs::exists(out / "Urlaub"));
}

}  // namespace
}  // namespace qm::testing
