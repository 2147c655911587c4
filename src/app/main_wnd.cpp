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
#include <QShortcut>
#include <QSignalBlocker>
#include <QActionGroup>
#include <QDesktopServices>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QToolButton>
#include <QScreen>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <functional>

#include "app/help_pages.h"
#include "app/kept_scans_dialog.h"
#include "app/keep_folders_option.h"
#include "app/language_store.h"
#include "app/message_box.h"
#include "app/file_type_tree.h"
#include "app/qt_translations.h"
#include "app/result_browser.h"
#include "app/result_folder_model.h"
#include "app/space_ticks.h"
#include "app/window_fit.h"
#include "disk/watch/device_watch.h"
#include "ui/skin_loader.h"
#include "ui/skin_notifications.h"

namespace qm {

namespace {

// The help menu's items, each with its own behaviour below.
const QStringList kHelpMenuItems = {"item_help", "item_faq", "item_language", "item_support", "item_about",
                                    "item_exit", "item_scans"};

constexpr const char* kProjectPage = "https://github.com/quillmark/quillmark";

}  // namespace

CMainWnd::CMainWnd(MainWndServices services) : services_(std::move(services)) {}

CMainWnd::~CMainWnd() {
  EndPreview();
  // The views outlive the members here and may still be asked for their
  // rows while the window closes: they let go of the selection and the
  // folders first.
  if (browser_ != nullptr) browser_->Clear();
  if (ui_.folderTree != nullptr) ui_.folderTree->setModel(nullptr);
}

std::unique_ptr<CMainWnd> CMainWnd::Create(QString* error, MainWndServices services) {
  LoadedLayout layout = SkinLoader::Load("skin.ui", MainWndControls::RequiredNames());
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
  if (!window->ui_.Bind(window->layout_, error)) return nullptr;
  // Small enough for a small or scaled screen to hold the window whole;
  // it opens larger where there is room.
  ScrollPagesWhenShort(window->ui_.pages);
  WrapButtonsWhenNarrow(window->ui_.deletedRecovery->parentWidget());
  window->setMinimumSize(kLeastMainWindowSize);
  const QSize usual(1000, 650);
  const QScreen* screen = window->screen();
  window->resize(screen != nullptr ? usual.boundedTo(screen->availableGeometry().size()) : usual);
  const MainWndControls& ui = window->ui_;
  if (const QString menuError = window->BuildHelpMenu(); !menuError.isEmpty()) {
    if (error != nullptr) *error = menuError;
    return nullptr;
  }
  CMainWnd* self = window.get();
  // The select-all box sits in the file list's header, over the column of
  // the row check boxes.
  QTreeView* fileList = ui.fileList;
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
  window->browser_ = new ResultBrowser({fileList, ui.typeTree, selectAll, ui.selectedFileInfo, ui.recover},
                                       window->selection_, self);
  TickWithSpace(fileList);
  connect(ui.folderSource, &QComboBox::currentIndexChanged, self, [self](int index) { self->ShowFolders(index); });
  // The list follows the view brought to the front: the chosen node of the
  // type tree, or the chosen folder's files.
  connect(ui.resultViews, &QTabWidget::currentChanged, self, [self] {
    const MainWndControls& c = self->ui_;
    if (c.resultViews->currentWidget()->isAncestorOf(c.typeTree)) {
      if (QTreeWidgetItem* node = c.typeTree->currentItem()) self->browser_->ShowNode(node);
    } else if (self->folderModel_ != nullptr && c.folderTree->currentIndex().isValid()) {
      if (auto files = self->folderModel_->FilesAt(c.folderTree->currentIndex())) self->browser_->ShowFiles(files);
    }
  });
  AddKeepFoldersBox(ui.recover);
  window->SetUpPreview();
  window->notifications_ =
      new SkinNotifications(window->layout_, [self](const Notification& n) { self->OnNotification(n); });
  // The mode buttons describe themselves while the mouse is over them.
  for (QAbstractButton* mode : {ui.deletedRecovery, ui.deepRecovery, ui.formattedRecovery, ui.createImageMode}) {
    mode->installEventFilter(self);
  }

  QTreeWidget* diskView = ui.diskList;
  diskView->setColumnWidth(0, 330);
  window->disks_ = new CDiskList(diskView, window->services_.enumerate, window->services_.volumeItems,
                                 window->services_.imageItems);
  connect(window->disks_, &CDiskList::RowChosen, self, [self](QTreeWidgetItem* row) { self->ShowDiskInfo(row); });
  connect(diskView, &QTreeWidget::itemDoubleClicked, self, [self](QTreeWidgetItem* row) {
    if (self->disks_->ItemOf(row) && !self->imageMode_) self->StartScan();
  });
  // Enter scans the source under the cursor as a double click does (the
  // view's own "activated" would also fire on a single click on desktops
  // set to open items that way).
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* enter = new QShortcut(QKeySequence(key), diskView);
    enter->setContext(Qt::WidgetShortcut);
    connect(enter, &QShortcut::activated, self, [self, diskView] {
      if (self->disks_->ItemOf(diskView->currentItem()) && !self->imageMode_) self->StartScan();
    });
  }
  // The disks come in from a worker; when the page of disks is already
  // shown by then, it chooses among them as on entering it.
  connect(window->disks_, &CDiskList::Refreshed, self, [self] {
    if (self->CurrentPage() == Page::kDisks && self->disks_->View()->currentItem() == nullptr) {
      self->disks_->PrepareForPage(self->imageMode_);
    }
  });
  window->disks_->Refresh(CDiskList::RefreshMode::kBuild);
  if (window->services_.watchDevices) window->WatchDevices();

