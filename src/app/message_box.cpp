#include "app/message_box.h"

#include <algorithm>

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

#include "app/language_store.h"
#include "ui/skin_loader.h"

namespace qm {

namespace {

int NormalKind(int kind) { return kind >= CMessageBox::Error && kind <= CMessageBox::Question ? kind : CMessageBox::Error; }

}  // namespace

QString CMessageBox::LayoutName(int kind) {
  static const char* const kNames[] = {"MessageBox_Error.ui", "MessageBox_Confirm.ui", "MessageBox_Information.ui",
                                       "MessageBox_Warning.ui", "MessageBox_Question.ui"};
  return kNames[NormalKind(kind)];
}

QString CMessageBox::TitleKey(int kind) {
  static const char* const kKeys[] = {"MSG0401", "MSG0402", "MSG0403", "MSG0405", "MSG0404"};
  return kKeys[NormalKind(kind)];
}

CMessageBox::CMessageBox(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {}

CMessageBox* CMessageBox::Create(int kind, QWidget* owner, const QString& message, QString* error) {
  LoadedLayout layout = SkinLoader::Load(LayoutName(kind), {"title", "message", "okbtn", "closebtn"});
  if (!layout.root) {
    if (error != nullptr) *error = layout.error;
    return nullptr;
  }
  auto* box = new CMessageBox(owner);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  box->setModal(true);
  QWidget* content = layout.root.release();
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(content);

  const LanguageStore& store = LanguageStore::Instance();
  store.ApplyWindowTexts(content, "MessageBox");
  const QString title = store.Text("Messages", TitleKey(kind));
  if (!title.isEmpty()) FindControlAs<QLabel>(content, "title")->setText(title);
  box->setWindowTitle(FindControlAs<QLabel>(content, "title")->text());
  FindControlAs<QLabel>(content, "message")->setText(message);
  // As tall as the message needs: a long one wraps onto more lines.
  const QSize least = content->minimumSize().expandedTo(QSize(400, 160));
  box->layout()->activate();
  const int height = box->hasHeightForWidth() ? box->heightForWidth(least.width()) : box->sizeHint().height();
  box->setFixedSize(least.width(), std::max(least.height(), height));

  connect(FindControlAs<QAbstractButton>(content, "okbtn"), &QAbstractButton::clicked, box, [box] { box->done(Ok); });
  connect(FindControlAs<QAbstractButton>(content, "closebtn"), &QAbstractButton::clicked, box,
          [box] { box->done(Cancelled); });
  if (auto* cancel = FindControlAs<QAbstractButton>(content, "cancelbtn")) {
    connect(cancel, &QAbstractButton::clicked, box, [box] { box->done(Cancelled); });
  }
  // Escape and closing the window count as Cancel.
  connect(box, &QDialog::rejected, box, [box] { box->setResult(Cancelled); });

  const QRect area = owner != nullptr ? owner->frameGeometry()
                                      : (box->screen() != nullptr ? box->screen()->availableGeometry() : QRect());
  if (area.isValid()) box->move(area.center() - box->rect().center());
  return box;
}

int CMessageBox::Show(int kind, QWidget* owner, const QString& message) {
  return Show(kind, owner, message, QString(), QString());
}

int CMessageBox::Show(int kind, QWidget* owner, const QString& message, const QString& okText,
                      const QString& cancelText) {
  QString error;
  CMessageBox* box = Create(kind, owner, message, &error);
  if (box == nullptr) {
    // A broken skin must not hide what the user needs to know.
    QMessageBox plain(QMessageBox::Warning, "Quillmark", message + "\n\n" + error,
                      QMessageBox::Ok | QMessageBox::Cancel, owner);
    if (!okText.isEmpty()) plain.button(QMessageBox::Ok)->setText(okText);
    if (!cancelText.isEmpty()) plain.button(QMessageBox::Cancel)->setText(cancelText);
    return plain.exec() == QMessageBox::Ok ? Ok : Cancelled;
  }
  if (!okText.isEmpty()) FindControlAs<QAbstractButton>(box, "okbtn")->setText(okText);
  if (auto* cancel = FindControlAs<QAbstractButton>(box, "cancelbtn"); cancel != nullptr && !cancelText.isEmpty()) {
    cancel->setText(cancelText);
  }
  const int answer = box->exec();
  delete box;
  return answer == Ok ? Ok : Cancelled;
}

}  // namespace qm
