// The way a user with a formatted camera card goes through the window, in
// English and in German: a quick scan finds nothing and offers the deep
// scan, which finds the photos in their folder; the folder is chosen in
// the folder view, ticked whole, and recovered with its folders kept, byte
// for byte. No step cuts a text off, and every step is saved as a
// screenshot when QUILLMARK_SCREENSHOTS names a folder; under a virtual
// display at twice the scale (walkthrough_under_xvfb.sh) this is the
// walk-through looked at before a release.
#include <QAbstractButton>
#include <algorithm>
#include <QApplication>
#include <QCheckBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <functional>
#include <map>
#include <gtest/gtest.h>

#include "app/keep_folders_option.h"
#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/file_list_model.h"
#include "app/result_browser.h"
#include "app/result_folder_model.h"
#include "support/test_support.h"
#include "camera_photo.h"
#include "layout_checks.h"
#include "screenshots.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

// The first row named `name` anywhere under `parent`, reading folders as
// the view does when they are opened (on a worker: their rows come later).
QModelIndex FindRowNow(QAbstractItemModel& model, const QModelIndex& parent, const QString& name, int depth) {
  if (depth > 8) return {};
  if (model.canFetchMore(parent)) model.fetchMore(parent);
  for (int row = 0; row < model.rowCount(parent); ++row) {
    const QModelIndex child = model.index(row, 0, parent);
    if (child.data().toString() == name) return child;
    if (const QModelIndex found = FindRowNow(model, child, name, depth + 1); found.isValid()) return found;
  }
  return {};
}

QModelIndex FindRow(QAbstractItemModel& model, const QString& name) {
  QModelIndex found;
  (void)QTest::qWaitFor([&] { return (found = FindRowNow(model, {}, name, 0)).isValid(); }, 10000);
  return found;
}

// Answers every message box with OK and writes down what it said.
class BoxLog {
 public:
  explicit BoxLog(QObject* context) : timer_(context) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (CMessageBox* box = OpenBox()) {
        said_ << FindControl(box, "message")->property("text").toString();
        FindControlAs<QAbstractButton>(box, "okbtn")->click();
      }
    });
    timer_.start(10);
  }
  QString Said() const { return said_.join("\n"); }

 private:
  QTimer timer_;
  QStringList said_;
};

// What the user sees at a step: kept as a screenshot, and no text cut off
// or button out of place in the main window.
void Look(QWidget* window, const QString& step) {
  SaveShot(window, step);
  QApplication::processEvents();
  EXPECT_EQ(CutTexts(window).join(" | ").toStdString(), "") << step.toStdString();
  EXPECT_EQ(MisplacedButtons(window).join(" | ").toStdString(), "") << step.toStdString();
}

struct LanguageRestored {
  ~LanguageRestored() { LanguageStore::Instance().SetLanguage("English"); }
};

class Walkthrough : public ::testing::TestWithParam<const char*> {};

