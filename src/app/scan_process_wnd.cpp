#include "app/scan_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/formatting.h"
#include "app/local_format.h"
#include "app/message_box.h"
#include "app/message_format.h"
#include "app/scan_item.h"
#include "platform/errors.h"
#include "ui/skin_loader.h"

namespace qm {

CScanProcessWnd::CScanProcessWnd(ScanItems items, int mode, QWidget* owner)
    : CProcessWnd(owner), items_(std::move(items)), mode_(mode) {}

std::unique_ptr<CScanProcessWnd> CScanProcessWnd::Create(ScanItems items, int mode,
                                                         QWidget* owner, QString* error) {
  std::unique_ptr<CScanProcessWnd> window(new CScanProcessWnd(std::move(items), mode, owner));
  if (!window->Build("UIScanProcessWnd", "ScanProcessWnd.ui",
                     {"stage", "percent", "time", "progress", "sectors", "totalfile"}, "ScanWnd",
                     QSize(450, 250), {"cancelbtn", "closebtn"}, error)) {
    return nullptr;
  }
  QWidget* c = window->content_;
  window->stage_ = FindControlAs<QLabel>(c, "stage");
  window->percent_ = FindControlAs<QLabel>(c, "percent");
  window->time_ = FindControlAs<QLabel>(c, "time");
  window->sectors_ = FindControlAs<QLabel>(c, "sectors");
  window->totalFile_ = FindControlAs<QLabel>(c, "totalfile");
  window->progress_ = FindControlAs<QProgressBar>(c, "progress");
  if (!window->stage_ || !window->percent_ || !window->time_ || !window->sectors_ || !window->totalFile_ ||
      !window->progress_) {
    if (error != nullptr) *error = "The window layout \"xml/ScanProcessWnd.ui\" has a control of the wrong kind.";
    return nullptr;
  }
  window->progress_->setRange(0, 100);
  window->sectors_->hide();
  window->totalFile_->hide();
  window->percent_->setText(window->Message("MSG0704") + " 0%");
  window->time_->setText(window->Message("MSG0705"));
  if (!window->items_.empty()) {
    const ScanItem& first = *window->items_.front();
    window->figures_.stage = VolumeStageText(first.Key(), first.ImagePath(), window->Message("MSG0701"),
                                             window->Message("MSG0702"), window->Message("MSG0703"));
    window->stage_->setText(window->figures_.stage);
  }
  return window;
}

int CScanProcessWnd::OnScanProgress(void* user, int step, int scale, int64_t secondsLeft, uint64_t done,
                                    uint64_t total, uint64_t found, int) {
  auto* self = static_cast<CScanProcessWnd*>(user);
  return self->Report([&] {
    Figures& f = self->figures_;
    f.percent = static_cast<int>(static_cast<int64_t>(step) * scale / 100);
    // The engine's own estimate is an average since its pass began; with
    // the sectors counted, the pace of the last seconds says more.
    f.secondsLeft = total != 0 ? self->timeLeft_.Add(TimeLeftEstimate::Clock::now(), done, total) : secondsLeft;
    f.done = done;
    f.total = total;
    f.found = found;
  });
}

bool CScanProcessWnd::AskToResume() {
  // The window stays shown while the question is open: hiding a modal
  // window would end it. Going on is the answer when nobody is left to
  // give one, so an interrupted scan is never thrown away unasked.
  return Ask(Message("MSG1206"), true, Message("MSG1321"), Message("MSG1322"));
}

bool CScanProcessWnd::ShouldResume() { return resume_.has_value() ? *resume_ : AskToResume(); }

int CScanProcessWnd::StoppedAtPercent() {
  std::lock_guard guard(lock_);
  return figures_.percent;
}

void CScanProcessWnd::Run() {
  bool openFailed = false;
  bool anyScanned = false;
  for (const ScanItemPtr& item : items_) {
    if (CancelRequested()) {
      stopped_ = true;
      break;
    }
    const QString stage = VolumeStageText(item->Key(), item->ImagePath(), Message("MSG0701"),
                                          Message("MSG0702"), Message("MSG0703"));
    Store([&] {
      figures_ = Figures{stage};
      timeLeft_.Reset();
    });
    std::string message;
    const bool deep = mode_ != kQuick;
    const int opened = item->Open(deep, message);
    if (opened != 0 || item->Engine() == nullptr) {
      // The other volumes are still scanned; the window then closes with
      // kFailed so that the user hears of this one.
      item->Close();
      failure_ = QString::fromStdString(message);
      failureCode_ = opened != 0 ? opened : err::kNotReady;
      failedItem_ = item;
      openFailed = true;
      continue;
    }
    if (deep && item->CanResume() && !CancelRequested() && !ShouldResume()) item->StartAfresh();
    if (deep) item->SetWholeVolume(mode_ == kWhole);
    const int rc = item->Scan(&CScanProcessWnd::OnScanProgress, this, message);
    anyScanned = true;
    if (rc == kCancelCode) {
      stopped_ = true;
      break;
    }
    // A volume that failed does not keep the others from being scanned.
    if (rc != 0) {
      failure_ = QString::fromStdString(message);
      failureCode_ = rc;
      failedItem_ = item;
    }
  }
  if (anyScanned) emit ScanFinished();
  const int result = openFailed ? kFailed : kFinished;
  FinishWork([this, result] { CloseFromWorker(result); });
}

void CScanProcessWnd::ShowFigures() {
  const Figures& f = figures_;
  stage_->setText(f.stage);
  progress_->setValue(f.percent);
  percent_->setText(QString("%1 %2%").arg(Message("MSG0704")).arg(f.percent));
  time_->setText(f.secondsLeft == -1 ? Message("MSG0705")
                                     : Message("MSG0708") + LocalDuration(f.secondsLeft));
  const bool counted = f.total != 0;
  if (counted) {
    sectors_->setText(QString("%1 %2 / %3").arg(Message("MSG0706")).arg(f.done).arg(f.total));
    totalFile_->setText(QString("%1 %2").arg(Message("MSG0707")).arg(f.found));
  }
  sectors_->setVisible(counted);
  totalFile_->setVisible(counted);
}

}  // namespace qm
