#include "ui/skin_notifications.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace qm {

SkinNotifications::SkinNotifications(QWidget* root, Handler handler)
    : QObject(root), root_(root), handler_(std::move(handler)) {
  Connect(root);
  for (QWidget* child : root->findChildren<QWidget*>()) Connect(child);
}

void SkinNotifications::Connect(QWidget* control) {
  const QString name = control->objectName();
  if (name.isEmpty() || name.startsWith(u"qt_")) return;
  const auto raise = [this, name](const char* type, int value) { handler_({type, name, value}); };

  if (qobject_cast<QCheckBox*>(control) != nullptr || qobject_cast<QRadioButton*>(control) != nullptr ||
      (qobject_cast<QAbstractButton*>(control) != nullptr && static_cast<QAbstractButton*>(control)->isCheckable())) {
    auto* button = static_cast<QAbstractButton*>(control);
    connect(button, &QAbstractButton::toggled, this, [raise](bool on) { raise("selectchanged", on ? 1 : 0); });
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    connect(button, &QAbstractButton::clicked, this, [raise] { raise("click", 0); });
  } else if (auto* tabs = qobject_cast<QTabWidget*>(control)) {
    connect(tabs, &QTabWidget::currentChanged, this, [raise](int index) { raise("selectchanged", index); });
  } else if (auto* bar = qobject_cast<QTabBar*>(control)) {
    connect(bar, &QTabBar::currentChanged, this, [raise](int index) { raise("selectchanged", index); });
  } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
    connect(combo, &QComboBox::currentIndexChanged, this, [raise](int index) { raise("selectchanged", index); });
  } else if (auto* view = qobject_cast<QAbstractItemView*>(control)) {
    ConnectItemView(view);
  }
}

void SkinNotifications::ConnectItemView(QAbstractItemView* view) {
  QItemSelectionModel* selection = view->selectionModel();
  if (selection == nullptr) return;
  const QString name = view->objectName();
  connect(selection, &QItemSelectionModel::currentChanged, this,
          [this, name](const QModelIndex& current) { handler_({"itemselect", name, current.row()}); });
}

void SkinNotifications::StartTimer(const QString& control, int id, int milliseconds) {
  QTimer*& timer = timers_[control][id];
  if (timer != nullptr && timer->isActive()) return;
  if (timer == nullptr) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, control, id] { handler_({"timer", control, id}); });
  }
  timer->start(milliseconds);
}

void SkinNotifications::StopTimers(const QString& control) {
  for (QTimer* timer : timers_.value(control)) timer->stop();
}

bool SkinNotifications::TimerPending(const QString& control, int id) const {
  const QTimer* timer = timers_.value(control).value(id);
  return timer != nullptr && timer->isActive();
}

}  // namespace qm
