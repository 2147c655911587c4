#include "app/recover_process_wnd.h"

#include <QLabel>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "fake_engine.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<CRecoverProcessWnd> MakeWindow(FakeScanItem& item, size_t count, const fs::path& destination) {
  std::string message;
  item.Open(false, message);
  RecoverJob job;
  job.items = {Borrow(item)};
  for (size_t i = 0; i < count; ++i) job.records.push_back(item.Fake()->Record(i));
  job.destination = QString::fromStdString(destination.string());
  QString error;
  auto window = CRecoverProcessWnd::Create(std::move(job), nullptr, &error);
  EXPECT_TRUE(window) << error.toStdString();
  return window;
}

TEST(RecoverProcessWnd, AFailureIsListedFirstInRedAndCounted) {
  qm::test::TempDir destination;
  // Names already taken in the photo folder: the new file gets the next one.
  fs::create_directories(destination.path() / "photo");
  std::ofstream(destination.path() / "photo" / "IMG_0001.JPG") << "kept";
  std::ofstream(destination.path() / "photo" / "IMG_0001(1).JPG") << "kept";

  FakeScanItem item('E', LoadFakeScript("card_scan.json"), 1ms);
  auto window = MakeWindow(item, 4, destination.path());
  ASSERT_TRUE(window);
  When(window.get(), [&] { return !FindControl(window->Content(), "FinishBtn")->isHidden(); },
       [&] {
         Click(window->Content(), "DetailBtn");
         Click(window->Content(), "FinishBtn");
       });
  EXPECT_EQ(window->exec(), CProcessWnd::kFinished);

  const CRecoverProcessWnd::Counts counts = window->Tally();
  EXPECT_EQ(counts.processed, 4);
  EXPECT_EQ(counts.total, 4);
  EXPECT_EQ(counts.failed, 1);
  EXPECT_EQ(FindControlAs<QLabel>(window->Content(), "recovered")->text(),
            "Processed 4 of 4 files: 3 recovered, 1 failed. The first failure: Permission denied");
  EXPECT_TRUE(FindControl(window->Content(), "CancelBtn")->isHidden());

  auto* list = FindControlAs<QTreeWidget>(window->Content(), "DetailList");
  EXPECT_FALSE(list->isHidden());
  ASSERT_EQ(list->topLevelItemCount(), 4);
  QTreeWidgetItem* top = list->topLevelItem(0);
  EXPECT_TRUE(top->text(0).endsWith("audio/voice memo.mp3")) << top->text(0).toStdString();
  EXPECT_EQ(top->text(1), "Permission denied");
  EXPECT_EQ(top->foreground(0).color(), QColor(255, 0, 0));
  for (int row = 1; row < 4; ++row) {
    EXPECT_EQ(list->topLevelItem(row)->text(1), "Success");
    EXPECT_NE(list->topLevelItem(row)->foreground(0).color(), QColor(255, 0, 0));
  }
  EXPECT_TRUE(fs::exists(destination.path() / "photo" / "IMG_0001(2).JPG"));
  EXPECT_EQ(fs::file_size(destination.path() / "photo" / "IMG_0001.JPG"), 4u);
  EXPECT_EQ(fs::file_size(destination.path() / "photo" / "Holiday in Kraków.jpg"), 4096u);
  EXPECT_TRUE(fs::exists(destination.path() / "document" / "Договор.docx"));
  EXPECT_FALSE(fs::exists(destination.path() / "audio" / "voice memo.mp3"));
}

TEST(RecoverProcessWnd, DetailsGrowTheWindowAndShrinkItBack) {
  qm::test::TempDir destination;
  FakeScanItem item('E', LoadFakeScript("card_scan.json"), 0ms);
  auto window = MakeWindow(item, 1, destination.path());
  ASSERT_TRUE(window);
  const QSize initial = window->size();
  Click(window->Content(), "DetailBtn");
  EXPECT_EQ(window->size(), initial + QSize(150, 300));
  Click(window->Content(), "DetailBtn");
  EXPECT_EQ(window->size(), initial);
  EXPECT_TRUE(FindControl(window->Content(), "DetailList")->isHidden());
}

TEST(RecoverProcessWnd, CancellingStopsBeforeTheNextFileAndClosesWithCancelled) {
  qm::test::TempDir destination;
  FakeScanItem item('E', LoadFakeScript("card_scan.json"), 60ms);
  auto window = MakeWindow(item, 5, destination.path());
  ASSERT_TRUE(window);
  QString question;
  When(window.get(), [&] { return window->Tally().processed >= 1; },
       [&] {
         AnswerNextBox(true, {}, &question);
         Click(window->Content(), "CancelBtn");
       });
  EXPECT_EQ(window->exec(), CProcessWnd::kCancelled);
  EXPECT_EQ(question, LanguageStore::Instance().Text("Messages", "MSG1103"));
  EXPECT_LT(window->Tally().processed, 5);
  EXPECT_FALSE(fs::exists(destination.path() / "document" / "notes.txt"));
}

}  // namespace
}  // namespace qm::testing
