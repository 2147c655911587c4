// Copies one found file out for its preview, behind a small progress
// window: into the ScanLog folder or into memory, then, still on the
// worker, turns it into what the preview shows (a decoded picture, a
// document's text, a dump), so the window that shows it never waits.
#pragma once

#include <QString>
#include <memory>
#include <stop_token>

#include "app/preview_state.h"
#include "app/process_wnd.h"

class QLabel;
class QProgressBar;

namespace qm {

class CPreviewProcessWnd final : public CProcessWnd {
  Q_OBJECT
 public:
  ~CPreviewProcessWnd() override {
    stop_.request_stop();
    StopWorker();
  }

  // Null when the layout cannot be loaded; `error` says why. The worker
  // fills `state`, which must outlive the window.
  static std::unique_ptr<CPreviewProcessWnd> Create(PreviewState& state, QWidget* owner, QString* error = nullptr);

 private:
  struct Figures {
    int percent = 0;
  };

  CPreviewProcessWnd(PreviewState& state, QWidget* owner);
  static int OnProgress(void* user, int percent, int error);
  void Run() override;
  // What the copy is shown as; false when a stop cut the conversion short.
  bool Prepare();
  void ShowFigures() override;
  QString CancelQuestion() const override { return Message("MSG0903"); }
  void OnCancelConfirmed() override { stop_.request_stop(); }

  PreviewState& state_;
  std::stop_source stop_;
  QLabel* percent_ = nullptr;
  QProgressBar* progress_ = nullptr;
  Figures figures_;  // under lock_
};

// Copies `record`, found by `item`'s engine, out for preview into `state`
// (the previous preview's files are deleted first). 1 when it is ready to
// show, 2 when the user cancelled, 3 when it could not be copied
// (`state.error` says why).
int StartPreview(PreviewState& state, const ScanItemPtr& item, const FoundFileRecord& record, QWidget* owner);

}  // namespace qm
