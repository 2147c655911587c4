// The scans kept in the ScanLog folder, each with its source, kind and the
// room it takes, and a Remove button that deletes one with its logs, as
// "quillmark-cli logs --remove" does.
#pragma once

#include <QDialog>

class QAbstractButton;
class QLabel;
class QTreeWidget;

namespace qm {

class KeptScansDialog final : public QDialog {
  Q_OBJECT
 public:
  explicit KeptScansDialog(QWidget* owner);

  // Lists the kept scans as they are on disk now.
  void Refill();

 private:
  void RemoveChosen();
  QString Message(const char* key) const;

  QLabel* intro_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QAbstractButton* remove_ = nullptr;
};

// Shows the kept scans over `owner` until the user closes the window.
void ShowKeptScans(QWidget* owner);

}  // namespace qm
