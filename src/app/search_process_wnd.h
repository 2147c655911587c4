// Sorts what the scans found into the file categories: each scanned item's
// engine lists its files that match the filter into the result list.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/process_wnd.h"
#include "app/scan_item.h"
#include "results/found_file_record.h"

class QLabel;
class QProgressBar;

namespace qm {

class CSearchProcessWnd final : public CProcessWnd {
  Q_OBJECT
 public:
  ~CSearchProcessWnd() override { StopWorker(); }

  // `filter` is the escaped category filter (BuildCategoryFilter); the
  // records are appended to `results`, which must outlive the window. Null when the layout cannot be loaded; `error` says why.
  static std::unique_ptr<CSearchProcessWnd> Create(ScanItems items, std::string filter,
                                                   std::vector<FoundFileRecord>* results, QWidget* owner,
                                                   QString* error = nullptr);

  // Also groups the records by extension on the worker, into `grouped`,
  // and then empties the result list: a million records are grouped
  // without stalling the window and kept once, not twice.
  void GroupInto(std::map<std::string, std::vector<FoundFileRecord>>* grouped) { grouped_ = grouped; }

  // After the window closed with kFailed: which scan log could not be read
  // whole, for the user. The records read before the failure are listed.
  QString FailureText() const { return failure_; }

 signals:
  // Emitted from the worker (queued to the owner) once it has gone through
  // its items or was cancelled; not for an empty list.
  void SortingFinished();

 private:
  struct Figures {
    QString stage;
    int percent = 0;
  };

  CSearchProcessWnd(ScanItems items, std::string filter, std::vector<FoundFileRecord>* results,
                    QWidget* owner);
  static int OnListProgress(void* user, int percent, int reserved);
  static QString ListingFailureText(const ScanItem& item, int error);
  void Run() override;
  void ShowFigures() override;
  QString CancelQuestion() const override { return Message("MSG1205"); }
  void AfterCancel() override { done(kCancelled); }

  ScanItems items_;
  std::string filter_;
  std::vector<FoundFileRecord>* results_;
  std::map<std::string, std::vector<FoundFileRecord>>* grouped_ = nullptr;
  QLabel* stage_ = nullptr;
  QLabel* percent_ = nullptr;
  QProgressBar* progress_ = nullptr;
  Figures figures_;  // under lock_
  QString failure_;  // written by the worker, read once it has ended
};

}  // namespace qm
