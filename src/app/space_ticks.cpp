#include "app/space_ticks.h"

#include <QAbstractItemView>
#include <QKeyEvent>

namespace qm {

namespace {

class SpaceTicks : public QObject {
 public:
  explicit SpaceTicks(QAbstractItemView* list) : QObject(list), list_(list) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier) return false;
    const QModelIndex current = list_->currentIndex();
    if (!current.isValid()) return false;
    const QModelIndex box = current.siblingAtColumn(0);
    if (!(box.flags() & Qt::ItemIsUserCheckable)) return false;
    const bool checked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    list_->model()->setData(box, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    return true;
  }

 private:
  QAbstractItemView* list_;
};

}  // namespace

void TickWithSpace(QAbstractItemView* list) { list->installEventFilter(new SpaceTicks(list)); }

}  // namespace qm
