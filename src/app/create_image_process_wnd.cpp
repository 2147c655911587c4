#include "app/create_image_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/formatting.h"
#include "app/local_format.h"
#include "engines/file_recovery_parse.h"
#include "ui/skin_loader.h"

namespace qm {

CCreateImageProcessWnd::CCreateImageProcessWnd(ImageCopySource source, QString imagePath, QWidget* owner)
    : CProcessWnd(owner), source_(std::move(source)), imagePath_(std::move(imagePath)) {}

std::unique_ptr<CCreateImageProcessWnd> CCreateImageProcessWnd::Create(ImageCopySource source, QString imagePath,
                                                                       QWidget* owner, QString* error) {
  std::unique_ptr<CCreateImageProcessWnd> window(
      new CCreateImageProcessWnd(std::move(source), std::move(imagePath), owner));
  if (!window->Build("UIScanProcessWnd", "CreateImageProcessWnd.ui", {"stage", "percent", "time", "progress", "sectors"},
                     "CreateImageWnd", QSize(450, 250), {"cancelbtn", "closebtn"}, error)) {
    return nullptr;
  }
  QWidget* c = window->content_;
  auto* stage = FindControlAs<QLabel>(c, "stage");
  window->percent_ = FindControlAs<QLabel>(c, "percent");
  window->time_ = FindControlAs<QLabel>(c, "time");
  window->sectors_ = FindControlAs<QLabel>(c, "sectors");
  window->progress_ = FindControlAs<QProgressBar>(c, "progress");
  if (!stage || !window->percent_ || !window->time_ || !window->sectors_ || !window->progress_) {
    if (error != nullptr) *error = "The window layout \"xml/CreateImageProcessWnd.ui\" has a control of the wrong kind.";
    return nullptr;
  }
  const QString stageText = window->Message("MSG0302") + " " + window->imagePath_;
  stage->setText(stageText);
  stage->setToolTip(window->imagePath_);
  window->progress_->setRange(0, 100);
  window->percent_->setText(window->Message("MSG0301") + " 0%");
  window->time_->setText(window->Message("MSG0304"));
  window->sectors_->setText(window->Message("MSG0303"));
  return window;
}

int CCreateImageProcessWnd::OnCopyProgress(void* user, int percent, uint64_t doneSectors, uint64_t totalSectors,
                                           int64_t secondsLeft) {
  auto* self = static_cast<CCreateImageProcessWnd*>(user);
  return self->Report([&] { self->figures_ = Figures{percent, doneSectors, totalSectors, secondsLeft}; });
}

void CCreateImageProcessWnd::Run() {
  job_.sectorSize = source_.sectorSize;
  job_.progress = &CCreateImageProcessWnd::OnCopyProgress;
  job_.user = this;
  const std::filesystem::path image = imagePath_.toStdString();
  int rc = 0;
  if (source_.driveIndex >= 0) {
    rc = CopyDriveToFile(job_, DiskTable::System(), source_.driveIndex, source_.startSector,
                         source_.sectorCount, image, this);
  } else {
    rc = CopySourceToFile(job_, source_.sourcePath, source_.startSector, source_.sectorCount, image, this);
  }
  copyResult_ = rc;
  const int result = rc == kCancelCode ? kCancelled : (rc != 0 ? kFailed : kFinished);
  FinishWork([this, result] { CloseFromWorker(result); });
}

void CCreateImageProcessWnd::ShowFigures() {
  const Figures& f = figures_;
  percent_->setText(QString("%1 %2%").arg(Message("MSG0301")).arg(f.percent));
  progress_->setValue(f.percent);
  time_->setText(f.secondsLeft == -1 ? Message("MSG0304")
                                     : Message("MSG0305") + " " + LocalDuration(f.secondsLeft));
  sectors_->setText(QString("%1 %2 / %3").arg(Message("MSG0303")).arg(f.done).arg(f.total));
}

}  // namespace qm
