// A one-line label that shows as much of its text as fits, with an ellipsis
// in the middle, and the whole text as its tooltip: for paths and file
// names, whose both ends matter. Layouts name it "CElidedLabelUI".
#pragma once

#include <QLabel>

namespace qm {

class ElidedLabel : public QLabel {
  Q_OBJECT
 public:
  explicit ElidedLabel(QWidget* parent = nullptr);

  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;
  // The text as painted at the label's width.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};

}  // namespace qm
