// Scans the chosen partitions and images one after another.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "app/process_wnd.h"
#include "app/scan_item.h"
#include "app/time_left.h"

class QLabel;
class QProgressBar;

namespace qm {

class CScanProcessWnd final : public CProcessWnd {
  Q_OBJECT
 public:
  ~CScanProcessWnd() override { StopWorker(); }

  // kWhole: a deep scan of every sector, also those the file system uses.
  enum Mode { kQuick = 0, kDeep = 1, kWhole = 2 };

  // Null when the layout cannot be loaded; `error` says why.
  static std::unique_ptr<CScanProcessWnd> Create(ScanItems items, int mode, QWidget* owner,
                                                 QString* error = nullptr);

  // Why the last item that could not be opened or scanned failed, for the
  // user; empty when none did.
  QString FailureText() const { return failure_; }
  // Its error code, 0 when none failed.
  int FailureCode() const { return failureCode_; }
  // The item that failed last; null when none did.
  ScanItemPtr FailedItem() const { return failedItem_; }
  // Whether the user stopped the scan, and how far it had got then.
  bool Stopped() const { return stopped_; }
  int StoppedAtPercent();
  // Answers the question whether to go on with an interrupted deep scan
  // before it is put: the user already chose to resume it.
  void AnswerResume(bool resume) { resume_ = resume; }

 signals:
  // Emitted from the worker (so queued to the owner) once it has gone
  // through its items, also after a cancel; not when an engine could not be
  // opened (the window then closes with kFailed).
  void ScanFinished();

 private:
  struct Figures {
    QString stage;
    int percent = 0;
    int64_t secondsLeft = -1;
    uint64_t done = 0;
    uint64_t total = 0;
    uint64_t found = 0;
  };

  CScanProcessWnd(ScanItems items, int mode, QWidget* owner);
  static int OnScanProgress(void* user, int step, int scale, int64_t secondsLeft, uint64_t done,
                            uint64_t total, uint64_t found, int reserved);
  void Run() override;
  void ShowFigures() override;
  QString CancelQuestion() const override { return Message("MSG0709"); }
  // The time the question was open says nothing about the pace.
  void AfterPause() override { timeLeft_.Reset(); }
  bool AskToResume();
  bool ShouldResume();

  ScanItems items_;
  int mode_;
  QLabel* stage_ = nullptr;
  QLabel* percent_ = nullptr;
  QLabel* time_ = nullptr;
  QLabel* sectors_ = nullptr;
  QLabel* totalFile_ = nullptr;
  QProgressBar* progress_ = nullptr;
  Figures figures_;   // under lock_
  QString failure_;      // written by the worker before it finishes
  int failureCode_ = 0;  // likewise
  ScanItemPtr failedItem_;  // likewise
  bool stopped_ = false;    // likewise
  std::optional<bool> resume_;
  TimeLeftEstimate timeLeft_;  // under lock_
};

}  // namespace qm
