#include "app/main_wnd.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeView>
#include <QEvent>
#include <QHash>
#include <QPushButton>
#include <QSignalBlocker>
#include <QActionGroup>
#include <QDesktopServices>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <functional>

#include "app/language_store.h"
#include "app/message_box.h"
#include "app/result_browser.h"
#include "app/result_folder_model.h"
#include "disk/watch/device_watch.h"
#include "ui/skin_loader.h"
#include "ui/skin_notifications.h"

namespace qm {

namespace {

// Controls the window cannot work without.
const QStringList kRequiredControls = {
    "LblProductName", "TabScan", "TabFileType", "TabRecover", "BtnAssist", "TabPage", "Txt1", "Txt2",
    "ChkPhoto", "ChkMusic", "ChkVideo", "ChkOffice", "ChkArchive", "ChkOther", "ChkRecoverAll", "BtnStart",
    "DiskList", "PartitionListBar", "Label1", "Label2", "Label3", "Label4", "Label5", "Label6",
    "TypeTree", "FileList", "PreviewEdit", "SelectedFileInfo", "BtnPrev", "BtnNext", "BtnScan", "BtnRecover",
    "BtnDeletedRecovery", "BtnDeepRecovery", "BtnFormattedRecovery", "BtnCreateImageMode", "TxtMainInfo",
    "BtnLoadImage", "BtnCreateImage", "ResultViews", "FolderSource", "FolderTree"};

// The help menu's items, each with its own behaviour below.
const QStringList kHelpMenuItems = {"item_help", "item_faq", "item_language", "item_support", "item_about",
                                    "item_exit"};

constexpr const char* kProjectPage = "https://github.com/quillmark/quillmark";

}  // namespace

CMainWnd::CMainWnd(MainWndServices services) : services_(std::move(services)) {}

CMainWnd::~CMainWnd() { EndPreview(); }

std::unique_ptr<CMainWnd> CMainWnd::Create(QString* error, MainWndServices services) {
  LoadedLayout layout = SkinLoader::Load("skin.ui", kRequiredControls);
  if (!layout.root) {
    if (error != nullptr) *error = layout.error;
    return nullptr;
  }
  std::unique_ptr<CMainWnd> window(new CMainWnd(std::move(services)));
  window->setObjectName("FileRecoveryWnd");
  window->layout_ = layout.root.release();
  auto* column = new QVBoxLayout(window.get());
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(window->layout_);
  window->setWindowTitle(kTitle);
  window->setWindowIcon(QIcon(":/skin/images/logo.svg"));
  window->setMinimumSize(1000, 650);
  window->resize(1000, 650);
  window->pages_ = FindControlAs<QStackedWidget>(window->layout_, "TabPage");
  if (const QString menuError = window->BuildHelpMenu(); !menuError.isEmpty()) {
    if (error != nullptr) *error = menuError;
    return nullptr;
  }
  CMainWnd* self = window.get();
  // The select-all box sits in the file list's header, over the column of
  // the row check boxes.
  auto* fileList = FindControlAs<QTreeView>(window->layout_, "FileList");
  auto* selectAll = new QCheckBox(fileList->header());
  selectAll->setObjectName("ChkAllListSel");
  const auto placeSelectAll = [fileList, selectAll] {
    QHeaderView* header = fileList->header();
    const QSize box = selectAll->sizeHint();
    selectAll->move(header->sectionViewportPosition(0) + (header->sectionSize(0) - box.width()) / 2 + 2,
                    (header->height() - box.height()) / 2);
  };
  connect(fileList->header(), &QHeaderView::geometriesChanged, selectAll, placeSelectAll);
  connect(fileList->header(), &QHeaderView::sectionResized, selectAll, placeSelectAll);
  window->browser_ = new ResultBrowser({fileList,
                                        FindControlAs<QTreeWidget>(window->layout_, "TypeTree"), selectAll,
                                        FindControlAs<QLabel>(window->layout_, "SelectedFileInfo"),
                                        FindControlAs<QAbstractButton>(window->layout_, "BtnRecover")},
                                       window->selection_, self);
  connect(FindControlAs<QComboBox>(window->layout_, "FolderSource"), &QComboBox::currentIndexChanged, self,
          [self](int index) { self->ShowFolders(index); });
  window->SetUpPreview();
  window->notifications_ =
      new SkinNotifications(window->layout_, [self](const Notification& n) { self->OnNotification(n); });
  // The mode buttons describe themselves while the mouse is over them.
  for (const char* name : {"BtnDeletedRecovery", "BtnDeepRecovery", "BtnFormattedRecovery", "BtnCreateImageMode"}) {
    FindControl(window->layout_, name)->installEventFilter(self);
  }

  auto* diskView = FindControlAs<QTreeWidget>(window->layout_, "DiskList");
  diskView->setColumnWidth(0, 330);
  window->disks_ = new CDiskList(diskView, window->services_.enumerate, window->services_.volumeItems,
                                 window->services_.imageItems);
  connect(window->disks_, &CDiskList::RowChosen, self, [self](QTreeWidgetItem* row) { self->ShowDiskInfo(row); });
  connect(diskView, &QTreeWidget::itemDoubleClicked, self, [self](QTreeWidgetItem* row) {
    if (self->disks_->ItemOf(row) && !self->imageMode_) self->StartScan();
  });
  // The disks come in from a worker; when the page of disks is already
  // shown by then, it chooses among them as on entering it.
  connect(window->disks_, &CDiskList::Refreshed, self, [self] {
    if (self->CurrentPage() == 1 && self->disks_->View()->currentItem() == nullptr) {
      self->disks_->PrepareForPage(self->imageMode_);
    }
  });
  window->disks_->Refresh(CDiskList::RefreshMode::kBuild);
  if (window->services_.watchDevices) window->WatchDevices();

  window->ApplyTexts();
  window->ShowPage(0);
  return window;
}

QString CMainWnd::BuildHelpMenu() {
  LoadedLayout items = SkinLoader::Load("menu_assist.ui", kHelpMenuItems);
  if (!items.root) return items.error;
  helpMenu_ = new QMenu(this);
  helpMenu_->setObjectName("menu_assist");
  const QHash<QString, std::function<void()>> handlers = {
      {"item_help", [] { QDesktopServices::openUrl(QUrl(kProjectPage)); }},
      {"item_faq", [] { QDesktopServices::openUrl(QUrl(kProjectPage)); }},
      {"item_support", [] { QDesktopServices::openUrl(QUrl(QString(kProjectPage) + "/issues")); }},
      {"item_about",
       [this] {
         CMessageBox::Show(CMessageBox::Information, this,
                           QString("Quillmark %1\nFinds and recovers deleted and lost files.").arg(QUILLMARK_VERSION));
       }},
      {"item_exit", [this] { emit QuitRequested(); }},
  };
  // The menu takes the layout's own actions, in the layout's order, so the
  // skin decides order, separators and default texts.
  auto* languages = new QMenu(helpMenu_);
  QStringList listed;
  for (QAction* action : items.root->actions()) {
    action->setParent(helpMenu_);
    helpMenu_->addAction(action);
    listed << action->objectName();
    if (action->objectName() == "item_language") action->setMenu(languages);
    if (const auto handler = handlers.constFind(action->objectName()); handler != handlers.cend()) {
      connect(action, &QAction::triggered, this, *handler);
    }
  }
  for (const QString& item : kHelpMenuItems) {
    if (!listed.contains(item)) {
      return QString("The window layout \"xml/menu_assist.ui\" does not put \"%1\" in the menu. "
                     "Reinstall Quillmark to restore the skin.")
          .arg(item);
    }
  }
  auto* group = new QActionGroup(languages);
  for (const auto& [name, text] : LanguageStore::Instance().Languages()) {
    QAction* action = languages->addAction(text);
    action->setObjectName(name);
    action->setCheckable(true);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, name] { ChangeLanguage(name); });
  }
  auto* assist = FindControlAs<QToolButton>(layout_, "BtnAssist");
  assist->setMenu(helpMenu_);
  assist->setPopupMode(QToolButton::InstantPopup);
  return {};
}

