// The preview window: one found file shown large, with stepping through the
// photos of the list it was opened from and recovering the shown file.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "app/preview_display.h"
#include "app/preview_state.h"
#include "app/scan_item.h"

class QLabel;

namespace qm {

// The list the window was opened from, as it is shown (sorted).
struct PreviewListing {
  std::function<int()> count;
  std::function<FoundFileRecord(int row)> at;
};

struct PreviewWndServices {
  // The scanned item whose engine found a record; null when it is gone.
  std::function<ScanItemPtr(const FoundFileRecord&)> itemFor;
  // Recovers one record: asks for the folder, checks it, runs the recovery.
  std::function<void(const FoundFileRecord&)> recover;
};

class CPreviewWnd final : public QDialog {
  Q_OBJECT
 public:
  // `state` holds the preview of the listing's `row`, already copied out.
  // Null when the layout cannot be loaded; `error` says why.
  static std::unique_ptr<CPreviewWnd> Create(PreviewState& state, PreviewListing listing, int row,
                                             PreviewWndServices services, QWidget* owner, QString* error = nullptr);
  ~CPreviewWnd() override;

  // Moves to the next (+1) or previous (-1) photo of the listing, wrapping
  // around; nothing changes when there is no other photo or the copy-out
  // is cancelled.
  void Step(int direction);
  int Row() const { return row_; }
  const PreviewState& State() const { return state_; }

 signals:
  // The preview of the current row is ready to show.
  void PreviewReady();

 private:
  CPreviewWnd(PreviewState& state, PreviewListing listing, int row, PreviewWndServices services, QWidget* owner);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void ShowCurrent();
  // The row of the record the window shows, found again if the row moved.
  int CurrentRow() const;

  PreviewState& state_;
  PreviewListing listing_;
  int row_ = 0;
  PreviewWndServices services_;
  QWidget* content_ = nullptr;
  QLabel* fileName_ = nullptr;
  QWidget* prevBar_ = nullptr;
  QWidget* nextBar_ = nullptr;
  PreviewTarget target_;
};

}  // namespace qm
