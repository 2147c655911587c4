#include "ui/elided_label.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace qm {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::minimumSizeHint() const { return QSize(0, QLabel::minimumSizeHint().height()); }

QSize ElidedLabel::sizeHint() const { return QSize(0, QLabel::sizeHint().height()); }

QString ElidedLabel::ShownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(),
                        ShownText(), foregroundRole());
}

bool ElidedLabel::event(QEvent* event) {
  // The whole text only when part of it is hidden.
  if (event->type() == QEvent::ToolTip && ShownText() == text()) {
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  return QLabel::event(event);
}

}  // namespace qm
