#include "app/preview_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_box.h"
#include "platform/errors.h"
#include "platform/user_folders.h"
#include "preview/byte_dump.h"
#include "preview/document_view.h"
#include "preview/picture_check.h"
#include "preview/preview_file_kind.h"
#include "preview/preview_layouts.h"
#include "results/categories.h"
#include "ui/skin_loader.h"

namespace qm {

CPreviewProcessWnd::CPreviewProcessWnd(PreviewState& state, QWidget* owner) : CProcessWnd(owner), state_(state) {}

std::unique_ptr<CPreviewProcessWnd> CPreviewProcessWnd::Create(PreviewState& state, QWidget* owner,
                                                               QString* error) {
  std::unique_ptr<CPreviewProcessWnd> window(new CPreviewProcessWnd(state, owner));
  QStringList controls = kPreviewProcessControls;
  controls.removeAll("CancelBtn");
  controls.removeAll("closebtn");
  if (!window->Build("UIPreviewProcessWnd", kPreviewProcessLayout, controls, "PreviewProcessWnd", QSize(450, 250),
                     {"CancelBtn", "closebtn"}, error)) {
    return nullptr;
  }
  CPreviewProcessWnd* self = window.get();
  QWidget* c = self->content_;
  auto* name = FindControlAs<QLabel>(c, "FileName");
  auto* stage = FindControlAs<QLabel>(c, "stage");
  self->percent_ = FindControlAs<QLabel>(c, "percent");
  self->progress_ = FindControlAs<QProgressBar>(c, "progress");
  if (!name || !stage || !self->percent_ || !self->progress_) {
    if (error != nullptr) *error = "The window layout \"xml/PreviewProcessWnd.ui\" has a control of the wrong kind.";
    return nullptr;
  }
  const QString fileName = QString::fromStdString(state.record.Name());
  name->setText(fileName);
  stage->setText(self->Message("MSG0902") + " " + fileName);
  self->percent_->setText(self->Message("MSG0901") + " 0%");
  self->progress_->setRange(0, 100);
  self->progress_->setValue(0);
  return window;
}

int CPreviewProcessWnd::OnProgress(void* user, int percent, int /*error*/) {
  auto* self = static_cast<CPreviewProcessWnd*>(user);
  return self->Report([self, percent] { self->figures_.percent = std::clamp(percent, 0, 100); });
}

void CPreviewProcessWnd::ShowFigures() {
  percent_->setText(QString("%1 %2%").arg(Message("MSG0901")).arg(figures_.percent));
  progress_->setValue(figures_.percent);
}

void CPreviewProcessWnd::Run() {
  PreviewState& s = state_;
  const std::string ext = ExtensionOf(s.record.Name());
  const FileCategory category = CategoryOfExtension(ext);
  s.isAudio = category == FileCategory::kAudio;
  s.isMedia = s.isAudio || category == FileCategory::kVideo;
  s.isDocument = PreviewConverterOf(ext) != PreviewConverter::kNone;
  s.isPdf = s.isDocument && ext == "pdf";
  s.ClearShown();
  s.error = 0;
  s.RemoveTemporaryFiles();

  int rc = err::kInvalidParameter;
  IFileRecoveryParse* engine = s.item ? s.item->Engine() : nullptr;
  if (engine != nullptr) {
    std::string outPath;
    QByteArray buffer(kPreviewBufferBytes, Qt::Uninitialized);
    uint32_t size = kPreviewBufferBytes;
    rc = engine->ExtractForPreview(s.record, outPath, reinterpret_cast<uint8_t*>(buffer.data()), &size, OnProgress,
                                   this);
    s.tempPath = outPath;
    if (rc == 0 && outPath.empty()) s.bytes = buffer.left(static_cast<qsizetype>(std::min(size, kPreviewBufferBytes)));
  }
  int result = kFinished;
  if (rc == kCancelCode) {
    result = kCancelled;
  } else if (rc != 0) {
    s.error = rc;
    result = kFailed;
  } else if (!Prepare()) {
    result = kCancelled;
  }
  // A cancel confirmed after the last report still wins: the user asked
  // to see nothing.
  if (result != kFailed && CancelRequested()) result = kCancelled;
  if (result != kFinished) {
    s.RemoveTemporaryFiles();
    s.ClearShown();
  }
  FinishWork([this, result] { CloseFromWorker(result); });
}

bool CPreviewProcessWnd::Prepare() {
  PreviewState& s = state_;
  using Shown = PreviewState::Shown;
  if (s.tempPath.empty()) {
    s.shown = Shown::kDump;
    return true;
  }
  const QString copy = QString::fromStdString(s.tempPath);
  if (s.isMedia) {
    s.shown = Shown::kMedia;
    return true;
  }
  if (s.isDocument) {
    const QString ext = "." + QString::fromStdString(ExtensionOf(s.record.Name()));
    std::unique_ptr<IDocumentView> converter = ChooseConverter(ext, ScanLogFolder(), stop_.get_token());
    if (converter) {
      QString text;
      const int rc = converter->Convert(s.tempPath, text);
      if (stop_.stop_requested()) return false;
      if (rc == 0 && s.isPdf) {
        s.picture = LoadPreviewPicture(QString::fromStdString((ScanLogFolder() / "tmp.jpg").string()));
        if (!s.picture.isNull()) {
          s.shown = Shown::kPicture;
          return true;
        }
      } else if (rc == 0) {
        s.text = std::move(text);
        s.shown = Shown::kText;
        return true;
      }
    }
    // A document no converter could read is shown by its first bytes.
    s.bytes = ReadFileHead(s.tempPath, kDumpFileBytes);
    s.shown = Shown::kDump;
    return true;
  }
  s.picture = LoadPreviewPicture(copy);
  s.pictureDamaged = s.picture.isNull();
  s.shown = Shown::kPicture;
  return true;
}

int StartPreview(PreviewState& state, const ScanItemPtr& item, const FoundFileRecord& record, QWidget* owner) {
  state.record = record;
  state.item = item;
  QString error;
  auto window = CPreviewProcessWnd::Create(state, owner, &error);
  if (!window) {
    CMessageBox::Show(CMessageBox::Error, owner, error);
    state.shown = PreviewState::Shown::kNothing;
    return CProcessWnd::kFailed;
  }
  return window->exec();
}

}  // namespace qm
