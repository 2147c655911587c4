#include "app/image_file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

#include "app/language_store.h"
#include "app/user_settings.h"

namespace qm {

namespace {

constexpr const char* kLastFolderKey = "LoadImage/LastFolder";

QString Text(const char* key) { return LanguageStore::Instance().Text("Messages", key); }

}  // namespace

QString DiskImageFilter() {
  // Raw copies (dd, ddrescue, other recovery tools), optical and split
  // images, and the containers of forensic and virtual-machine tools. The
  // dialog matches case-sensitively, and EnCase's files are often named
  // in capitals.
  return QString("%1 (*.img *.IMG *.dd *.raw *.bin *.iso *.001 *.E01 *.e01 *.vhd);;%2 (*)")
      .arg(Text("MSG1459"), Text("MSG1460"));
}

QString LastImageFolder() {
  const QString folder = UserSettings().value(kLastFolderKey).toString();
  return QFileInfo(folder).isDir() ? folder : QString();
}

void RememberImageFolder(const QString& imagePath) {
  QSettings settings = UserSettings();
  settings.setValue(kLastFolderKey, QFileInfo(imagePath).absolutePath());
}

QString ChooseImageToLoad(QWidget* owner) {
  return QFileDialog::getOpenFileName(owner, Text("MSG1461"), LastImageFolder(), DiskImageFilter());
}

}  // namespace qm
