#include "app/recover_process_wnd.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <QUrl>
#include <exception>

#include "app/message_box.h"
#include "app/message_format.h"
#include "app/scan_item.h"
#include "engines/extraction/destination_names.h"
#include "app/error_words.h"
#include "platform/errors.h"
#include "session/tree_walk.h"
#include "ui/skin_loader.h"

namespace qm {

namespace {

const QColor kFailedRowColour(0xFF, 0x00, 0x00);

ScanItem* ItemWithKey(const ScanItems& items, uint16_t key) {
  for (const ScanItemPtr& item : items) {
    if (item->Key() == key) return item.get();
  }
  return nullptr;
}

}  // namespace

CRecoverProcessWnd::CRecoverProcessWnd(RecoverJob job, QWidget* owner)
    : CProcessWnd(owner), job_(std::move(job)) {}

std::unique_ptr<CRecoverProcessWnd> CRecoverProcessWnd::Create(RecoverJob job, QWidget* owner, QString* error) {
  std::unique_ptr<CRecoverProcessWnd> window(new CRecoverProcessWnd(std::move(job), owner));
  if (!window->Build("UIRecoverProcessWnd", "RecoverProcessWnd.ui",
                     {"current", "recovered", "percent", "progress", "OpenBtn", "FinishBtn", "DetailBtn",
                      "DetailList"},
                     "RecoverProcessWnd", QSize(500, 250), {"CancelBtn", "closebtn"}, error)) {
    return nullptr;
  }
  CRecoverProcessWnd* self = window.get();
  QWidget* c = self->content_;
  self->current_ = FindControlAs<QLabel>(c, "current");
  self->recovered_ = FindControlAs<QLabel>(c, "recovered");
  self->percent_ = FindControlAs<QLabel>(c, "percent");
  self->progress_ = FindControlAs<QProgressBar>(c, "progress");
  self->detailList_ = FindControlAs<QTreeWidget>(c, "DetailList");
  auto* open = FindControlAs<QAbstractButton>(c, "OpenBtn");
  auto* finish = FindControlAs<QAbstractButton>(c, "FinishBtn");
  auto* details = FindControlAs<QAbstractButton>(c, "DetailBtn");
  if (!self->current_ || !self->recovered_ || !self->percent_ || !self->progress_ || !self->detailList_ || !open ||
      !finish || !details) {
    if (error != nullptr) *error = "The window layout \"xml/RecoverProcessWnd.ui\" has a control of the wrong kind.";
    return nullptr;
  }
  self->finishBtn_ = finish;
  self->cancelBtn_ = FindControl(c, "CancelBtn");
  self->progress_->setRange(0, 100);
  self->detailList_->setColumnCount(2);
  self->detailList_->setTextElideMode(Qt::ElideMiddle);
  self->detailList_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  self->detailList_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  self->detailList_->header()->setStretchLastSection(false);
  self->detailList_->hide();
  finish->hide();
  connect(finish, &QAbstractButton::clicked, self, [self] { self->done(kFinished); });
  connect(details, &QAbstractButton::clicked, self, [self] { self->ToggleDetails(); });
  connect(open, &QAbstractButton::clicked, self, [self] { self->OpenDestination(); });

  self->figures_.counts.total = static_cast<int>(self->job_.records.size());
  self->percent_->setText(self->Message("MSG1101") + " 0%");
  self->recovered_->setText(FillMessage(self->Message("MSG1102"),
                                        {"0", QString::number(self->figures_.counts.total), "0", "0"}));
  self->initialSize_ = self->size();
  return window;
}

CRecoverProcessWnd::Counts CRecoverProcessWnd::Tally() {
  std::lock_guard guard(lock_);
  return figures_.counts;
}

void CRecoverProcessWnd::AddResult(const QString& path, int error) {
  // Under lock_.
  Row row{path, Message("MSG1104"), error != 0};
  if (error == err::kCrc) {
    row.status = Message("MSG1105");
  } else if (error != 0) {
    row.status = ErrorWords(error);
  }
  if (row.status.isEmpty()) row.status = error == 0 ? "Success" : QString("Error %1").arg(error);
  if (error != 0 && figures_.counts.failed++ == 0) figures_.firstFailure = row.status;
  ++figures_.counts.processed;
  figures_.newRows.push_back(std::move(row));
}

int CRecoverProcessWnd::OnFileProgress(void* user, int step, int scale, int error, const char* path) {
  auto* self = static_cast<CRecoverProcessWnd*>(user);
  return self->Report([&] {
    Figures& f = self->figures_;
    f.percent = static_cast<int>(static_cast<int64_t>(step) * scale / 100);
    f.current = QString::fromUtf8(path != nullptr ? path : "");
    if (f.percent >= 100) {
      self->AddResult(f.current, error);
      ++self->finishedOfCurrent_;
    }
  });
}

void CRecoverProcessWnd::Run() {
  const std::filesystem::path root = job_.destination.toStdString();
  const int baseSeparators = CountSeparators(job_.destination.toStdString());
  bool cancelled = false;
  for (const FoundFileRecord& record : job_.records) {
    std::string destination;
    try {
      ScanItem* item = ItemWithKey(job_.items, record.volumeLetter);
      IFileRecoveryParse* engine = item != nullptr ? item->Engine() : nullptr;
      if (job_.keepFolders && engine != nullptr) {
        // Each folder name is made one safe path component, so a name from
        // the disk cannot lead outside the chosen folder.
        destination =
            UniqueDestinationPath(root / session::SafeFolderPath(*engine, record) / SafeFileName(record.Name()))
                .string();
      } else {
        destination = CategoryDestination(root, record.Name()).string();
      }
      if (engine == nullptr) {
        Store([&] { AddResult(QString::fromStdString(destination), err::kNotReady); });
        continue;
      }
      if (engine->SetCallbacks(nullptr, &CRecoverProcessWnd::OnFileProgress, this, 100) != 0) break;
      finishedOfCurrent_ = 0;
      const int rc = engine->RecoverItem(record, destination, baseSeparators);
      engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
      if (rc == kCancelCode) {
        cancelled = true;
        break;
      }
      // A failure the engine met before it could report the file would
      // otherwise leave no trace and no count.
      if (rc != 0 && finishedOfCurrent_ == 0) {
        Store([&] { AddResult(QString::fromStdString(destination), rc); });
      }
    } catch (const std::exception& e) {
      Store([&] {
        AddResult(QString::fromStdString(destination.empty() ? record.Name() : destination), err::kInvalidParameter);
        figures_.newRows.back().status = QString::fromUtf8(e.what());
      });
    }
  }
  if (cancelled) {
    // The window closes itself once the question's answer has let it.
    FinishWork(nullptr);
    return;
  }
  FinishWork([this] {
    finishBtn_->show();
    cancelBtn_->hide();
  });
}

bool CRecoverProcessWnd::CloseWhenDone() {
  if (!finishBtn_->isVisible()) return false;
  done(kFinished);
  return true;
}

void CRecoverProcessWnd::ShowFigures() {
  Figures& f = figures_;
  progress_->setValue(f.percent);
  current_->setText(f.current);
  current_->setToolTip(f.current);
  percent_->setText(QString("%1 %2%").arg(Message("MSG1101")).arg(f.percent));
  recovered_->setText(SummaryText(f));
  for (Row& row : f.newRows) {
    auto* item = new QTreeWidgetItem({row.path, row.status});
    item->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    item->setTextAlignment(1, Qt::AlignCenter);
    item->setToolTip(0, row.path);
    if (row.failed) {
      // Failures go to the top, in red, where they are seen first.
      item->setForeground(0, kFailedRowColour);
      item->setForeground(1, kFailedRowColour);
      detailList_->insertTopLevelItem(0, item);
    } else {
      detailList_->addTopLevelItem(item);
    }
  }
  f.newRows.clear();
}

void CRecoverProcessWnd::ToggleDetails() {
  if (detailList_->isHidden()) {
    resize(size() + QSize(150, 300));
    detailList_->show();
  } else {
    detailList_->hide();
    resize(initialSize_);
  }
  if (QWidget* owner = parentWidget()) move(owner->frameGeometry().center() - rect().center());
}

QString CRecoverProcessWnd::SummaryText(const Figures& f) const {
  const QString counts = FillMessage(Message("MSG1102"),
                                     {QString::number(f.counts.processed), QString::number(f.counts.total),
                                      QString::number(f.counts.processed - f.counts.failed),
                                      QString::number(f.counts.failed)});
  // The reason is said where it is seen, not only in the details: most
  // often every file fails for the same one.
  if (f.firstFailure.isEmpty()) return counts;
  return FillMessage(Message("MSG1455"), {counts, f.firstFailure});
}

void CRecoverProcessWnd::OpenDestination() {
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(job_.destination))) return;
  CMessageBox::Show(CMessageBox::Information, this, FillMessage(Message("MSG1458"), {job_.destination}));
}

}  // namespace qm