void CMainWnd::ApplyTexts() {
  LanguageStore& store = LanguageStore::Instance();
  store.ApplyWindowTexts(layout_, "MainWnd");
  const QString product = store.Text("Messages", "MSG1209");
  if (!product.isEmpty()) FindControlAs<QLabel>(layout_, "LblProductName")->setText(product);
  const TextSection menuTexts = store.Section("MenuWnd");
  const QString current = store.CurrentLanguage();
  for (QAction* action : helpMenu_->findChildren<QAction*>()) {
    const QString text = menuTexts.value(action->objectName());
    if (!text.isEmpty()) action->setText(text);
    if (action->isCheckable()) action->setChecked(action->objectName() == current);
  }
  // Tab titles are not the text of a control of their own.
  auto* views = FindControlAs<QTabWidget>(layout_, "ResultViews");
  for (int tab = 0; tab < views->count(); ++tab) {
    const QString text = store.Text("MainWnd", views->widget(tab)->objectName());
    if (!text.isEmpty()) views->setTabText(tab, text);
  }
  if (browser_ != nullptr) browser_->RefreshSummary();
  FindControl(layout_, "PreviewEdit")->setToolTip(Message("MSG0907"));
}

void CMainWnd::ChangeLanguage(const QString& language) {
  LanguageStore::Instance().SetLanguage(language);
  ApplyTexts();
  // The banner and the details of the chosen disk are texts of the page
  // shown, not of a control of their own.
  ShowPage(CurrentPage());
  if (QTreeWidgetItem* row = disks_->View()->currentItem()) ShowDiskInfo(row);
}

