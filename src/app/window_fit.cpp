#include "app/window_fit.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QEvent>
#include <QGridLayout>
#include <QHash>
#include <QIcon>
#include <QScrollArea>
#include <QStackedWidget>

namespace qm {

namespace {

// A stack is as large as its largest page; pages not shown are let go of
// their size, so that the one shown decides.
void SizeByCurrentPage(QStackedWidget* pages) {
  for (int i = 0; i < pages->count(); ++i) {
    QWidget* page = pages->widget(i);
    const bool shown = i == pages->currentIndex();
    page->setSizePolicy(shown ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                        shown ? QSizePolicy::Preferred : QSizePolicy::Ignored);
  }
  pages->updateGeometry();
}

// Moves the buttons of its row between one and two rows as its width
// allows.
class ButtonWrapper : public QObject {
 public:
  ButtonWrapper(QWidget* row, QGridLayout* grid) : QObject(row), row_(row), grid_(grid) {
    for (int i = 0; i < grid->count(); ++i) {
      if (auto* button = qobject_cast<QAbstractButton*>(grid->itemAt(i)->widget())) buttons_ << button;
    }
    row->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == row_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) Place();
    return false;
  }

 private:
  // One row with icons, else one row without them, else two rows.
  void Place() {
    const int available = row_->width() - grid_->contentsMargins().left() - grid_->contentsMargins().right();
    int withIcons = -grid_->horizontalSpacing();
    int iconRoom = 0;
    for (QAbstractButton* button : buttons_) {
      withIcons += WidthWithIcon(button) + grid_->horizontalSpacing();
      iconRoom += button->iconSize().width() + kIconGap;
    }
    const bool icons = available >= withIcons;
    const int columns = icons || available >= withIcons - iconRoom ? static_cast<int>(buttons_.size())
                                                                   : (static_cast<int>(buttons_.size()) + 1) / 2;
    for (QAbstractButton* button : buttons_) {
      if (!icons_.contains(button)) icons_[button] = button->icon();
      if (icons != !button->icon().isNull()) button->setIcon(icons ? icons_[button] : QIcon());
    }
    if (columns == columns_) return;
    columns_ = columns;
    for (QAbstractButton* button : buttons_) grid_->removeWidget(button);
    for (int i = 0; i < buttons_.size(); ++i) grid_->addWidget(buttons_[i], i / columns, i % columns);
  }

  // The width a button needs with its icon shown, shown or not now.
  int WidthWithIcon(QAbstractButton* button) const {
    const int hint = button->sizeHint().width();
    return button->icon().isNull() ? hint + button->iconSize().width() + kIconGap : hint;
  }

  static constexpr int kIconGap = 4;  // between a push button's icon and its text
  QWidget* row_;
  QGridLayout* grid_;
  QList<QAbstractButton*> buttons_;
  int columns_ = 0;
  QHash<QAbstractButton*, QIcon> icons_;
};

}  // namespace

void WrapButtonsWhenNarrow(QWidget* row) {
  auto* line = qobject_cast<QBoxLayout*>(row->layout());
  if (line == nullptr) return;
  // The layout of the skin becomes a grid of the same spacing and margins.
  auto* grid = new QGridLayout;
  grid->setContentsMargins(line->contentsMargins());
  grid->setSpacing(line->spacing());
  QList<QWidget*> buttons;
  while (QLayoutItem* item = line->takeAt(0)) {
    if (item->widget() != nullptr) buttons << item->widget();
    delete item;
  }
  delete line;
  row->setLayout(grid);
  for (int i = 0; i < buttons.size(); ++i) grid->addWidget(buttons[i], 0, i);
  new ButtonWrapper(row, grid);
}

QScrollArea* ScrollPagesWhenShort(QStackedWidget* pages) {
  QWidget* parent = pages->parentWidget();
  auto* column = parent != nullptr ? qobject_cast<QBoxLayout*>(parent->layout()) : nullptr;
  if (column == nullptr || column->indexOf(pages) < 0) return nullptr;
  const int at = column->indexOf(pages);
  const int stretch = column->stretch(at);
  auto* scroll = new QScrollArea(parent);
  scroll->setObjectName("TabPageScroll");
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  // The window is never narrower than its pages need; only height runs short.
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  column->removeWidget(pages);
  column->insertWidget(at, scroll, stretch);
  scroll->setWidget(pages);
  SizeByCurrentPage(pages);
  QObject::connect(pages, &QStackedWidget::currentChanged, scroll, [pages] { SizeByCurrentPage(pages); });
  return scroll;
}

}  // namespace qm
