#include "app/search_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/error_words.h"
#include "app/language_store.h"
#include "app/message_format.h"
#include "app/scan_item.h"
#include "platform/errors.h"
#include "results/categories.h"
#include "ui/skin_loader.h"

namespace qm {

CSearchProcessWnd::CSearchProcessWnd(ScanItems items, std::string filter,
                                     std::vector<FoundFileRecord>* results, QWidget* owner)
    : CProcessWnd(owner), items_(std::move(items)), filter_(std::move(filter)), results_(results) {}

std::unique_ptr<CSearchProcessWnd> CSearchProcessWnd::Create(ScanItems items, std::string filter,
                                                             std::vector<FoundFileRecord>* results,
                                                             QWidget* owner, QString* error) {
  std::unique_ptr<CSearchProcessWnd> window(
      new CSearchProcessWnd(std::move(items), std::move(filter), results, owner));
  if (!window->Build("UISearchProcessWnd", "SearchProcessWnd.ui", {"stage", "percent", "progress"},
                     "SearchProcessWnd", QSize(450, 220), {"cancelbtn", "closebtn"}, error)) {
    return nullptr;
  }
  QWidget* c = window->content_;
  window->stage_ = FindControlAs<QLabel>(c, "stage");
  window->percent_ = FindControlAs<QLabel>(c, "percent");
  window->progress_ = FindControlAs<QProgressBar>(c, "progress");
  if (!window->stage_ || !window->percent_ || !window->progress_) {
    if (error != nullptr) *error = "The window layout \"xml/SearchProcessWnd.ui\" has a control of the wrong kind.";
    return nullptr;
  }
  window->progress_->setRange(0, 100);
  window->percent_->setText(window->Message("MSG1204") + " 0%");
  return window;
}

int CSearchProcessWnd::OnListProgress(void* user, int percent, int) {
  auto* self = static_cast<CSearchProcessWnd*>(user);
  return self->Report([&] { self->figures_.percent = percent; });
}

void CSearchProcessWnd::Run() {
  if (items_.empty()) {
    FinishWork([this] { CloseFromWorker(kFinished); });
    return;
  }
  for (const ScanItemPtr& item : items_) {
    if (CancelRequested()) break;
    IFileRecoveryParse* engine = item->Engine();
    // An item whose scan could not start has nothing to sort; the others
    // still have.
    if (engine == nullptr) continue;
    const QString stage = VolumeStageText(item->Key(), item->ImagePath(), Message("MSG1201"),
                                          Message("MSG1202"), Message("MSG1203"));
    Store([&] { figures_ = Figures{stage, 0}; });
    engine->SetListProgress(&CSearchProcessWnd::OnListProgress, this);
    const int rc = engine->ListByCategory(filter_, *results_);
    engine->SetListProgress(nullptr, nullptr);
    if (rc == kCancelCode) break;
    // What was read is still shown; the window then closes with kFailed so
    // that the user hears the list is not whole.
    if (ListingFailed(rc)) failure_ = ListingFailureText(*item, rc);
  }
  if (grouped_ != nullptr) {
    *grouped_ = GroupByExtension(*results_);
    std::vector<FoundFileRecord>().swap(*results_);
  }
  emit SortingFinished();
  // After a confirmed cancel the window closes itself with kCancelled.
  FinishWork([this] {
    if (!CancelRequested()) CloseFromWorker(failure_.isEmpty() ? kFinished : kFailed);
  });
}

QString CSearchProcessWnd::ListingFailureText(const ScanItem& item, int error) {
  // Where the source and the log are, when known, follows the reason, so
  // that the text reads the same in every language.
  QString text = FillMessage(LanguageStore::Instance().Text("Messages", "MSG1511"), {ErrorWords(error)});
  for (const std::string& place : {item.SourcePath(), item.ScanFolder()}) {
    if (!place.empty()) text += "\n" + QString::fromStdString(place);
  }
  return text;
}

void CSearchProcessWnd::ShowFigures() {
  stage_->setText(figures_.stage);
  percent_->setText(QString("%1 %2%").arg(Message("MSG1204")).arg(figures_.percent));
  progress_->setValue(figures_.percent);
}

}  // namespace qm
