// Named notifications of a skinned window, raised from the Qt signals of its
// controls so that a window handles them in one place by control name:
//   "click"         a push or tool button was clicked
//   "selectchanged" a check box, option button or tab was toggled or chosen
//   "itemselect"    the current row of a list or tree changed
//   "timer"         a timer started on a control with StartTimer fired
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

class QAbstractItemView;
class QTimer;
class QWidget;

namespace qm {

struct Notification {
  QString type;     // "click", "selectchanged", "itemselect", "timer"
  QString control;  // object name of the sender
  int value = 0;    // check state, tab index or row; the timer id for "timer"
};

class SkinNotifications : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void(const Notification&)>;

  // Connects every named control below `root`; `handler` runs on the UI
  // thread for each notification.
  SkinNotifications(QWidget* root, Handler handler);

  // Starts a repeating timer `id` on `control`. While one of that id is
  // pending a further start changes nothing, so a burst of requests leads
  // to one notification after the first.
  // Views whose model is set after loading get a new selection model; call
  // this after setModel so that "itemselect" follows it.
  void ConnectItemView(QAbstractItemView* view);

  void StartTimer(const QString& control, int id, int milliseconds);
  void StopTimers(const QString& control);
  bool TimerPending(const QString& control, int id) const;

 private:
  void Connect(QWidget* control);

  QWidget* root_;
  Handler handler_;
  QHash<QString, QHash<int, QTimer*>> timers_;
};

}  // namespace qm
