// Recovers the chosen files into the destination folder, each into the
// folder of its category or under the folders it was found in, and lists
// how each one went.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "app/process_wnd.h"
#include "app/scan_item.h"
#include "results/found_file_record.h"

class QLabel;
class QProgressBar;
class QTreeWidget;

namespace qm {

struct RecoverJob {
  ScanItems items;                       // the scanned items; records find theirs by key
  std::vector<FoundFileRecord> records;  // in the order of the selection
  QString destination;                   // folder chosen by the user
  bool keepFolders = false;              // under their found folders, not photo/ audio/ ...
};

class CRecoverProcessWnd final : public CProcessWnd {
  Q_OBJECT
 public:
  ~CRecoverProcessWnd() override { StopWorker(); }

  // Null when the layout cannot be loaded; `error` says why.
  static std::unique_ptr<CRecoverProcessWnd> Create(RecoverJob job, QWidget* owner, QString* error = nullptr);

  struct Counts {
    int processed = 0;
    int total = 0;
    int failed = 0;
  };
  Counts Tally();

 private:
  struct Row {
    QString path;
    QString status;
    bool failed = false;
  };
  struct Figures {
    QString current;
    int percent = 0;
    Counts counts;
    QString firstFailure;      // the reason of the first file that failed
    std::vector<Row> newRows;  // not yet shown
  };

  CRecoverProcessWnd(RecoverJob job, QWidget* owner);
  static int OnFileProgress(void* user, int step, int scale, int error, const char* path);
  void Run() override;
  void ShowFigures() override;
  QString CancelQuestion() const override { return Message("MSG1103"); }
  void AfterCancel() override { done(kCancelled); }
  bool CloseWhenDone() override;
  void AddResult(const QString& path, int error);
  void ToggleDetails();
  void OpenDestination();
  QString SummaryText(const Figures& figures) const;

  RecoverJob job_;
  QSize initialSize_;
  QLabel* current_ = nullptr;
  QLabel* recovered_ = nullptr;
  QLabel* percent_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QWidget* finishBtn_ = nullptr;
  QWidget* cancelBtn_ = nullptr;
  QTreeWidget* detailList_ = nullptr;
  Figures figures_;             // under lock_
  int finishedOfCurrent_ = 0;   // worker only: results reported for the record being recovered
};

}  // namespace qm
