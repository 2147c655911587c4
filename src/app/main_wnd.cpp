#include "app/main_wnd.h"

#include <QAbstractButton>
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
#include "ui/skin_loader.h"
#include "ui/skin_notifications.h"

namespace qm {

namespace {

// Controls the window cannot work without.
const QStringList kRequiredControls = {
    "LblProductName", "TabScan", "TabFileType", "TabRecover", "BtnAssist", "TabPage", "Txt1", "Txt2",
    "ChkPhoto", "ChkMusic", "ChkVideo", "ChkOffice", "ChkArchive", "ChkOther", "ChkRecoverAll", "BtnStart",
    "DiskList", "PartitionListBar", "Label1", "Label2", "Label3", "Label4", "Label5", "Label6",
    "TypeTree", "FileList", "PreviewEdit", "SelectedFileInfo", "BtnPrev", "BtnNext", "BtnScan", "BtnRecover"};

// The help menu's items, each with its own behaviour below.
const QStringList kHelpMenuItems = {"item_help", "item_faq", "item_language", "item_support", "item_about",
                                    "item_exit"};

constexpr const char* kProjectPage = "https://github.com/quillmark/quillmark";

}  // namespace

CMainWnd::CMainWnd() = default;

std::unique_ptr<CMainWnd> CMainWnd::Create(QString* error) {
  LoadedLayout layout = SkinLoader::Load("skin.ui", kRequiredControls);
  if (!layout.root) {
    if (error != nullptr) *error = layout.error;
    return nullptr;
  }
  std::unique_ptr<CMainWnd> window(new CMainWnd());
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
  // The first column of the file list holds only the check boxes.
  if (auto* files = FindControlAs<QTreeWidget>(window->layout_, "FileList")) files->setColumnWidth(0, 36);
  CMainWnd* self = window.get();
  window->notifications_ =
      new SkinNotifications(window->layout_, [self](const Notification& n) { self->OnNotification(n); });
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
}

void CMainWnd::ChangeLanguage(const QString& language) {
  LanguageStore::Instance().SetLanguage(language);
  ApplyTexts();
}

void CMainWnd::ShowPage(int page) {
  pages_->setCurrentIndex(page);
  // The banner says what the page is for.
  const LanguageStore& store = LanguageStore::Instance();
  const auto banner = [&](const char* titleKey, const QString& text, const char* image) {
    const QString title = store.Text("Messages", titleKey);
    if (!title.isEmpty()) FindControlAs<QLabel>(layout_, "Txt1")->setText(title);
    if (!text.isEmpty()) FindControlAs<QLabel>(layout_, "Txt2")->setText(text);
    FindControlAs<QLabel>(layout_, "ToolBar2Logo")->setPixmap(QIcon(image).pixmap(40, 40));
  };
  if (page == 0) {
    const TextSection texts = store.Section("MainWnd");
    FindControlAs<QLabel>(layout_, "Txt1")->setText(texts.value("Txt1", FindControlAs<QLabel>(layout_, "Txt1")->text()));
    FindControlAs<QLabel>(layout_, "Txt2")->setText(texts.value("Txt2", FindControlAs<QLabel>(layout_, "Txt2")->text()));
  } else if (page == 1) {
    banner("MSG0501", store.Text("Messages", "MSG0502"), ":/skin/images/scan.svg");
  } else if (page == 2) {
    banner("MSG0601", store.Text("Messages", "MSG0602"), ":/skin/images/scan.svg");
  } else {
    const QString found = store.Text("Messages", "MSG0802");
    banner("MSG0801", found.isEmpty() ? QString() : QString(found).replace("%s", "0"), ":/skin/images/recover.svg");
  }
  FindControl(layout_, "BtnScan")->setVisible(page == 1 || page == 2);
  FindControl(layout_, "BtnRecover")->setVisible(page == 3);
  FindControl(layout_, "BtnPrev")->setVisible(page > 0);
  FindControl(layout_, "BtnNext")->setVisible(page == 1);
  FindControl(layout_, "SelectedFileInfo")->setVisible(page == 3);
  // The first page carries its own Start button; an empty footer would be
  // a bare band.
  FindControl(layout_, "SubBar1")->setVisible(page != 0);
}

void CMainWnd::OnNotification(const Notification& n) {
  if (n.type == u"selectchanged" && n.value == 1) {
    if (n.control == u"TabScan") ShowPage(1);
    if (n.control == u"TabFileType") ShowPage(2);
    if (n.control == u"TabRecover") ShowPage(3);
  } else if (n.type == u"click") {
    if (n.control == u"BtnStart" || n.control == u"BtnNext") {
      FindControlAs<QAbstractButton>(layout_, "TabScan")->setChecked(true);
      ShowPage(1);
    } else if (n.control == u"BtnPrev") {
      ShowPage(0);
    }
  }
}

}  // namespace qm
