// Drives modal windows from a test: clicking a control once a condition
// holds, and answering the next message box, from timers that run inside
// the modal event loops.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/message_box.h"
#include "ui/skin_loader.h"

namespace qm::testing {

// Runs `action` on the UI thread once `condition` holds (checked every 5 ms).
// The check ends with `context` (the window under test) and after ten
// seconds, so a test that went wrong fails instead of leaving a timer
// behind that looks at objects long gone.
inline void When(QObject* context, std::function<bool()> condition, std::function<void()> action) {
  auto* timer = new QTimer(context);
  timer->setInterval(5);
  auto deadline = std::make_shared<QElapsedTimer>();
  deadline->start();
  QObject::connect(timer, &QTimer::timeout,
                   [timer, deadline, condition = std::move(condition), action = std::move(action)] {
                     const bool expired = deadline->hasExpired(10000);
                     if (!expired && !condition()) return;
                     timer->stop();
                     timer->deleteLater();
                     if (!expired) action();
                   });
  timer->start();
}

// The message box that is open, or null.
inline CMessageBox* OpenBox() { return qobject_cast<CMessageBox*>(QApplication::activeModalWidget()); }

// Answers the next message box with OK or Cancel; `whileOpen` runs first,
// with the box still open. `text` receives its message.
inline void AnswerNextBox(bool ok, std::function<void()> whileOpen = {}, QString* text = nullptr) {
  When(qApp, [] { return OpenBox() != nullptr; },
       [ok, whileOpen = std::move(whileOpen), text] {
         CMessageBox* box = OpenBox();
         if (text != nullptr) {
           if (auto* message = FindControl(box, "message")) *text = message->property("text").toString();
         }
         if (whileOpen) whileOpen();
         FindControlAs<QAbstractButton>(box, ok ? "okbtn" : "closebtn")->click();
       });
}

inline void Click(QWidget* root, const char* name) { FindControlAs<QAbstractButton>(root, name)->click(); }

}  // namespace qm::testing
