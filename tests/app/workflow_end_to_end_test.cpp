// A user's whole way through the window: what to look for, a disk image to
// look in, a deep scan, the results by category, and the photos recovered,
// byte for byte. Each page is saved as a screenshot when
// QUILLMARK_SCREENSHOTS names a folder.
#include <QAbstractButton>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/file_type_tree.h"
#include "app/main_wnd.h"
#include "app/result_browser.h"
#include "support/test_support.h"
#include "camera_photo.h"
#include "screenshots.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {


TEST(WorkflowEndToEnd, FromTheFirstPageToRecoveredPhotosOfADiskImage) {
  qm::test::TempDir folder;
  const std::vector<std::pair<std::string, std::string>> photos = {
      {"IMG_0001.JPG", CameraPhoto(1)}, {"Strand in Sopot.jpg", CameraPhoto(2)}, {"Geburtstag.jpg", CameraPhoto(3)}};
  qm::test::FatImageBuilder fat(folder / "card.img", 16, 32768);
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.MakeDir("DCIM/100CANON"));
  for (const auto& [name, bytes] : photos) ASSERT_TRUE(fat.AddFile("DCIM/100CANON/" + name, bytes));
  ASSERT_TRUE(fat.AddFile("notes.txt", "kept"));
  for (const auto& [name, bytes] : photos) ASSERT_TRUE(fat.Delete("DCIM/100CANON/" + name));

  MainWndServices services;
  services.enumerate = [] { return DiskSnapshot{}; };
  services.watchDevices = false;
  services.chooseImageToLoad = [&](QWidget*) { return QString::fromStdString((folder / "card.img").string()); };
  services.chooseRecoveryFolder = [&](QWidget*) { return QString::fromStdString((folder / "Recovered/").string()); };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  window->Disks()->WaitForRefresh();
  window->show();
  SaveShot(window.get(), "workflow-1-what");

  FindControlAs<QAbstractButton>(window->Layout(), "BtnDeepRecovery")->click();
  FindControlAs<QAbstractButton>(window->Layout(), "BtnLoadImage")->click();
  ASSERT_EQ(window->Disks()->View()->currentItem()->text(0), "card.img  QMTEST");  // with its label
  SaveShot(window.get(), "workflow-2-where");

  FindControlAs<QAbstractButton>(window->Layout(), "BtnScan")->click();
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  EXPECT_GE(window->ResultCount(), photos.size());
  FileTypeTree& tree = window->Browser()->TypeTree();
  QTreeWidgetItem* photoNode = tree.CategoryNode(0);
  ASSERT_NE(photoNode, nullptr);
  // The user ticks "Photos" and picks the first group to look at.
  photoNode->setCheckState(0, Qt::Checked);
  tree.Tree()->setCurrentItem(photoNode->child(0));
  EXPECT_EQ(window->Selection().Count(), photos.size());
  // The header's select-all box follows, and clears and ticks the group.
  auto* selectAll = FindControlAs<QCheckBox>(window->Layout(), "ChkAllListSel");
  ASSERT_NE(selectAll, nullptr);
  EXPECT_EQ(selectAll->checkState(), Qt::Checked);
  selectAll->click();
  EXPECT_EQ(window->Selection().Count(), 0u);
  EXPECT_EQ(photoNode->checkState(0), Qt::Unchecked);
  selectAll->click();
  EXPECT_EQ(window->Selection().Count(), photos.size());
  SaveShot(window.get(), "workflow-3-results");

  When(window.get(), [] { return QApplication::activeModalWidget() != nullptr; },
       [] {
         QWidget* progress = QApplication::activeModalWidget();
         When(progress, [progress] { return !FindControl(progress, "FinishBtn")->isHidden(); },
              [progress] {
                SaveShot(progress, "workflow-4-recovered");
                FindControlAs<QAbstractButton>(progress, "FinishBtn")->click();
              });
       });
  FindControlAs<QAbstractButton>(window->Layout(), "BtnRecover")->click();
  // A short name loses its first letter to the deletion ("!MG_0001.JPG"),
  // so the photos are matched by content.
  std::vector<std::string> recovered;
  for (const auto& entry : fs::directory_iterator(folder / "Recovered" / "photo")) {
    recovered.push_back(qm::test::ReadBytes(entry.path()));
  }
  EXPECT_EQ(recovered.size(), photos.size());
  for (const auto& [name, bytes] : photos) {
    EXPECT_NE(std::find(recovered.begin(), recovered.end(), bytes), recovered.end()) << name;
  }
  EXPECT_TRUE(fs::exists(folder / "Recovered" / "photo" / "Strand in Sopot.jpg"));
}

}  // namespace
}  // namespace qm::testing