int CMainWnd::CurrentPage() const { return pages_->currentIndex(); }

QString CMainWnd::Message(const char* key) const { return LanguageStore::Instance().Text("Messages", key); }

void CMainWnd::ShowPage(int page) {
  pages_->setCurrentIndex(page);
  // The banner says what the page is for.
  const auto banner = [&](const char* titleKey, const QString& text, const char* image) {
    const QString title = Message(titleKey);
    if (!title.isEmpty()) FindControlAs<QLabel>(layout_, "Txt1")->setText(title);
    if (!text.isEmpty()) FindControlAs<QLabel>(layout_, "Txt2")->setText(text);
    FindControlAs<QLabel>(layout_, "ToolBar2Logo")->setPixmap(QIcon(image).pixmap(40, 40));
  };
  if (page == 0) {
    const TextSection texts = LanguageStore::Instance().Section("MainWnd");
    FindControlAs<QLabel>(layout_, "Txt1")->setText(texts.value("Txt1", FindControlAs<QLabel>(layout_, "Txt1")->text()));
    FindControlAs<QLabel>(layout_, "Txt2")->setText(texts.value("Txt2", FindControlAs<QLabel>(layout_, "Txt2")->text()));
    FindControlAs<QLabel>(layout_, "ToolBar2Logo")->setPixmap(QIcon(":/skin/images/scan.svg").pixmap(40, 40));
  } else if (page == 1) {
    if (imageMode_) {
      banner("MSG0212", Message("MSG0213"), ":/skin/images/image_file.svg");
    } else {
      banner("MSG0501", Message("MSG0502"), ":/skin/images/scan.svg");
    }
  } else if (page == 2) {
    banner("MSG0601", Message("MSG0602"), ":/skin/images/scan.svg");
  } else {
    const QString found = Message("MSG0802");
    banner("MSG0801", found.isEmpty() ? QString() : QString(found).replace("%s", QString::number(resultCount_)),
           ":/skin/images/recover.svg");
  }
  auto* scan = FindControlAs<QPushButton>(layout_, "BtnScan");
  scan->setText(imageMode_ && page == 1 ? Message("MSG0211") : LanguageStore::Instance().Text("MainWnd", "BtnScan"));
  scan->setVisible(page == 1 || page == 2);
  FindControl(layout_, "BtnRecover")->setVisible(page == 3);
  FindControl(layout_, "BtnPrev")->setVisible(page > 0);
  FindControl(layout_, "BtnNext")->setVisible(page == 1 || page == 2);
  FindControl(layout_, "SelectedFileInfo")->setVisible(page == 3);
  FindControl(layout_, "BtnLoadImage")->setVisible(!imageMode_);
  // The first page carries its own Start button; an empty footer would be
  // a bare band.
  FindControl(layout_, "SubBar1")->setVisible(page != 0);
  const char* tab = page == 1 ? "TabScan" : page == 2 ? "TabFileType" : page == 3 ? "TabRecover" : nullptr;
  if (tab != nullptr) {
    auto* button = FindControlAs<QAbstractButton>(layout_, tab);
    const QSignalBlocker quiet(button);
    button->setChecked(true);
  }
}

void CMainWnd::EnterDiskPage() {
  ShowPage(1);
  disks_->PrepareForPage(imageMode_);
}

