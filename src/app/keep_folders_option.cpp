#include "app/keep_folders_option.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QCheckBox>
#include <QEvent>
#include <QSettings>

#include "app/user_settings.h"

namespace qm {

namespace {

constexpr const char* kKeepFoldersKey = "Recover/KeepFolderStructure";

// Shows and hides the box with the button it belongs to, so the pages
// that offer no recovery do not offer its choice either.
class FollowVisibility : public QObject {
 public:
  FollowVisibility(QWidget* follower, QObject* parent) : QObject(parent), follower_(follower) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
      follower_->setVisible(static_cast<QWidget*>(watched)->isVisibleTo(follower_->parentWidget()));
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget* follower_;
};

}  // namespace

bool KeepFolderStructure() { return UserSettings().value(kKeepFoldersKey, false).toBool(); }

void SetKeepFolderStructure(bool keep) { UserSettings().setValue(kKeepFoldersKey, keep); }

QCheckBox* AddKeepFoldersBox(QAbstractButton* recover) {
  QWidget* row = recover->parentWidget();
  auto* box = new QCheckBox(QStringLiteral("Keep the folder structure"), row);
  box->setObjectName("ChkKeepFolders");
  box->setChecked(KeepFolderStructure());
  QObject::connect(box, &QCheckBox::toggled, box, [](bool checked) { SetKeepFolderStructure(checked); });
  if (auto* line = qobject_cast<QBoxLayout*>(row != nullptr ? row->layout() : nullptr)) {
    line->insertWidget(line->indexOf(recover), box);
  }
  box->setVisible(recover->isVisibleTo(row));
  recover->installEventFilter(new FollowVisibility(box, box));
  return box;
}

}  // namespace qm
