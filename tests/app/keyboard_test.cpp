// The main window used from the keyboard alone.
#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/main_wnd.h"
#include "app/result_selection.h"
#include "one_volume_desk.h"
#include "window_driver.h"

namespace qm::testing {
namespace {

// The window shown and active, so that its shortcuts are live.
std::unique_ptr<CMainWnd> ShownWindow(OneVolumeDesk& desk) {
  auto window = desk.MakeWindow();
  if (!window) return nullptr;
  window->show();
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
  return window;
}

TEST(Keyboard, EnterOnASourceScansIt) {
  OneVolumeDesk desk;
  auto window = ShownWindow(desk);
  ASSERT_TRUE(window);
  Click(window->Layout(), "BtnStart");
  QTreeWidget* sources = window->Disks()->View();
  sources->setCurrentItem(sources->topLevelItem(0)->child(0));
  sources->setFocus();
  QTest::keyClick(sources, Qt::Key_Return);
  EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  EXPECT_GT(window->ResultCount(), 0u);
}

// Space ticks the current file and unticks it again, whichever column the
// cursor is in.
TEST(Keyboard, SpaceTicksTheCurrentFile) {
  OneVolumeDesk desk;
  auto window = ShownWindow(desk);
  ASSERT_TRUE(window);
  Click(window->Layout(), "BtnStart");
  QTreeWidget* sources = window->Disks()->View();
  sources->setCurrentItem(sources->topLevelItem(0)->child(0));
  Click(window->Layout(), "BtnScan");
  auto* list = FindControlAs<QTreeView>(window->Layout(), "FileList");
  ASSERT_NE(list, nullptr);
  ASSERT_GT(list->model()->rowCount(), 0);
  list->setFocus();
  struct Case {
    int column;
    size_t ticked;  // files ticked after the key
  };
  const Case cases[] = {{1, 1}, {2, 0}, {0, 1}, {3, 0}};
  for (const Case& c : cases) {
    list->setCurrentIndex(list->model()->index(0, c.column));
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(window->Selection().Records().size(), c.ticked) << "column " << c.column;
  }
}

TEST(Keyboard, CtrlQQuits) {
  OneVolumeDesk desk;
  auto window = ShownWindow(desk);
  ASSERT_TRUE(window);
  QSignalSpy quit(window.get(), &CMainWnd::QuitRequested);
  QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_EQ(quit.count(), 1);
}

}  // namespace
}  // namespace qm::testing