bool CMainWnd::eventFilter(QObject* watched, QEvent* event) {
  if (preview_.edit != nullptr && watched == preview_.edit->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    OpenPreviewWindow();
    return true;
  }
  static const QHash<QString, const char*> kDescriptions = {{"BtnDeletedRecovery", "MSG0101"},
                                                           {"BtnDeepRecovery", "MSG0102"},
                                                           {"BtnFormattedRecovery", "MSG0103"},
                                                           {"BtnCreateImageMode", "MSG0104"}};
  const auto found = kDescriptions.constFind(watched->objectName());
  if (found != kDescriptions.cend() && (event->type() == QEvent::Enter || event->type() == QEvent::Leave)) {
    auto* info = FindControlAs<QLabel>(layout_, "TxtMainInfo");
    info->setText(event->type() == QEvent::Enter ? Message(*found)
                                                 : LanguageStore::Instance().Text("MainWnd", "TxtMainInfo"));
  }
  return QWidget::eventFilter(watched, event);
}

void CMainWnd::OnCategoryBox(const QString& name, bool checked) {
  static const QHash<QString, const char*> kGroups = {{"ChkPhoto", "FileTypePhoto"}, {"ChkMusic", "FileTypeAudio"},
                                                     {"ChkVideo", "FileTypeVideo"}, {"ChkOffice", "FileTypeOffice"},
                                                     {"ChkArchive", "FileTypeZip"},  {"ChkOther", "FileTypeOther"}};
  if (name == u"ChkRecoverAll") {
    for (auto it = kGroups.cbegin(); it != kGroups.cend(); ++it) {
      FindControlAs<QAbstractButton>(layout_, it.key())->setChecked(checked);
    }
  } else if (const auto group = kGroups.constFind(name); group != kGroups.cend()) {
    for (QAbstractButton* option : FindControl(layout_, *group)->findChildren<QAbstractButton*>()) {
      option->setChecked(checked);
    }
  }
  bool any = false;
  for (auto it = kGroups.cbegin(); it != kGroups.cend(); ++it) {
    any = any || FindControlAs<QAbstractButton>(layout_, it.key())->isChecked();
  }
  FindControl(layout_, "BtnStart")->setEnabled(any);
}

void CMainWnd::ShowDiskInfo(QTreeWidgetItem* row) {
  const QStringList lines = disks_->InfoLines(row);
  if (lines.isEmpty()) return;
  diskChosen_ = true;
  for (int i = 0; i < 6; ++i) {
    auto* label = FindControlAs<QLabel>(layout_, QString("Label%1").arg(i + 1));
    label->setText(lines.value(i));
    label->setToolTip(lines.value(i));  // shown only where the text is cut
  }
}

void CMainWnd::OnNotification(const Notification& n) {
  if (n.type == u"selectchanged") {
    if (n.value == 1 && n.control == u"TabScan") ShowPage(1);
    if (n.value == 1 && n.control == u"TabFileType") ShowPage(2);
    if (n.value == 1 && n.control == u"TabRecover") ShowPage(3);
    if (n.control.startsWith(u"Chk") && n.control != u"ChkAllListSel") OnCategoryBox(n.control, n.value != 0);
    return;
  }
  if (n.type != u"click") return;
  const QString& c = n.control;
  if (c == u"BtnStart" || c == u"BtnDeepRecovery" || c == u"BtnFormattedRecovery") {
    scanMode_ = kDeepScan;
    imageMode_ = false;
    EnterDiskPage();
  } else if (c == u"BtnDeletedRecovery") {
    scanMode_ = kQuickScan;
    imageMode_ = false;
    EnterDiskPage();
  } else if (c == u"BtnCreateImageMode") {
    imageMode_ = true;
    EnterDiskPage();
  } else if (c == u"BtnScan") {
    if (imageMode_ && CurrentPage() == 1) CreateImage();
    else StartScan();
  } else if (c == u"BtnRecover") {
    Recover(selection_.Records());
  } else if (c == u"BtnLoadImage") {
    LoadImage();
  } else if (c == u"BtnCreateImage") {
    CreateImage();
  } else if (c == u"BtnNext") {
    const int page = CurrentPage();
    if (page == 0) {
      EnterDiskPage();
    } else if (page == 1) {
      if (!diskChosen_ || !disks_->ItemOf(disks_->View()->currentItem())) {
        CMessageBox::Show(CMessageBox::Information, this, "Please select disk media for next step!");
      } else {
        ShowPage(2);
      }
    } else if (page == 2) {
      ShowPage(3);
    }
  } else if (c == u"BtnPrev") {
    const int page = CurrentPage();
    if (page == 1) ShowPage(0);
    else if (page == 2) ShowPage(1);
    else if (page == 3) ShowPage(scanFromTypePage_ ? 2 : 1);
  }
}

}  // namespace qm
