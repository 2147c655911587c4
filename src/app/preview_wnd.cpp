#include "app/preview_wnd.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QLabel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcut>
#include <QSizeGrip>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>

#include "app/language_store.h"
#include "app/preview_process_wnd.h"
#include "preview/media_player.h"
#include "preview/preview_layouts.h"
#include "results/categories.h"
#include "ui/skin_loader.h"

namespace qm {

namespace {

bool IsPhoto(const FoundFileRecord& record) {
  return record.isDirectory == 0 && IsPhotoExtension(ExtensionOf(record.Name()));
}

}  // namespace

CPreviewWnd::CPreviewWnd(PreviewState& state, PreviewListing listing, int row, PreviewWndServices services,
                         QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      state_(state),
      listing_(std::move(listing)),
      row_(row),
      services_(std::move(services)) {
  setModal(true);
}

CPreviewWnd::~CPreviewWnd() {
  if (target_.player != nullptr) target_.player->Stop();
}

std::unique_ptr<CPreviewWnd> CPreviewWnd::Create(PreviewState& state, PreviewListing listing, int row,
                                                 PreviewWndServices services, QWidget* owner, QString* error) {
  LoadedLayout layout = SkinLoader::Load(kPreviewLayout, kPreviewControls);
  if (!layout.root) {
    if (error != nullptr) *error = layout.error;
    return nullptr;
  }
  std::unique_ptr<CPreviewWnd> window(new CPreviewWnd(state, std::move(listing), row, std::move(services), owner));
  CPreviewWnd* self = window.get();
  self->setObjectName("UIPreviewWnd");
  self->content_ = layout.root.release();
  auto* column = new QVBoxLayout(self);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(self->content_);
  QWidget* c = self->content_;
  self->fileName_ = FindControlAs<QLabel>(c, "FileName");
  self->target_.edit = FindControlAs<QTextEdit>(c, "PreviewEdit");
  self->prevBar_ = FindControl(c, "PrevBar");
  self->nextBar_ = FindControl(c, "NextBar");
  auto* cancel = FindControlAs<QAbstractButton>(c, "CancelBtn");
  auto* close = FindControlAs<QAbstractButton>(c, "closebtn");
  auto* recovery = FindControlAs<QAbstractButton>(c, "RecoveryBtn");
  auto* prev = FindControlAs<QAbstractButton>(c, "PrevBtn");
  auto* next = FindControlAs<QAbstractButton>(c, "NextBtn");
  if (!self->fileName_ || !self->target_.edit || !cancel || !close || !recovery || !prev || !next) {
    if (error != nullptr) *error = "The window layout \"xml/PreviewWnd.ui\" has a control of the wrong kind.";
    return nullptr;
  }
  LanguageStore::Instance().ApplyWindowTexts(c, "PreviewWnd");
  if (auto* title = FindControl(c, "title")) self->setWindowTitle(title->property("text").toString());

  // Frameless like the other windows: dragged by its caption band, sized
  // by the grip in the corner.
  if (QWidget* caption = FindControl(c, "TitleBar")) caption->installEventFilter(self);
  if (auto* buttons = qobject_cast<QBoxLayout*>(FindControl(c, "ButtonBar") ? FindControl(c, "ButtonBar")->layout()
                                                                             : nullptr)) {
    buttons->addWidget(new QSizeGrip(self), 0, Qt::AlignBottom | Qt::AlignRight);
  }

  connect(cancel, &QAbstractButton::clicked, self, &QDialog::reject);
  connect(close, &QAbstractButton::clicked, self, &QDialog::reject);
  connect(prev, &QAbstractButton::clicked, self, [self] { self->Step(-1); });
  connect(next, &QAbstractButton::clicked, self, [self] { self->Step(+1); });
  // The arrow keys step as the buttons beside the picture do, while they
  // are there.
  self->target_.edit->installEventFilter(self);
  for (const auto& [key, direction] : {std::pair{Qt::Key_Left, -1}, std::pair{Qt::Key_Right, +1}}) {
    auto* shortcut = new QShortcut(QKeySequence(key), self);
    connect(shortcut, &QShortcut::activated, self, [self, direction] {
      if (!self->prevBar_->isHidden()) self->Step(direction);
    });
  }
  connect(recovery, &QAbstractButton::clicked, self, [self] {
    if (self->services_.recover) self->services_.recover(self->state_.record);
  });
  self->resize(820, 620);
  if (owner != nullptr) self->move(owner->frameGeometry().center() - self->rect().center());
  // Shown once the window has its size, so that a picture fits it.
  QMetaObject::invokeMethod(self, [self] { self->ShowCurrent(); }, Qt::QueuedConnection);
  return window;
}

bool CPreviewWnd::eventFilter(QObject* watched, QEvent* event) {
  // The preview box would keep the arrow keys to move its text cursor; they
  // are left to the shortcuts that step.
  if (watched == target_.edit) {
    if (event->type() == QEvent::ShortcutOverride) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->modifiers() == Qt::NoModifier && (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right)) {
        event->ignore();
        return true;
      }
    }
    return QDialog::eventFilter(watched, event);
  }
  if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
      windowHandle() != nullptr) {
    windowHandle()->startSystemMove();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CPreviewWnd::ShowCurrent() {
  fileName_->setText(QString::fromStdString(state_.record.Name()));
  // Stepping is for pictures copied to a file; a dump has nothing to step.
  const bool stepping = !state_.tempPath.empty();
  prevBar_->setVisible(stepping);
  nextBar_->setVisible(stepping);
  // Audio and video play where the text box is.
  if (state_.shown == PreviewState::Shown::kMedia && target_.player == nullptr) {
    target_.player = AddPlayerBeside(target_.edit);
    connect(target_.player, &MediaPlayer::PlaybackFailed, this, [this] {
      ShowPreviewNote(target_, LanguageStore::Instance().Text("Messages", "MSG1207"));
    });
  }
  ShowPreview(state_, target_);
  emit PreviewReady();
}

int CPreviewWnd::CurrentRow() const {
  const int count = listing_.count ? listing_.count() : 0;
  if (row_ >= 0 && row_ < count && SameFoundFile(listing_.at(row_), state_.record)) return row_;
  for (int row = 0; row < count; ++row) {
    if (SameFoundFile(listing_.at(row), state_.record)) return row;
  }
  return std::clamp(row_, 0, std::max(0, count - 1));
}

void CPreviewWnd::Step(int direction) {
  const int count = listing_.count ? listing_.count() : 0;
  if (count == 0) return;
  const int from = CurrentRow();
  for (int step = 1; step < count; ++step) {
    const int row = ((from + direction * step) % count + count) % count;
    const FoundFileRecord record = listing_.at(row);
    if (!IsPhoto(record)) continue;
    // A cancelled copy-out leaves the shown file in place, so its record
    // must stay the one Recover acts on.
    const FoundFileRecord shownRecord = state_.record;
    const ScanItemPtr shownItem = state_.item;
    if (target_.player != nullptr) target_.player->Stop();
    const ScanItemPtr item = services_.itemFor ? services_.itemFor(record) : nullptr;
    const int result = StartPreview(state_, item, record, this);
    if (result == CPreviewProcessWnd::kCancelled) {
      state_.record = shownRecord;
      state_.item = shownItem;
      return;
    }
    row_ = row;
    QMetaObject::invokeMethod(this, [this] { ShowCurrent(); }, Qt::QueuedConnection);
    return;
  }
}

}  // namespace qm
