// The main window's controls, looked up once when its layout has loaded
// (as a form compiled by uic binds its widgets into a Ui:: class), so the
// window's code names each control by a member rather than finding it by
// its name in the layout again and again.
#pragma once

#include <QString>
#include <QStringList>
#include <array>

class QAbstractButton;
class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTextEdit;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QWidget;

namespace qm {

struct MainWndControls {
  // A check box of the first page and the group of type options on the
  // file-type page that it checks or clears as a whole.
  struct Category {
    QAbstractButton* box = nullptr;
    QWidget* options = nullptr;
  };

  // The caption band, the banner of the page shown and the footer.
  QLabel* productName = nullptr;        // LblProductName
  QToolButton* assist = nullptr;        // BtnAssist: opens the help menu
  QAbstractButton* tabScan = nullptr;   // the three step tabs
  QAbstractButton* tabFileType = nullptr;
  QAbstractButton* tabRecover = nullptr;
  QStackedWidget* pages = nullptr;      // TabPage
  QLabel* bannerTitle = nullptr;        // Txt1
  QLabel* bannerText = nullptr;         // Txt2
  QLabel* bannerLogo = nullptr;         // ToolBar2Logo
  QWidget* footer = nullptr;            // SubBar1
  QAbstractButton* previous = nullptr;  // BtnPrev
  QAbstractButton* next = nullptr;      // BtnNext
  QPushButton* scan = nullptr;          // BtnScan
  QAbstractButton* recover = nullptr;   // BtnRecover

  // The first page: the ways to start, and what to look for.
  QAbstractButton* deletedRecovery = nullptr;
  QAbstractButton* deepRecovery = nullptr;
  QAbstractButton* formattedRecovery = nullptr;
  QAbstractButton* createImageMode = nullptr;
  QLabel* mainInfo = nullptr;  // TxtMainInfo: describes the button under the mouse
  QAbstractButton* start = nullptr;
  std::array<Category, 6> categories;  // photo, music, video, office, archive, other
  QAbstractButton* recoverAll = nullptr;

  // The page of disks.
  QTreeWidget* diskList = nullptr;
  std::array<QLabel*, 6> diskInfo{};  // Label1..Label6
  QAbstractButton* loadImage = nullptr;
  QAbstractButton* createImage = nullptr;

  // The results.
  QTreeWidget* typeTree = nullptr;
  QTreeView* fileList = nullptr;
  QTextEdit* previewEdit = nullptr;
  QLabel* selectedFileInfo = nullptr;
  QTabWidget* resultViews = nullptr;
  QComboBox* folderSource = nullptr;
  QTreeView* folderTree = nullptr;
  QSplitter* resultSplitter = nullptr;  // optional: a skin may leave the list and preview unsplit

  // The names of the controls Bind needs, for the layout loader's check.
  static QStringList RequiredNames();
  // Binds the controls of `root`. False, with `error` naming the control,
  // when one is missing or of a kind the window cannot use.
  bool Bind(QWidget* root, QString* error);
};

}  // namespace qm
