// The progress window's questions: no lock is held while one is open, and a
// worker waiting for an answer is let go when the window is torn down.
#include "app/process_wnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engines/file_recovery_parse.h"
#include "window_driver.h"

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

// A window whose worker runs `body`, over the scan window's layout.
class ProbeWnd final : public CProcessWnd {
 public:
  explicit ProbeWnd(std::function<void(ProbeWnd&)> body) : CProcessWnd(nullptr), body_(std::move(body)) {
    QString error;
    built_ = Build("UIProbeWnd", "ScanProcessWnd.ui", {}, "ScanWnd", QSize(450, 250), {"cancelbtn", "closebtn"},
                   &error);
    EXPECT_TRUE(built_) << error.toStdString();
  }
  ~ProbeWnd() override { StopWorker(); }

  using CProcessWnd::Ask;
  using CProcessWnd::CancelRequested;
  using CProcessWnd::Report;
  using CProcessWnd::StartWorker;
  using CProcessWnd::Store;
  bool built_ = false;

 private:
  void Run() override {
    body_(*this);
    FinishWork([this] { CloseFromWorker(kFinished); });
  }
  void ShowFigures() override {}
  QString CancelQuestion() const override { return "Stop?"; }

  std::function<void(ProbeWnd&)> body_;
};

// While the cancel question is open the worker's reports wait, but the
// lock stays free: another thread stores figures and reads the cancel flag
// without waiting for the user's answer.
TEST(ProcessWnd, TheCancelQuestionHoldsNoLock) {
  std::atomic<int> reports = 0;
  std::atomic<bool> stop = false;
  ProbeWnd window([&](ProbeWnd& self) {
    while (!stop && self.Report([] {}) == 0) {
      ++reports;
      std::this_thread::sleep_for(5ms);
    }
  });
  ASSERT_TRUE(window.built_);
  std::atomic<bool> stored = false;
  bool storedWhileOpen = false;
  int reportsWhileOpen = -1;
  std::thread other;
  When(&window, [&] { return reports >= 3; },
       [&] {
         AnswerNextBox(false, [&] {
           const int before = reports;
           other = std::thread([&] {
             window.Store([] {});
             window.CancelRequested();
             stored = true;
           });
           storedWhileOpen = QTest::qWaitFor([&] { return stored.load(); }, 1500);
           reportsWhileOpen = reports - before;
           stop = true;
         });
         Click(window.Content(), "cancelbtn");
       });
  EXPECT_EQ(window.exec(), CProcessWnd::kFinished);
  if (other.joinable()) other.join();
  EXPECT_TRUE(storedWhileOpen) << "storing waited for the user's answer";
  EXPECT_LE(reportsWhileOpen, 1) << "the worker went on reporting while asked whether to stop";
}

// Yes to the cancel question makes the waiting report return the cancel
// code; the window then waits for the worker and closes.
TEST(ProcessWnd, YesToTheCancelQuestionStopsTheWaitingReport) {
  std::atomic<int> reports = 0;
  int last = 0;
  ProbeWnd window([&](ProbeWnd& self) {
    for (int i = 0; i < 2000 && (last = self.Report([] {})) == 0; ++i) {
      ++reports;
      std::this_thread::sleep_for(5ms);
    }
  });
  ASSERT_TRUE(window.built_);
  When(&window, [&] { return reports >= 2; },
       [&] {
         AnswerNextBox(true);
         Click(window.Content(), "closebtn");
       });
  window.exec();
  EXPECT_TRUE(window.WorkerFinished());
  EXPECT_EQ(last, kCancelCode);
  EXPECT_TRUE(window.CancelRequested());
}

// A worker's own question is answered on the window's thread while the
// worker waits without the lock; a window torn down before anybody
// answered lets the worker go with the fallback instead of joining a
// thread that waits for it for ever.
TEST(ProcessWnd, AWorkersQuestionIsAnsweredOrWithdrawn) {
  for (const bool ok : {true, false}) {
    std::optional<bool> answer;
    ProbeWnd window([&](ProbeWnd& self) { answer = self.Ask("Go on?", !ok); });
    ASSERT_TRUE(window.built_);
    QString asked;
    AnswerNextBox(ok, [&] { window.Store([] {}); }, &asked);
    EXPECT_EQ(window.exec(), CProcessWnd::kFinished);
    EXPECT_EQ(asked, "Go on?");
    EXPECT_EQ(answer, ok);
  }

  std::atomic<bool> asking = false;
  std::optional<bool> answer;
  auto window = std::make_unique<ProbeWnd>([&](ProbeWnd& self) {
    asking = true;
    answer = self.Ask("Go on?", true);
  });
  ASSERT_TRUE(window->built_);
  // The worker runs, but the window's thread never gets back to its event
  // loop (as when the application quits meanwhile): nobody answers.
  window->StartWorker();
  while (!asking) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);
  QElapsedTimer clock;
  clock.start();
  window.reset();
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(answer, true);
  // The question posted to the window is gone with it.
  QCoreApplication::processEvents();
  EXPECT_EQ(OpenBox(), nullptr);
}

}  // namespace
}  // namespace qm::testing
