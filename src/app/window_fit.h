// Keeping the main window whole on small and scaled screens: a 1366x768
// laptop at 100 %, and a 1600x1000 screen at 200 %, which leaves 800x500
// to lay the window out in.
#pragma once

#include <QSize>

class QScrollArea;
class QWidget;
class QStackedWidget;

namespace qm {

// The least size of the main window, within both screens above.
inline constexpr QSize kLeastMainWindowSize(760, 480);

// Puts `pages` into a scroll area in its place, sized by the page shown
// rather than by the tallest page: a page taller than the window then
// scrolls, where the layout would otherwise squeeze its controls over one
// another or push the window's footer off the screen.
QScrollArea* ScrollPagesWhenShort(QStackedWidget* pages);

// Lays the buttons of `row` (a widget whose layout holds only them) out in
// one row where they fit, else in two rows, so that no button's text is cut
// when the window is narrow or the texts are long.
void WrapButtonsWhenNarrow(QWidget* row);

}  // namespace qm
