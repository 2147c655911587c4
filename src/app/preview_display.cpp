#include "app/preview_display.h"

#include <QBoxLayout>
#include <QEvent>
#include <QImage>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QUrl>

#include "app/language_store.h"
#include "app/message_format.h"
#include "app/error_words.h"
#include "platform/errors.h"
#include "preview/byte_dump.h"
#include "preview/media_player.h"
#include "preview/picture_check.h"

namespace qm {

namespace {

// The resource name the picture is kept under in the text box's document.
const QUrl kPictureUrl("quillmark-preview://picture");

void ShowTextBox(const PreviewTarget& target) {
  if (target.player != nullptr) {
    target.player->Stop();
    target.player->hide();
  }
  target.edit->show();
}

void ShowPicture(QTextEdit* edit, const QImage& picture) {
  edit->clear();
  // Fits the box without scaling small pictures up; the document keeps
  // only the shown size (at the screen's pixel density), not the photo's
  // full resolution.
  const int margin = 2 * static_cast<int>(edit->document()->documentMargin()) + 4;
  const QSize room(std::max(32, edit->viewport()->width() - margin),
                   std::max(32, edit->viewport()->height() - margin - edit->fontMetrics().height() * 2));
  const QSize shown = picture.size().boundedTo(picture.size().scaled(room, Qt::KeepAspectRatio));
  const qreal density = edit->devicePixelRatioF();
  QImage stored = picture.scaled(shown * density, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  stored.setDevicePixelRatio(density);
  edit->document()->addResource(QTextDocument::ImageResource, kPictureUrl, stored);

  QTextCursor cursor(edit->document());
  QTextBlockFormat centred;
  centred.setAlignment(Qt::AlignHCenter);
  cursor.setBlockFormat(centred);
  QTextImageFormat image;
  image.setName(kPictureUrl.toString());
  image.setWidth(shown.width());
  image.setHeight(shown.height());
  cursor.insertImage(image);
  cursor.insertBlock(centred);
  cursor.insertText(LanguageStore::Instance().Text("Messages", "MSG0905"));
  edit->verticalScrollBar()->setValue(0);
}

// The box layout, at any depth below `layout`, that holds `widget` itself.
QBoxLayout* BoxHolding(QLayout* layout, QWidget* widget) {
  if (layout == nullptr) return nullptr;
  if (auto* box = qobject_cast<QBoxLayout*>(layout); box != nullptr && box->indexOf(widget) >= 0) return box;
  for (int i = 0; i < layout->count(); ++i) {
    if (QBoxLayout* found = BoxHolding(layout->itemAt(i)->layout(), widget)) return found;
  }
  return nullptr;
}

// Watches a text box's viewport for size changes; see KeepPictureFitted.
class PictureFitter : public QObject {
 public:
  PictureFitter(QTextEdit* edit, std::function<const QImage*()> shown)
      : QObject(edit), edit_(edit), shown_(std::move(shown)) {
    edit->viewport()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize && watched == edit_->viewport() && !fitting_) {
      const QImage* picture = shown_();
      if (picture != nullptr && !picture->isNull()) {
        // Refitting may add or drop a scroll bar, which resizes the
        // viewport again; that second resize is left alone.
        fitting_ = true;
        ShowPicture(edit_, *picture);
        fitting_ = false;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QTextEdit* edit_;
  std::function<const QImage*()> shown_;
  bool fitting_ = false;
};

}  // namespace

void KeepPictureFitted(QTextEdit* edit, std::function<const QImage*()> shown) {
  new PictureFitter(edit, std::move(shown));
}

void ShowPreview(const PreviewState& state, const PreviewTarget& target) {
  using Shown = PreviewState::Shown;
  if (state.shown == Shown::kMedia && target.player != nullptr) {
    target.edit->clear();
    target.edit->hide();
    target.player->show();
    target.player->Play(QString::fromStdString(state.tempPath));
    return;
  }
  ShowTextBox(target);
  switch (state.shown) {
    case Shown::kNothing:
      if (state.error != 0) {
        target.edit->setPlainText(FillMessage(LanguageStore::Instance().Text("Messages", "MSG0906"),
                                              {ErrorWords(state.error)}));
      } else {
        target.edit->clear();
      }
      break;
    case Shown::kPicture:
      if (state.picture.isNull()) {
        target.edit->setPlainText(LanguageStore::Instance().Text("Messages", "MSG1510"));
      } else {
        ShowPicture(target.edit, state.picture);
      }
      break;
    case Shown::kText:
      target.edit->setPlainText(state.text);
      break;
    case Shown::kDump:
      target.edit->setPlainText(
          ByteDump(reinterpret_cast<const uint8_t*>(state.bytes.constData()), static_cast<size_t>(state.bytes.size())));
      break;
    case Shown::kMedia:
      // No player here: the media copy is there, it just cannot be played
      // in this box.
      target.edit->setPlainText(LanguageStore::Instance().Text("Messages", "MSG1207"));
      break;
  }
  target.edit->moveCursor(QTextCursor::Start);
}

MediaPlayer* AddPlayerBeside(QTextEdit* edit) {
  auto* player = new MediaPlayer(edit->parentWidget());
  player->hide();
  if (QBoxLayout* row = BoxHolding(edit->parentWidget()->layout(), edit)) {
    row->insertWidget(row->indexOf(edit) + 1, player, 1);
  }
  return player;
}

void ClearPreview(const PreviewTarget& target) {
  ShowTextBox(target);
  target.edit->clear();
}

void ShowPreviewNote(const PreviewTarget& target, const QString& text) {
  ShowTextBox(target);
  target.edit->setPlainText(text);
}

}  // namespace qm
