// The main window's preview: choosing a file in the list copies it out and
// shows it in the pane below the list; a double click on the pane opens
// the preview window, which steps through the photos of the same list.
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QSettings>
#include <QSplitter>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidgetItem>

#include "app/file_list_model.h"
#include "app/message_format.h"
#include "app/result_folder_model.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/preview_process_wnd.h"
#include "app/preview_wnd.h"
#include "app/result_browser.h"
#include "preview/media_player.h"
#include "app/user_settings.h"

namespace qm {

namespace {

constexpr const char* kSplitterKey = "Results/ListAndPreview";

}  // namespace

void CMainWnd::SetUpPreview() {
  preview_.edit = ui_.previewEdit;
  // The list and the preview share the column. The list gets the larger
  // part, so that a dozen names can be compared; both grow with the window,
  // and where the user leaves the divider is where the next window has it.
  if (QSplitter* split = ui_.resultSplitter) {
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({3000, 2000});
    const QByteArray kept = UserSettings().value(kSplitterKey).toByteArray();
    if (!kept.isEmpty()) split->restoreState(kept);
    connect(split, &QSplitter::splitterMoved, this,
            [split] { UserSettings().setValue(kSplitterKey, split->saveState()); });
  }
  preview_.edit->viewport()->installEventFilter(this);
  // A picture is fitted to the pane when shown; it is fitted again when the
  // pane grows or shrinks with the window or the divider.
  KeepPictureFitted(preview_.edit, [this]() -> const QImage* {
    const bool picture = previewShown_ && previewWindow_ == nullptr &&
                         previewState_.shown == PreviewState::Shown::kPicture && !previewState_.picture.isNull();
    return picture ? &previewState_.picture : nullptr;
  });

  QTreeView* list = ui_.fileList;
  // A click previews the row, unless it was on the row's check box; the
  // arrow keys preview the row they move to.
  connect(list, &QTreeView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid() && index.column() != FileListModel::kCheck) PreviewRow(index.row());
  });
  connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this, list](const QModelIndex& current) {
            if (current.isValid() && list->hasFocus() && QApplication::mouseButtons() == Qt::NoButton) {
              PreviewRow(current.row());
            }
          });
  // A node of the category tree is a kind of file, not a folder: the pane
  // says what the list now holds.
  connect(browser_, &ResultBrowser::NodeShown, this, [this](QTreeWidgetItem* node) {
    EndPreview();
    const QString kind = node->text(0).section(QStringLiteral(" ("), 0, 0);  // without its count
    ShowPreviewNote(preview_, FillMessage(Message("MSG1402"),
                                          {kind, QString::number(browser_->Model().rowCount())}));
  });
  // The folder view previews what is clicked in it the same way.
  connect(ui_.folderTree, &QTreeView::clicked, this, [this](const QModelIndex& index) {
    if (folderModel_ == nullptr) return;
    if (const FoundFileRecord* record = folderModel_->RecordAt(index)) PreviewRecord(*record);
  });
}

void CMainWnd::ShowPreviewInPane() {
  if (previewState_.shown == PreviewState::Shown::kMedia && preview_.player == nullptr) {
    preview_.player = AddPlayerBeside(preview_.edit);
    connect(preview_.player, &MediaPlayer::PlaybackFailed, this, [this] {
      ClearPreview(preview_);
      CMessageBox::Show(CMessageBox::Information, this, Message("MSG1207"));
    });
  }
  ShowPreview(previewState_, preview_);
}

void CMainWnd::PreviewRow(int row) {
  FileListModel& model = browser_->Model();
  if (row < 0 || row >= model.rowCount()) return;
  PreviewRecord(model.RecordAt(row));
}

void CMainWnd::PreviewRecord(const FoundFileRecord& record) {
  if (previewShown_ && SameFoundFile(previewState_.record, record)) return;
  if (record.isDirectory != 0) {
    ShowPreviewNote(preview_, Message("MSG0904"));
    previewShown_ = false;
    return;
  }
  // The player lets go of the last media copy before it is replaced.
  ClearPreview(preview_);
  previewShown_ = false;
  const int result = StartPreview(previewState_, ItemFor(record), record, this);
  if (result == CProcessWnd::kCancelled) return;
  ShowPreviewInPane();
  previewShown_ = result == CProcessWnd::kFinished;
}

ScanItemPtr CMainWnd::ItemFor(const FoundFileRecord& record) const {
  for (const ScanItemPtr& item : disks_->ScannedItems()) {
    if (item->Key() == record.volumeLetter) return item;
  }
  return nullptr;
}

void CMainWnd::OpenPreviewWindow() {
  if (!previewShown_) return;
  FileListModel& model = browser_->Model();
  int row = -1;
  for (int i = 0; i < model.rowCount() && row < 0; ++i) {
    if (SameFoundFile(previewState_.record, model.RecordAt(i))) row = i;
  }
  PreviewListing listing{[&model] { return model.rowCount(); }, [&model](int i) { return model.RecordAt(i); }};
  if (row < 0) {
    // Shown from the folder view: there is no list to step through.
    const FoundFileRecord shown = previewState_.record;
    listing = {[] { return 1; }, [shown](int) { return shown; }};
  }
  PreviewWndServices services{[this](const FoundFileRecord& record) { return ItemFor(record); },
                              [this](const FoundFileRecord& record) { Recover({record}, previewWindow_); }};
  QString error;
  std::unique_ptr<CPreviewWnd> window =
      CPreviewWnd::Create(previewState_, std::move(listing), std::max(row, 0), std::move(services), this, &error);
  if (!window) {
    CMessageBox::Show(CMessageBox::Error, this, error);
    return;
  }
  ClearPreview(preview_);
  previewWindow_ = window.get();
  window->exec();
  previewWindow_ = nullptr;
  window.reset();
  // The pane shows what the window showed last.
  ShowPreviewInPane();
  previewShown_ = previewState_.shown != PreviewState::Shown::kNothing;
}

void CMainWnd::EndPreview() {
  if (preview_.edit == nullptr) return;
  ClearPreview(preview_);
  previewState_.RemoveTemporaryFiles();
  previewState_ = PreviewState{};
  previewShown_ = false;
}

}  // namespace qm