TEST_P(Walkthrough, AFormattedCardFromNothingFoundToItsFolderRecovered) {
  for (const char* tool : {"mkfs.fat", "mcopy"}) {
    if (!qm::test::HaveTool(tool)) GTEST_SKIP() << tool << " is missing";
  }
  const QString language = GetParam();
  const QString shot = "walkthrough-" + language + "-";
  LanguageRestored restore;
  const struct KeepFoldersOff {
    ~KeepFoldersOff() { SetKeepFolderStructure(false); }
  } keepFoldersOff;

  // A camera's card: photos in DCIM/100CANON and a folder of the user's,
  // then formatted as the camera does it, which empties the root folder
  // and the allocation table and leaves the folders' clusters as they were.
  qm::test::TempDir folder;
  std::vector<std::pair<std::string, std::string>> photos;
  for (int i = 0; i < 6; ++i) photos.emplace_back("IMG_" + std::to_string(4301 + i) + ".JPG", CameraPhoto(10 + i));
  qm::test::FatImageBuilder fat(folder / "card.img", 16, 32768, 4, "CANON");
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.MakeDir("DCIM/100CANON"));
  ASSERT_TRUE(fat.MakeDir("Urlaub"));
  for (const auto& [name, bytes] : photos) ASSERT_TRUE(fat.AddFile("DCIM/100CANON/" + name, bytes));
  ASSERT_TRUE(fat.AddFile("Urlaub/Strand.jpg", CameraPhoto(30)));
  ASSERT_EQ(qm::test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.fat -F 16 -s 4 -n CANON " +
                          qm::test::Quote(fat.image().string()) + " >/dev/null"),
            0);

  MainWndServices services;
  services.enumerate = [] { return DiskSnapshot{}; };
  services.watchDevices = false;
  services.chooseImageToLoad = [&](QWidget*) { return QString::fromStdString(fat.image().string()); };
  services.chooseRecoveryFolder = [&](QWidget*) { return QString::fromStdString((folder / "Recovered").string()); };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  window->ChangeLanguage(language);
  window->Disks()->WaitForRefresh();
  window->show();
  BoxLog boxes(window.get());
  QWidget* layout = window->Layout();

  // The quick scan finds nothing on a formatted card and offers the deep
  // scan of the same card in its place.
  Click(layout, "BtnDeletedRecovery");
  Click(layout, "BtnLoadImage");
  Look(window.get(), shot + "1-card-loaded");
  EXPECT_FALSE(FindControl(layout, "ChkKeepFolders")->isVisibleTo(window.get())) << "there is nothing to recover yet";
  Click(layout, "BtnScan");
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults) << boxes.Said().toStdString();
  EXPECT_EQ(window->ResultCount(), 0u);
  auto* offer = FindControlAs<QAbstractButton>(layout, "BtnScan");
  ASSERT_TRUE(offer->isVisibleTo(window.get())) << "no way on from an empty quick scan";
  Look(window.get(), shot + "2-quick-scan-found-nothing");
  offer->click();
  ASSERT_EQ(window->Mode(), CMainWnd::kDeepScan);
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults) << boxes.Said().toStdString();
  EXPECT_GE(window->ResultCount(), photos.size()) << boxes.Said().toStdString();
  Look(window.get(), shot + "3-deep-scan-results");

  // By folder: the camera's folder lists its photos and is ticked whole.
  FindControlAs<QTabWidget>(layout, "ResultViews")->setCurrentIndex(1);
  auto* folders = FindControlAs<QTreeView>(layout, "FolderTree");
  ASSERT_NE(folders->model(), nullptr);
  // Short 8.3 names are shown in lower case.
  const QModelIndex camera = FindRow(*folders->model(), "100canon");
  ASSERT_TRUE(camera.isValid()) << "the camera's folder is found under its own name";
  folders->setCurrentIndex(camera);
  EXPECT_EQ(window->Browser()->Model().rowCount(), static_cast<int>(photos.size()));
  ASSERT_TRUE(folders->model()->setData(camera, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(window->Selection().Count(), photos.size());
  auto* keepFolders = FindControlAs<QCheckBox>(layout, "ChkKeepFolders");
  ASSERT_TRUE(keepFolders->isVisibleTo(window.get()));
  keepFolders->setChecked(true);
  Look(window.get(), shot + "4-folder-ticked-folders-kept");

  // Recovered under the folder they were found in, byte for byte.
  When(window.get(), [] { return QApplication::activeModalWidget() != nullptr && OpenBox() == nullptr; },
       [&shot] {
         QWidget* progress = QApplication::activeModalWidget();
         When(progress, [progress] { return !FindControl(progress, "FinishBtn")->isHidden(); },
              [progress, &shot] {
                SaveShot(progress, shot + "5-recovered");
                FindControlAs<QAbstractButton>(progress, "FinishBtn")->click();
              });
       });
  Click(layout, "BtnRecover");
  std::map<std::string, std::string> recovered;  // name -> folder it landed in
  for (const auto& entry : fs::recursive_directory_iterator(folder / "Recovered")) {
    if (!entry.is_regular_file()) continue;
    const std::string name = QString::fromStdString(entry.path().filename().string()).toUpper().toStdString();
    recovered[name] = entry.path().parent_path().filename().string();
    const auto photo = std::find_if(photos.begin(), photos.end(), [&](const auto& p) { return p.first == name; });
    if (photo != photos.end()) EXPECT_EQ(qm::test::ReadBytes(entry.path()), photo->second) << name << " differs";
  }
  EXPECT_EQ(recovered.size(), photos.size()) << boxes.Said().toStdString();
  for (const auto& [name, bytes] : photos) EXPECT_EQ(recovered[name], "100canon") << name;
  EXPECT_TRUE(boxes.Said().isEmpty()) << boxes.Said().toStdString();
}

INSTANTIATE_TEST_SUITE_P(InBothLanguages, Walkthrough, ::testing::Values("English", "German"));

}  // namespace
}  // namespace qm::testing
