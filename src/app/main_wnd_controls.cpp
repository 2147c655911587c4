#include "app/main_wnd_controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <functional>
#include <vector>

#include "ui/skin_loader.h"

namespace qm {

namespace {

// The category boxes of the first page and their option groups.
constexpr std::array<std::pair<const char*, const char*>, 6> kCategories = {{{"ChkPhoto", "FileTypePhoto"},
                                                                            {"ChkMusic", "FileTypeAudio"},
                                                                            {"ChkVideo", "FileTypeVideo"},
                                                                            {"ChkOffice", "FileTypeOffice"},
                                                                            {"ChkArchive", "FileTypeZip"},
                                                                            {"ChkOther", "FileTypeOther"}}};

// Controls the skin must have that the window reaches other ways: the disk
// page's side bar (styled by the skin) and the option the type filter reads.
const QStringList kAlsoRequired = {"PartitionListBar", "OptOtherFileItem"};

// One control to bind: its name and where it goes, checked for its kind.
struct Binding {
  QString name;
  std::function<bool(QWidget*)> bind;  // false: the control is of the wrong kind
  bool required = true;
};

template <typename T>
Binding Take(const QString& name, T*& member, bool required = true) {
  return {name, [&member](QWidget* control) { return (member = qobject_cast<T*>(control)) != nullptr; }, required};
}

std::vector<Binding> Bindings(MainWndControls& c) {
  std::vector<Binding> all = {
      Take("LblProductName", c.productName),
      Take("BtnAssist", c.assist),
      Take("TabScan", c.tabScan),
      Take("TabFileType", c.tabFileType),
      Take("TabRecover", c.tabRecover),
      Take("TabPage", c.pages),
      Take("Txt1", c.bannerTitle),
      Take("Txt2", c.bannerText),
      Take("ToolBar2Logo", c.bannerLogo),
      Take("SubBar1", c.footer),
      Take("BtnPrev", c.previous),
      Take("BtnNext", c.next),
      Take("BtnScan", c.scan),
      Take("BtnRecover", c.recover),
      Take("BtnDeletedRecovery", c.deletedRecovery),
      Take("BtnDeepRecovery", c.deepRecovery),
      Take("BtnFormattedRecovery", c.formattedRecovery),
      Take("BtnCreateImageMode", c.createImageMode),
      Take("TxtMainInfo", c.mainInfo),
      Take("BtnStart", c.start),
      Take("ChkRecoverAll", c.recoverAll),
      Take("DiskList", c.diskList),
      Take("BtnLoadImage", c.loadImage),
      Take("BtnCreateImage", c.createImage),
      Take("TypeTree", c.typeTree),
      Take("FileList", c.fileList),
      Take("PreviewEdit", c.previewEdit),
      Take("SelectedFileInfo", c.selectedFileInfo),
      Take("ResultViews", c.resultViews),
      Take("FolderSource", c.folderSource),
      Take("FolderTree", c.folderTree),
      Take("ResultSplitter", c.resultSplitter, false),
  };
  for (size_t i = 0; i < kCategories.size(); ++i) {
    all.push_back(Take(kCategories[i].first, c.categories[i].box));
    all.push_back(Take(kCategories[i].second, c.categories[i].options));
  }
  for (size_t i = 0; i < c.diskInfo.size(); ++i) all.push_back(Take(QString("Label%1").arg(i + 1), c.diskInfo[i]));
  return all;
}

}  // namespace

QStringList MainWndControls::RequiredNames() {
  MainWndControls unused;
  QStringList names = kAlsoRequired;
  for (const Binding& binding : Bindings(unused)) {
    if (binding.required) names << binding.name;
  }
  return names;
}

bool MainWndControls::Bind(QWidget* root, QString* error) {
  for (const Binding& binding : Bindings(*this)) {
    QWidget* control = FindControl(root, binding.name);
    if (control == nullptr && !binding.required) continue;
    if (control == nullptr || !binding.bind(control)) {
      if (error != nullptr) {
        *error = QString("The window layout \"xml/skin.ui\" has no usable control named \"%1\". "
                         "Reinstall Quillmark to restore the skin.")
                     .arg(binding.name);
      }
      return false;
    }
  }
  return true;
}

}  // namespace qm
