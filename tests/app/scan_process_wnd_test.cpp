#include "app/scan_process_wnd.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "app/language_store.h"
#include "app/session_scan_item.h"
#include "engines/deep/professional_recovery.h"
#include "platform/disk_table.h"
#include "results/scan_history.h"
#include "support/test_support.h"
#include "fake_engine.h"
#include "window_driver.h"

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

QString Text(CProcessWnd& window, const char* control) {
  return FindControlAs<QLabel>(window.Content(), control)->text();
}

std::unique_ptr<CScanProcessWnd> MakeWindow(ScanItems items, int mode, int* finishedSignals) {
  QString error;
  auto window = CScanProcessWnd::Create(std::move(items), mode, nullptr, &error);
  EXPECT_TRUE(window) << error.toStdString();
  if (window) {
    // A receiver on the UI thread: the worker's signal arrives queued.
    QObject::connect(window.get(), &CScanProcessWnd::ScanFinished, window.get(), [finishedSignals] { ++*finishedSignals; });
  }
  return window;
}

TEST(ScanProcessWnd, RunsToTheEndAndShowsTheLastFigures) {
  FakeScanItem item('E', LoadFakeScript("card_scan.json"), 2ms);
  int finished = 0;
  auto window = MakeWindow({Borrow(item)}, CScanProcessWnd::kQuick, &finished);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->exec(), CProcessWnd::kFinished);
  QCoreApplication::processEvents();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(item.Fake()->Accepted().size(), 11u);
  EXPECT_EQ(Text(*window, "stage"), "Scanning drive E:");
  EXPECT_EQ(Text(*window, "percent"), "Scanned: 100%");
  EXPECT_EQ(Text(*window, "time"), "Time left: 0 Sec");
  EXPECT_EQ(Text(*window, "sectors"), "Sectors: 4096 / 4096");
  EXPECT_EQ(Text(*window, "totalfile"), "Files found: 4");
  EXPECT_FALSE(FindControl(window->Content(), "sectors")->isHidden());
}

TEST(ScanProcessWnd, StageTextNamesThePartitionOrTheImage) {
  const struct {
    uint16_t key;
    QString image;
    const char* stage;
  } cases[] = {
      {'e', "", "Scanning drive e:"},
      {3, "", "Scanning partition 3"},
      {1001, "/home/ana/cards/card one.img", "Scanning image card one.img"},
  };
  for (const auto& c : cases) {
    FakeScanItem item(c.key, LoadFakeScript("card_scan.json"), 0ms, c.image);
    int finished = 0;
    auto window = MakeWindow({Borrow(item)}, CScanProcessWnd::kQuick, &finished);
    ASSERT_TRUE(window);
    window->exec();
    EXPECT_EQ(Text(*window, "stage"), c.stage);
  }
}

TEST(ScanProcessWnd, ZeroTotalHidesTheSectorAndFileLines) {
  FakeScript script;
  script.reports = {{0, -1, 0, 0, 0}, {50, -1, 0, 0, 0}, {100, 0, 0, 0, 0}};
  FakeScanItem item(2, script, 1ms);
  int finished = 0;
  auto window = MakeWindow({Borrow(item)}, CScanProcessWnd::kQuick, &finished);
  ASSERT_TRUE(window);
  window->exec();
  EXPECT_TRUE(FindControl(window->Content(), "sectors")->isHidden());
  EXPECT_TRUE(FindControl(window->Content(), "totalfile")->isHidden());
  EXPECT_EQ(Text(*window, "percent"), "Scanned: 100%");
}

TEST(ScanProcessWnd, AnsweringNoHoldsTheWorkerThenLetsItGoOnWhereItStood) {
  FakeScanItem item('F', LoadFakeScript("card_scan.json"), 15ms);
  int finished = 0;
  auto window = MakeWindow({Borrow(item)}, CScanProcessWnd::kQuick, &finished);
  ASSERT_TRUE(window);
  size_t whenAsked = 0, afterWaiting = 0;
  QString question;
  When(window.get(), [&] { return item.Fake() && item.Fake()->Accepted().size() >= 3; },
       [&] {
         AnswerNextBox(false,
                       [&] {
                         whenAsked = item.Fake()->Accepted().size();
                         QTest::qWait(200);
                         afterWaiting = item.Fake()->Accepted().size();
                       },
                       &question);
         Click(window->Content(), "cancelbtn");
       });
  EXPECT_EQ(window->exec(), CProcessWnd::kFinished);
  EXPECT_EQ(question.toStdString(), LanguageStore::Instance().Text("Messages", "MSG0709").toStdString());
  EXPECT_GE(whenAsked, 3u);
  // The worker stopped at its next report while the question was open.
  EXPECT_LE(afterWaiting, whenAsked + 1);
  const std::vector<int> expected = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  EXPECT_EQ(item.Fake()->Accepted(), expected);
  QCoreApplication::processEvents();
  EXPECT_EQ(finished, 1);
}