  window->ApplyTexts();
  window->ShowPage(Page::kStart);
  return window;
}

QString CMainWnd::BuildHelpMenu() {
  LoadedLayout items = SkinLoader::Load("menu_assist.ui", kHelpMenuItems);
  if (!items.root) return items.error;
  helpMenu_ = new QMenu(this);
  helpMenu_->setObjectName("menu_assist");
  const QHash<QString, std::function<void()>> handlers = {
      {"item_help", [this] { OpenHelp(this); }},
      {"item_faq", [this] { OpenHelp(this, "questions"); }},
      {"item_support", [] { QDesktopServices::openUrl(QUrl(QString(kProjectPage) + "/issues")); }},
      {"item_about",
       [this] {
         CMessageBox::Show(CMessageBox::Information, this,
                           QString("Quillmark %1\n%2").arg(QUILLMARK_VERSION, Message("MSG1508")));
       }},
      {"item_exit", [this] { emit QuitRequested(); }},
      {"item_scans", [this] { ShowKeptScans(this); }},
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
    if (action->objectName() == "item_exit") {
      // Ctrl+Q quits from anywhere in the window, not only from the menu.
      action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
      addAction(action);
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
  ui_.assist->setMenu(helpMenu_);
  ui_.assist->setPopupMode(QToolButton::InstantPopup);
  return {};
}

void CMainWnd::ApplyTexts() {
  LanguageStore& store = LanguageStore::Instance();
  store.ApplyWindowTexts(layout_, "MainWnd");
  const QString product = store.Text("Messages", "MSG1209");
  if (!product.isEmpty()) ui_.productName->setText(product);
  ui_.mainInfo->setText(ModeInfoText());
  const TextSection menuTexts = store.Section("MenuWnd");
  const QString current = store.CurrentLanguage();
  for (QAction* action : helpMenu_->findChildren<QAction*>()) {
    const QString text = menuTexts.value(action->objectName());
    if (!text.isEmpty()) action->setText(text);
    if (action->isCheckable()) action->setChecked(action->objectName() == current);
  }
  // Tab titles are not the text of a control of their own.
  QTabWidget* views = ui_.resultViews;
  for (int tab = 0; tab < views->count(); ++tab) {
    const QString text = store.Text("MainWnd", views->widget(tab)->objectName());
    if (!text.isEmpty()) views->setTabText(tab, text);
  }
  if (browser_ != nullptr) browser_->RefreshSummary();
  ui_.previewEdit->setToolTip(Message("MSG0907"));
}

void CMainWnd::ChangeLanguage(const QString& language) {
  LanguageStore::Instance().SetLanguage(language);
  InstallQtTranslations(LanguageStore::Instance().Locale());
  ApplyTexts();
  RetranslateViews();
  // The banner and the details of the chosen disk are texts of the page
  // shown, not of a control of their own.
  ShowPage(CurrentPage());
  if (QTreeWidgetItem* row = disks_->View()->currentItem()) ShowDiskInfo(row);
}

CMainWnd::Page CMainWnd::CurrentPage() const { return static_cast<Page>(ui_.pages->currentIndex()); }

QString CMainWnd::Message(const char* key) const { return LanguageStore::Instance().Text("Messages", key); }

void CMainWnd::ShowPage(Page page) {
  ui_.pages->setCurrentIndex(static_cast<int>(page));
  // The banner says what the page is for.
  const auto banner = [&](const char* titleKey, const QString& text, const char* image) {
    const QString title = Message(titleKey);
    if (!title.isEmpty()) ui_.bannerTitle->setText(title);
    if (!text.isEmpty()) ui_.bannerText->setText(text);
    ui_.bannerLogo->setPixmap(QIcon(image).pixmap(40, 40));
  };
  switch (page) {
    case Page::kStart: {
      const TextSection texts = LanguageStore::Instance().Section("MainWnd");
      ui_.bannerTitle->setText(texts.value("Txt1", ui_.bannerTitle->text()));
      ui_.bannerText->setText(texts.value("Txt2", ui_.bannerText->text()));
      ui_.bannerLogo->setPixmap(QIcon(":/skin/images/scan.svg").pixmap(40, 40));
      break;
    }
    case Page::kDisks:
      if (imageMode_) {
        banner("MSG0212", Message("MSG0213"), ":/skin/images/image_file.svg");
      } else {
        // The mode the scan runs in is said where it starts.
        banner("MSG0501", ModeDescription(scanMode_) + " " + Message("MSG0502"), ":/skin/images/scan.svg");
      }
      break;
    case Page::kFileTypes:
      banner("MSG0601", Message("MSG0602"), ":/skin/images/scan.svg");
      break;
    case Page::kResults: {
      QString title, text;
      ResultsBanner(title, text);
      ui_.bannerTitle->setText(title);
      ui_.bannerText->setText(text);
      ui_.bannerLogo->setPixmap(QIcon(":/skin/images/recover.svg").pixmap(40, 40));
      break;
    }
  }
  const bool diskOrTypes = page == Page::kDisks || page == Page::kFileTypes;
  ui_.scan->setText(imageMode_ && page == Page::kDisks ? Message("MSG0211")
                                                       : LanguageStore::Instance().Text("MainWnd", "BtnScan"));
  ui_.scan->setVisible(diskOrTypes);
  // The results page offers the next scan (a deep one after a quick scan
  // found nothing, or resuming a stopped one) with the same button.
  if (const QString next = page == Page::kResults ? FollowUpScanText() : QString(); !next.isEmpty()) {
    ui_.scan->setText(next);
    ui_.scan->setVisible(true);
  }
  ui_.recover->setVisible(page == Page::kResults);
  // The choice of how recovered files are laid out goes with the button
  // that recovers them; set here too, as a widget hidden before its window
  // is first shown gets no hide event to follow.
  if (auto* keepFolders = layout_->findChild<QWidget*>("ChkKeepFolders")) keepFolders->setVisible(page == Page::kResults);
  ui_.previous->setVisible(page != Page::kStart);
  ui_.next->setVisible(diskOrTypes);
  ui_.selectedFileInfo->setVisible(page == Page::kResults);
  ui_.loadImage->setVisible(!imageMode_);
  // The first page carries its own Start button; an empty footer would be
  // a bare band.
  ui_.footer->setVisible(page != Page::kStart);
  QAbstractButton* tab = page == Page::kDisks       ? ui_.tabScan
                         : page == Page::kFileTypes ? ui_.tabFileType
                         : page == Page::kResults   ? ui_.tabRecover
                                                    : nullptr;
  if (tab != nullptr) {
    const QSignalBlocker quiet(tab);
    tab->setChecked(true);
  }
}

void CMainWnd::EnterDiskPage() {
  ShowPage(Page::kDisks);
  disks_->PrepareForPage(imageMode_);
}

bool CMainWnd::eventFilter(QObject* watched, QEvent* event) {
  if (preview_.edit != nullptr && watched == preview_.edit->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    OpenPreviewWindow();
    return true;
  }
  // The mode buttons describe themselves while the mouse is over them.
  const std::pair<const QObject*, const char*> descriptions[] = {{ui_.deletedRecovery, "MSG0101"},
                                                                 {ui_.deepRecovery, "MSG0102"},
                                                                 {ui_.formattedRecovery, "MSG0103"},
                                                                 {ui_.createImageMode, "MSG0104"}};
  if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
    for (const auto& [button, key] : descriptions) {
      if (watched != button) continue;
      ui_.mainInfo->setText(event->type() == QEvent::Enter ? Message(key) : ModeInfoText());
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CMainWnd::OnCategoryBox(QAbstractButton* box, bool checked) {
  if (box == ui_.recoverAll) {
    for (const MainWndControls::Category& category : ui_.categories) category.box->setChecked(checked);
  } else {
    for (const MainWndControls::Category& category : ui_.categories) {
      if (category.box != box) continue;
      for (QAbstractButton* option : category.options->findChildren<QAbstractButton*>()) option->setChecked(checked);
    }
  }
  bool any = false;
  for (const MainWndControls::Category& category : ui_.categories) any = any || category.box->isChecked();
  ui_.start->setEnabled(any);
}

void CMainWnd::ShowDiskInfo(QTreeWidgetItem* row) {
  const QStringList lines = disks_->InfoLines(row);
  if (lines.isEmpty()) return;
  diskChosen_ = true;
  for (int i = 0; i < static_cast<int>(ui_.diskInfo.size()); ++i) {
    QLabel* label = ui_.diskInfo[i];
    label->setText(lines.value(i));
    label->setToolTip(lines.value(i));  // shown only where the text is cut
  }
}

void CMainWnd::OnNotification(const Notification& n) {
  if (n.type == u"selectchanged") {
    if (n.value == 1 && n.control == u"TabScan") ShowPage(Page::kDisks);
    if (n.value == 1 && n.control == u"TabFileType") ShowPage(Page::kFileTypes);
    if (n.value == 1 && n.control == u"TabRecover") ShowPage(Page::kResults);
    if (n.control == ui_.recoverAll->objectName()) OnCategoryBox(ui_.recoverAll, n.value != 0);
    for (const MainWndControls::Category& category : ui_.categories) {
      if (n.control == category.box->objectName()) OnCategoryBox(category.box, n.value != 0);
    }
    return;
  }
  if (n.type != u"click") return;
  const QString& c = n.control;
  // Start scans for the kinds of files ticked above it.
  const std::pair<const char16_t*, int> modes[] = {{u"BtnDeletedRecovery", kQuickScan},
                                                   {u"BtnDeepRecovery", kDeepScan},
                                                   {u"BtnFormattedRecovery", kFormattedScan},
                                                   {u"BtnStart", kByFileType}};
  for (const auto& [button, mode] : modes) {
    if (c != QStringView(button)) continue;
    scanMode_ = mode;
    modeChosen_ = true;
    imageMode_ = false;
    ui_.mainInfo->setText(ModeInfoText());
    EnterDiskPage();
    return;
  }
  if (c == u"BtnCreateImageMode") {
    imageMode_ = true;
    EnterDiskPage();
  } else if (c == u"BtnScan") {
    if (CurrentPage() == Page::kResults && !FollowUpScanText().isEmpty()) RunFollowUpScan();
    else if (imageMode_ && CurrentPage() == Page::kDisks) CreateImage();
    else StartScan();
  } else if (c == u"BtnRecover") {
    Recover(selection_.Records());
  } else if (c == u"BtnLoadImage") {
    LoadImage();
  } else if (c == u"BtnCreateImage") {
    CreateImage();
  } else if (c == u"BtnNext") {
    const Page page = CurrentPage();
    if (page == Page::kStart) {
      EnterDiskPage();
    } else if (page == Page::kDisks) {
      if (!diskChosen_ || !disks_->ItemOf(disks_->View()->currentItem())) {
        CMessageBox::Show(CMessageBox::Information, this, Message("MSG1506"));
      } else {
        ShowPage(Page::kFileTypes);
      }
    } else if (page == Page::kFileTypes) {
      ShowPage(Page::kResults);
    }
  } else if (c == u"BtnPrev") {
    const Page page = CurrentPage();
    if (page == Page::kDisks) ShowPage(Page::kStart);
    else if (page == Page::kFileTypes) ShowPage(Page::kDisks);
    else if (page == Page::kResults) ShowPage(scanFromTypePage_ ? Page::kFileTypes : Page::kDisks);
  }
}

}  // namespace qm
