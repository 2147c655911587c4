// The help menu's local help and kept scans, the recovery window's Open
// folder, and the questions of the image dialogs.
#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "app/help_pages.h"
#include "app/image_destination.h"
#include "app/image_file_dialog.h"
#include "app/kept_scans_dialog.h"
#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/message_format.h"
#include "app/recover_process_wnd.h"
#include "app_test_env.h"
#include "fake_engine.h"
#include "session/scan_info.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {

// Stands in for the desktop's browser and file manager: takes every file
// URL the program asks to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }
  Q_INVOKABLE void Open(const QUrl& url) { urls << url; }
  QList<QUrl> urls;
};

namespace {

using namespace std::chrono_literals;

QString Text(const char* key) { return LanguageStore::Instance().Text("Messages", key); }

std::unique_ptr<CMainWnd> MakeWindow(MainWndServices services = {}) {
  services.enumerate = [] { return DiskSnapshot{}; };
  services.watchDevices = false;
  QString error;
  auto window = CMainWnd::Create(&error, std::move(services));
  EXPECT_TRUE(window) << error.toStdString();
  return window;
}

void Trigger(CMainWnd& window, const char* item) {
  for (QAction* action : window.HelpMenu()->actions()) {
    if (action->objectName() == item) return action->trigger();
  }
  ADD_FAILURE() << "no menu item " << item;
}

// Help and the questions open the page of the chosen language from the
// disk, the questions at their own section.
TEST(HelpMenu, OpensTheShippedPageOfTheLanguageAtItsSection) {
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  const fs::path help = AppTestFolder() / "share" / "help";
  struct Case {
    const char* language;
    const char* item;
    const char* page;
    const char* section;
  };
  const Case cases[] = {{"English", "item_help", "English.html", ""},
                        {"English", "item_faq", "English.html", "questions"},
                        {"German", "item_faq", "German.html", "questions"}};
  for (const Case& c : cases) {
    window->ChangeLanguage(c.language);
    UrlCatcher browser;
    Trigger(*window, c.item);
    ASSERT_EQ(browser.urls.size(), 1) << c.item;
    const QUrl& url = browser.urls.front();
    EXPECT_EQ(url.toLocalFile(), QString::fromStdString((help / c.page).string())) << c.item;
    EXPECT_EQ(url.fragment(), c.section) << c.item;
    if (*c.section != '\0') {
      std::ifstream page(help / c.page);
      const std::string html((std::istreambuf_iterator<char>(page)), {});
      EXPECT_NE(html.find(std::string("id=\"") + c.section + "\""), std::string::npos) << c.page;
    }
  }
  window->ChangeLanguage("English");
}

// With nothing on the desktop to open a page or a folder (the offscreen
// platform has nothing), the user is told where the file is.
TEST(HelpMenu, WithoutABrowserOrFileManagerThePathIsShown) {
  auto window = MakeWindow();
  ASSERT_TRUE(window);
  QString said;
  AnswerNextBox(true, {}, &said);
  Trigger(*window, "item_help");
  EXPECT_EQ(said, FillMessage(Text("MSG1456"), {HelpPagePath()}));
  EXPECT_TRUE(HelpPagePath().endsWith("/help/English.html"));

  qm::test::TempDir destination;
  const QString folder = QString::fromStdString(destination.path().string());
  auto recover = CRecoverProcessWnd::Create(RecoverJob{{}, {}, folder}, nullptr);
  ASSERT_TRUE(recover);
  QString aboutFolder;
  QList<QUrl> opened;
  When(recover.get(), [&] { return !FindControl(recover->Content(), "FinishBtn")->isHidden(); },
       [&] {
         AnswerNextBox(true, {}, &aboutFolder);
         Click(recover->Content(), "OpenBtn");
         {
           UrlCatcher fileManager;
           Click(recover->Content(), "OpenBtn");
           opened = fileManager.urls;
         }
         Click(recover->Content(), "FinishBtn");
       });
  recover->exec();
  EXPECT_EQ(aboutFolder, FillMessage(Text("MSG1458"), {folder}));
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened.front().toLocalFile(), folder);
}