// The real chain: the deep engine reports through the scan session to the
// window, and stands still there while the stop question is open.
TEST(ScanProcessWnd, TheStopQuestionHoldsARealDeepScan) {
  qm::test::TempDir folder;
  const std::filesystem::path image = folder / "large card.img";
  qm::test::WriteBytes(image, "");
  std::filesystem::resize_file(image, uint64_t{16} << 30);  // sparse: read fast, but not at once
  DiskTable table({});
  SessionScanItem item(1001, image.string(), QString::fromStdString(image.string()), GetScanHistory(), table);
  int finished = 0;
  auto window = MakeWindow({Borrow(item)}, CScanProcessWnd::kDeep, &finished);
  ASSERT_TRUE(window);
  uint64_t whenAsked = 0, afterWaiting = 0, total = 0;
  When(window.get(), [&] { return !FindControl(window->Content(), "sectors")->isHidden(); },
       [&] {
         auto* deep = dynamic_cast<CProfessionalRecovery*>(item.Engine());
         ASSERT_NE(deep, nullptr);
         AnswerNextBox(true, [&] {
           // The block in hand when the question opened is finished first.
           whenAsked = deep->Position().totalDone;
           for (int i = 0; i < 40; ++i) {
             QTest::qWait(50);
             const uint64_t now = deep->Position().totalDone;
             if (now == whenAsked) break;
             whenAsked = now;
           }
           QTest::qWait(500);
           afterWaiting = deep->Position().totalDone;
         });
         Click(window->Content(), "cancelbtn");
       });
  EXPECT_EQ(window->exec(), CProcessWnd::kFinished);
  EXPECT_TRUE(window->Stopped());
  total = item.Volume() != nullptr ? item.Volume()->info.sectorsTotal : 0;
  EXPECT_GT(whenAsked, 0u);
  EXPECT_LT(whenAsked, total) << "the scan ended before it could be stopped";
  EXPECT_EQ(afterWaiting, whenAsked) << "the scan went on while the stop question was open";
}

TEST(ScanProcessWnd, CancellingTheFirstOfTwoNeverStartsTheSecondAndStillSignals) {
  FakeScanItem first('E', LoadFakeScript("card_scan.json"), 15ms);
  FakeScanItem second('G', LoadFakeScript("card_scan.json"), 15ms);
  int finished = 0;
  auto window = MakeWindow({Borrow(first), Borrow(second)}, CScanProcessWnd::kQuick, &finished);
  ASSERT_TRUE(window);
  When(window.get(), [&] { return first.Fake() && first.Fake()->Accepted().size() >= 2; },
       [&] {
         AnswerNextBox(true);
         Click(window->Content(), "closebtn");
       });
  // A cancelled scan still counts as finished: what was found is sorted.
  EXPECT_EQ(window->exec(), CProcessWnd::kFinished);
  EXPECT_TRUE(window->WorkerFinished());
  EXPECT_LT(first.Fake()->Accepted().size(), 11u);
  EXPECT_EQ(second.opens, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(finished, 1);
}

TEST(ScanProcessWnd, AVolumeThatCannotBeOpenedFailsTheWindowButNotTheOthers) {
  FakeScanItem broken(4, LoadFakeScript("card_scan.json"), 0ms);
  broken.openError = err::kAccessDenied;
  FakeScanItem good(5, LoadFakeScript("card_scan.json"), 0ms);
  int finished = 0;
  auto window = MakeWindow({Borrow(broken), Borrow(good)}, CScanProcessWnd::kQuick, &finished);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->exec(), CProcessWnd::kFailed);
  EXPECT_EQ(broken.Engine(), nullptr);
  EXPECT_EQ(good.Fake()->scans(), 1);
  EXPECT_FALSE(window->FailureText().isEmpty());
  QCoreApplication::processEvents();
  EXPECT_EQ(finished, 1);

  FakeScanItem alone(6, LoadFakeScript("card_scan.json"), 0ms);
  alone.openError = err::kAccessDenied;
  int none = 0;
  auto lone = MakeWindow({Borrow(alone)}, CScanProcessWnd::kQuick, &none);
  EXPECT_EQ(lone->exec(), CProcessWnd::kFailed);
  QCoreApplication::processEvents();
  EXPECT_EQ(none, 0);
}

TEST(ScanProcessWnd, DeepScanAsksWhetherToGoOnWithAnInterruptedScan) {
  for (const bool goOn : {true, false}) {
    FakeScanItem item('E', LoadFakeScript("card_scan.json"), 0ms);
    item.resumable = true;
    int finished = 0;
    auto window = MakeWindow({Borrow(item)}, CScanProcessWnd::kDeep, &finished);
    ASSERT_TRUE(window);
    QString question;
    QStringList buttons;
    AnswerNextBox(
        goOn,
        [&buttons] {
          for (const char* name : {"okbtn", "cancelbtn"}) buttons << FindControlAs<QAbstractButton>(OpenBox(), name)->text();
        },
        &question);
    EXPECT_EQ(window->exec(), CProcessWnd::kFinished);
    EXPECT_EQ(question, LanguageStore::Instance().Text("Messages", "MSG1206"));
    // The buttons say what they do, not OK and Cancel.
    EXPECT_EQ(buttons, QStringList({LanguageStore::Instance().Text("Messages", "MSG1321"),
                                    LanguageStore::Instance().Text("Messages", "MSG1322")}));
    EXPECT_EQ(item.afresh, !goOn);
  }
}

}  // namespace
}  // namespace qm::testing
