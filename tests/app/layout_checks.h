// Checks on how a window's controls are laid out: texts that do not fit
// their control, and buttons drawn over one another.
#pragma once

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QLabel>
#include <QStringList>
#include <QWidget>

#include "ui/elided_label.h"

namespace qm::testing {

// The texts of `window` that do not fit their control.
inline QStringList CutTexts(QWidget* window) {
  QStringList cut;
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(window) || label->text().isEmpty() || label->pixmap().cacheKey() != 0) continue;
    if (qobject_cast<ElidedLabel*>(label) != nullptr) continue;  // shortened on purpose, whole text in the tooltip
    const QSize need = label->sizeHint();
    const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                        : need.width() <= label->width() + 1;
    if (!fits) cut << label->objectName() + ": " + label->text();
  }
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (!button->isVisibleTo(window) || button->text().isEmpty()) continue;
    if (button->sizeHint().width() > button->width() + 1) cut << button->objectName() + ": " + button->text();
  }
  return cut;
}

// The part of `widget` its parents leave to be seen, in `window`'s
// coordinates.
inline QRect ShownPart(QWidget* widget, QWidget* window) {
  QRect shown(widget->mapTo(window, QPoint(0, 0)), widget->size());
  for (QWidget* parent = widget->parentWidget(); parent != nullptr && parent != window; parent = parent->parentWidget())
    shown &= QRect(parent->mapTo(window, QPoint(0, 0)), parent->size());
  return shown & window->rect();
}

// Whether the whole of `widget` can be seen in `window`.
inline bool WhollyShown(QWidget* widget, QWidget* window) {
  return ShownPart(widget, window) == QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

// The visible buttons of `window` drawn over one another ("A / B"), cut
// off by the window's edge, or squeezed below the height they need. A
// button in a scroll area may lie beyond its view: it is scrolled to.
inline QStringList MisplacedButtons(QWidget* window) {
  QList<QAbstractButton*> shown;
  QStringList wrong;
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (!button->isVisibleTo(window) || button->width() <= 0 || button->height() <= 0) continue;
    bool scrolled = false;
    for (QWidget* parent = button->parentWidget(); parent != nullptr && !scrolled; parent = parent->parentWidget())
      scrolled = qobject_cast<QAbstractScrollArea*>(parent) != nullptr;
    if (!scrolled && !WhollyShown(button, window)) wrong << button->objectName() + " is cut off";
    if (button->height() < button->minimumSizeHint().height()) wrong << button->objectName() + " is squeezed";
    if (!ShownPart(button, window).isEmpty()) shown << button;
  }
  for (int i = 0; i < shown.size(); ++i) {
    for (int j = i + 1; j < shown.size(); ++j) {
      // A button inside another (a check box in a header) is placed there on purpose.
      if (shown[i]->isAncestorOf(shown[j]) || shown[j]->isAncestorOf(shown[i])) continue;
      if (ShownPart(shown[i], window).intersects(ShownPart(shown[j], window)))
        wrong << shown[i]->objectName() + " / " + shown[j]->objectName();
    }
  }
  return wrong;
}

}  // namespace qm::testing
