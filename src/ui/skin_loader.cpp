#include "ui/skin_loader.h"

#include <QAction>
#include <QFile>
#include <QHash>
#include <QUiLoader>
#include <QWidget>
#include <mutex>

#include "ui/elided_label.h"

// The skin resource lives in a static library; nothing refers to it, so the
// linker would drop it unless it is registered explicitly.
static void RegisterSkinResource() { Q_INIT_RESOURCE(skin); }

namespace qm {

namespace {

void EnsureSkinResource() {
  static std::once_flag once;
  std::call_once(once, RegisterSkinResource);
}

QHash<QString, SkinLoader::ControlFactory>& Factories() {
  // The skin's own controls, known to every layout.
  static QHash<QString, SkinLoader::ControlFactory> factories = {
      {"CElidedLabelUI", [](QWidget* parent) -> QWidget* { return new ElidedLabel(parent); }},
  };
  return factories;
}

QString& Root() {
  static QString root = ":/skin";
  return root;
}

class SkinUiLoader : public QUiLoader {
 public:
  using QUiLoader::QUiLoader;
  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    const auto found = Factories().constFind(className);
    if (found == Factories().cend()) return QUiLoader::createWidget(className, parent, name);
    QWidget* widget = (*found)(parent);
    widget->setObjectName(name);
    return widget;
  }
};

}  // namespace

void SkinLoader::RegisterControl(const QString& className, ControlFactory factory) {
  Factories().insert(className, std::move(factory));
}

void SkinLoader::SetSkinRoot(const QString& root) { Root() = root; }
QString SkinLoader::SkinRoot() {
  EnsureSkinResource();
  return Root();
}

LoadedLayout SkinLoader::Load(const QString& name, const QStringList& required) {
  LoadedLayout result;
  const QString shown = "xml/" + name;
  QFile file(SkinRoot() + "/" + shown);
  if (!file.open(QIODevice::ReadOnly)) {
    result.error = QString("The window layout \"%1\" is missing from the skin (%2). "
                           "Reinstall Quillmark to restore it.")
                       .arg(shown, file.errorString());
    return result;
  }
  SkinUiLoader loader;
  std::unique_ptr<QWidget> root(loader.load(&file));
  if (!root) {
    result.error = QString("The window layout \"%1\" cannot be read: %2. Reinstall Quillmark to restore it.")
                       .arg(shown, loader.errorString());
    return result;
  }
  for (const QString& control : required) {
    // Menu layouts hold actions rather than widgets.
    if (FindControl(root.get(), control) == nullptr && root->findChild<QAction*>(control) == nullptr) {
      result.error = QString("The window layout \"%1\" has no control named \"%2\". "
                             "Reinstall Quillmark to restore the skin.")
                         .arg(shown, control);
      return result;
    }
  }
  result.root = std::move(root);
  return result;
}

QWidget* FindControl(QWidget* root, const QString& name) {
  if (root == nullptr) return nullptr;
  if (root->objectName() == name) return root;
  return root->findChild<QWidget*>(name);
}

}  // namespace qm