// The image dialog offers the kinds of image people have, and opens where
// the last image came from, also after a restart.
TEST(ImageDialogs, LoadOffersTheImageKindsAndRemembersTheFolder) {
  const QStringList filters = DiskImageFilter().split(";;");
  ASSERT_EQ(filters.size(), 2);
  for (const char* kind : {"*.img", "*.dd", "*.raw", "*.bin", "*.iso", "*.001", "*.E01", "*.vhd"}) {
    EXPECT_TRUE(filters[0].contains(kind)) << kind;
  }
  EXPECT_EQ(filters[1], Text("MSG1460") + " (*)");

  qm::test::TempDir folder;
  const fs::path image = folder / "card.dd";
  std::ofstream(image) << "not much";
  FakeScanItem item(1, LoadFakeScript("card_scan.json"), 0ms);
  MainWndServices services;
  services.chooseImageToLoad = [&](QWidget*) { return QString::fromStdString(image.string()); };
  services.imageItems = [&](uint16_t, const QString&) { return Borrow(item); };
  auto window = MakeWindow(services);
  ASSERT_TRUE(window);
  window->LoadImage();
  EXPECT_EQ(LastImageFolder(), QString::fromStdString(folder.path().string()));
  QSettings stored(QSettings::IniFormat, QSettings::UserScope, "Quillmark Pro", "quillmark");
  EXPECT_TRUE(stored.fileName().startsWith(QString::fromStdString((AppTestFolder() / "config").string())))
      << stored.fileName().toStdString();
}

// An image of one volume is offered a plain file name, without the notation
// of a partition inside an image or its file system and size, and never the
// name of the image it copies.
TEST(ImageDialogs, ThePartitionsImageNameIsPlain) {
  const std::pair<const char*, const char*> cases[] = {
      {"/home/ann/diskD.img@1", "diskD-partition1"},
      {"/media/card.dd@2", "card-partition2"},
      {"/srv/images/my.disk.img@12", "my.disk-partition12"},
      {"/dev/sdb1", "sdb1"},
      {"/dev/nvme0n1p3", "nvme0n1p3"},
      {"/home/ann/card.img", "card-copy"},
  };
  for (const auto& [device, name] : cases) EXPECT_EQ(ProposedImageName(device), name) << device;
}

// The kept scans are listed with their source, and one can be removed with
// its logs after a question.
TEST(KeptScans, AreListedAndOneIsRemovedAfterAsking) {
  qm::test::TempDir data;
  const fs::path scanLog = data / "ScanLog";
  const auto keep = [&](int number, const char* source, const char* engine) {
    session::ScanInfo info;
    info.source = source;
    info.path = source;
    info.kind = "image";
    info.engine = engine;
    info.started = "2026-12-10 14:03:11";
    info.filesFound = 7;
    info.finished = true;
    fs::create_directories(scanLog / std::to_string(number));
    ASSERT_EQ(session::WriteScanInfo(scanLog / std::to_string(number), info), 0);
  };
  keep(3, "/home/ann/card.img", "FAT");
  keep(4, "/home/ann/disk.img", session::kDeepEngine);

  KeptScansDialog dialog(nullptr);
  auto* list = FindControlAs<QTreeWidget>(&dialog, "ScanList");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(2), "/home/ann/card.img");
  EXPECT_EQ(list->topLevelItem(1)->text(3), Text("MSG1476"));
  if (const QString shots = qEnvironmentVariable("QUILLMARK_SCREENSHOTS"); !shots.isEmpty()) {
    dialog.show();
    QDir().mkpath(shots);
    EXPECT_TRUE(dialog.grab().save(shots + "/KeptScansWnd@1x.png"));
  }

  // Cancelled: nothing goes.
  list->setCurrentItem(list->topLevelItem(1));
  AnswerNextBox(false);
  Click(&dialog, "RemoveBtn");
  EXPECT_TRUE(fs::exists(scanLog / "4"));

  QString question;
  AnswerNextBox(true, {}, &question);
  Click(&dialog, "RemoveBtn");
  EXPECT_EQ(question, FillMessage(Text("MSG1472"), {"4", "/home/ann/disk.img"}));
  EXPECT_FALSE(fs::exists(scanLog / "4"));
  EXPECT_TRUE(fs::exists(scanLog / "3"));
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "3");
}

}  // namespace
}  // namespace qm::testing

#include "help_and_dialogs_test.moc"
