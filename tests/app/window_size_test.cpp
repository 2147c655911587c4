// The main window on small screens: a 1366x768 laptop at 100 %, and a
// 1600x1000 screen at 200 %, where the window has 800x500 to itself. At its
// smallest the window must fit both, and no page may draw a control over
// another or cut a text to get there.
#include <QApplication>
#include <QLayout>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/language_store.h"
#include "app/main_wnd.h"
#include "fake_engine.h"
#include "layout_checks.h"
#include "window_driver.h"

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

constexpr QSize kSmallestScreen(800, 500);  // 1600x1000 at 200 %

MainWndServices OneDiskAndAnImage() {
  MainWndServices services;
  services.watchDevices = false;
  services.enumerate = [] {
    DiskSnapshot snapshot;
    snapshot.disks[0] = DiskRecord{0, "/dev/sda", "ATA Samsung SSD 870 EVO 1TB", 512, 1 << 21, false, false, {}, 0};
    VolumeRecord volume;
    volume.diskNumber = 0;
    volume.letter = 1;
    volume.devicePath = "/dev/sda1";
    volume.totalBytes = 1ull << 30;
    volume.fileSystemName = "ext4";
    volume.label = "Holiday photos 2026";
    volume.mountPoint = "/media/ana/Holiday photos 2026";
    snapshot.volumes = {volume};
    return snapshot;
  };
  services.volumeItems = [](const VolumeRecord& v) -> ScanItemPtr {
    return std::make_shared<FakeScanItem>(v.letter, FakeScript{}, 0ms);
  };
  services.imageItems = [](uint16_t tag, const QString& path) -> ScanItemPtr {
    return std::make_shared<FakeScanItem>(tag, FakeScript{}, 0ms, path);
  };
  return services;
}

TEST(WindowSize, TheSmallestMainWindowFitsASmallScreenWithEveryControlWhole) {
  struct Page {
    const char* control;  // clicked to reach the page; null for the first
    CMainWnd::Page page;
  };
  const Page pages[] = {{nullptr, CMainWnd::Page::kStart},
                        {"BtnDeletedRecovery", CMainWnd::Page::kDisks},
                        {"TabFileType", CMainWnd::Page::kFileTypes},
                        {"TabRecover", CMainWnd::Page::kResults}};
  for (const char* language : {"English", "German"}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(LanguageStore::Instance().SetLanguage(language));
    QString error;
    auto window = CMainWnd::Create(&error, OneDiskAndAnImage());
    ASSERT_TRUE(window) << error.toStdString();
    window->Disks()->WaitForRefresh();
    window->Disks()->AddImage("/home/ana/Pictures/backup of the camera card from the holiday.img");
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    const QSize least = window->minimumSize();
    EXPECT_LE(least.width(), kSmallestScreen.width()) << least.height();
    EXPECT_LE(least.height(), kSmallestScreen.height()) << least.width();
    // The window may not be made smaller than its controls need.
    EXPECT_TRUE(window->layout()->totalMinimumSize().boundedTo(least) == window->layout()->totalMinimumSize())
        << "the layout needs " << window->layout()->totalMinimumSize().width() << "x"
        << window->layout()->totalMinimumSize().height();
    window->resize(least);
    for (const Page& page : pages) {
      if (page.control != nullptr) Click(window->Layout(), page.control);
      // A layout that changes passes the request on to its parent's, one
      // posted event at a time.
      for (int round = 0; round < 8; ++round) QApplication::processEvents();
      ASSERT_EQ(window->CurrentPage(), page.page);
      SCOPED_TRACE(static_cast<int>(page.page));
      EXPECT_TRUE(window->size() == least) << window->width() << "x" << window->height();
      EXPECT_EQ(CutTexts(window.get()).join(" | ").toStdString(), "");
      EXPECT_EQ(MisplacedButtons(window.get()).join(" | ").toStdString(), "");
      EXPECT_FALSE(window->Disks()->View()->horizontalScrollBar()->isVisible()) << "the list of disks scrolls sideways";
      for (const char* name : {"TabScan", "TabRecover", "BtnAssist", "BtnStart", "BtnLoadImage", "BtnCreateImage", "BtnScan",
                               "BtnRecover"}) {
        auto* button = FindControlAs<QWidget>(window->Layout(), name);
        if (button->isVisibleTo(window.get())) EXPECT_TRUE(WhollyShown(button, window.get())) << name;
      }
    }
  }
  LanguageStore::Instance().SetLanguage("English");
}

}  // namespace
}  // namespace qm::testing
