// Scans the chosen partitions and images one after another.
#pragma once

#include <memory>
#include <vector>

#include "app/process_wnd.h"
#include "app/scan_item.h"

class QLabel;
class QProgressBar;

namespace qm {

class CScanProcessWnd final : public CProcessWnd {
  Q_OBJECT
 public:
  ~CScanProcessWnd() override { StopWorker(); }

  enum Mode { kQuick = 0, kDeep = 1 };

  // Null when the layout cannot be loaded; `error` says why.
  static std::unique_ptr<CScanProcessWnd> Create(ScanItems items, int mode, QWidget* owner,
                                                 QString* error = nullptr);

  // Why the last item that could not be opened or scanned failed, for the
  // user; empty when none did.
  QString FailureText() const { return failure_; }
  // Its error code, 0 when none failed.
  int FailureCode() const { return failureCode_; }

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
  bool AskToResume();

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
};

}  // namespace qm
