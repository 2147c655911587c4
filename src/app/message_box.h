// The skinned message box: one layout per kind, a caption from the
// "Messages" texts, OK and (for questions) Cancel.
#pragma once

#include <QDialog>
#include <QString>

namespace qm {

class CMessageBox : public QDialog {
  Q_OBJECT
 public:
  enum Kind { Error = 0, Confirm = 1, Information = 2, Warning = 3, Question = 4 };
  enum Result { Ok = 1, Cancelled = 2 };

  // Shows a modal box centred on `owner` (or the screen) and returns Ok when
  // the user pressed okbtn, Cancelled for cancelbtn, closebtn or Escape.
  // A kind out of range is shown as an error. When the layout cannot be
  // loaded the message still reaches the user through a plain Qt box.
  static int Show(int kind, QWidget* owner, const QString& message);
  // The same, with the buttons saying what they do ("Resume", "Start
  // over") instead of OK and Cancel; an empty text keeps the usual one.
  static int Show(int kind, QWidget* owner, const QString& message, const QString& okText,
                  const QString& cancelText);

  // The box without showing it, for callers that need it open (tests).
  // Null when the kind's layout cannot be loaded; `error` says why.
  static CMessageBox* Create(int kind, QWidget* owner, const QString& message, QString* error = nullptr);

  static QString LayoutName(int kind);
  static QString TitleKey(int kind);

 private:
  explicit CMessageBox(QWidget* owner);
};

}  // namespace qm
