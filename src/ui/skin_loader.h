// Window layouts of the skin: Qt Designer files compiled into the program
// under ":/skin/xml/", loaded by name, with the program's own control
// classes created where a layout names them.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QWidget;

namespace qm {

struct LoadedLayout {
  std::unique_ptr<QWidget> root;  // null when loading failed
  QString error;                  // why, in words for the user
};

class SkinLoader {
 public:
  using ControlFactory = std::function<QWidget*(QWidget* parent)>;

  // Makes layouts that name `className` get the widget `factory` builds.
  static void RegisterControl(const QString& className, ControlFactory factory);

  // Loads "xml/<name>" (e.g. "skin.ui") and checks that every control in
  // `required` exists. On failure the result holds no widget and an error
  // such as: The window layout "xml/skin.ui" has no control named "BtnScan".
  static LoadedLayout Load(const QString& name, const QStringList& required);

  // Where layouts are read from; tests point it at a folder of their own.
  static void SetSkinRoot(const QString& root);
  static QString SkinRoot();
};

// The control `name` below `root`, or null.
QWidget* FindControl(QWidget* root, const QString& name);
template <typename T>
T* FindControlAs(QWidget* root, const QString& name) {
  return qobject_cast<T*>(FindControl(root, name));
}

}  // namespace qm
