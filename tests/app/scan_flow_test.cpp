// The scan as the main window runs it: each mode button runs the scan it
// names and the pages say which one; a quick scan that finds nothing, and
// a scan the user stopped, lead on to the next scan; a loaded file that
// is no disk image is told as such, not as a matter of rights.
#include <QAbstractButton>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/session_scan_item.h"
#include "platform/disk_table.h"
#include "results/scan_history.h"
#include "support/test_support.h"
#include "fake_engine.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

QString Msg(const char* key) { return LanguageStore::Instance().Text("Messages", key); }

QString TextOf(CMainWnd& window, const char* control) {
  return FindControl(window.Layout(), control)->property("text").toString();
}

// Every message box that opens is written down with what its OK button
// says, and answered: OK when `accept` says so, else closed.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QObject* context, std::function<bool(const QString&)> accept = {})
      : timer_(context), accept_(std::move(accept)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      CMessageBox* box = OpenBox();
      if (box == nullptr) return;
      const QString text = FindControl(box, "message")->property("text").toString();
      said_ << text;
      okTexts_ << FindControlAs<QAbstractButton>(box, "okbtn")->text();
      const bool ok = accept_ && accept_(text);
      FindControlAs<QAbstractButton>(box, ok ? "okbtn" : "closebtn")->click();
    });
    timer_.start(10);
  }
  const QStringList& said() const { return said_; }
  const QStringList& okTexts() const { return okTexts_; }

 private:
  QTimer timer_;
  std::function<bool(const QString&)> accept_;
  QStringList said_;
  QStringList okTexts_;
};

// A machine with one card of one volume, whose item replays `script`.
struct CardDesk {
  DiskSnapshot disks;
  FakeScript script = LoadFakeScript("card_scan.json");
  std::chrono::milliseconds delay = 0ms;
  bool resumable = false;
  std::shared_ptr<FakeScanItem> item;

  CardDesk() {
    disks.disks[1] = DiskRecord{1, "/dev/sdb", "Card", 512, 1 << 16, true, false, {}, 0};
    VolumeRecord v;
    v.diskNumber = 1;
    v.letter = 4;
    v.devicePath = "/dev/sdb1";
    v.startSector = 2048;
    v.sectorCount = 2048;
    v.totalBytes = 2048 * 512;
    v.fileSystemName = "FAT32";
    disks.volumes = {v};
  }

  std::unique_ptr<CMainWnd> Window() {
    MainWndServices services;
    services.enumerate = [this] { return disks; };
    services.watchDevices = false;
    services.volumeItems = [this](const VolumeRecord& v) -> ScanItemPtr {
      item = std::make_shared<FakeScanItem>(v.letter, script, delay);
      item->resumable = resumable;
      return item;
    };
    QString error;
    auto window = CMainWnd::Create(&error, services);
    EXPECT_TRUE(window) << error.toStdString();
    if (window) window->Disks()->WaitForRefresh();
    return window;
  }
};

TEST(ScanFlow, EachModeRunsTheScanItNamesAndThePagesSayWhichOne) {
  const struct {
    const char* button;
    int mode;
    bool deep;
    bool whole;
    const char* name;         // the mode's name on the results page
    const char* description;  // under the buttons, and on the page of disks
  } cases[] = {
      {"BtnDeletedRecovery", CMainWnd::kQuickScan, false, false, "MSG1311", "MSG0101"},
      {"BtnDeepRecovery", CMainWnd::kDeepScan, true, false, "MSG1312", "MSG0102"},
      {"BtnFormattedRecovery", CMainWnd::kFormattedScan, true, true, "MSG1313", "MSG0103"},
      {"BtnStart", CMainWnd::kByFileType, true, false, "MSG1314", "MSG1315"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    CardDesk desk;
    auto window = desk.Window();
    ASSERT_TRUE(window);
    // Before a mode is chosen the line under the buttons describes none.
    EXPECT_EQ(TextOf(*window, "TxtMainInfo"), LanguageStore::Instance().Text("MainWnd", "TxtMainInfo"));
    EXPECT_FALSE(TextOf(*window, "TxtMainInfo").contains(Msg("MSG1312")));
    Click(window->Layout(), c.button);
    EXPECT_EQ(window->Mode(), c.mode);
    EXPECT_EQ(TextOf(*window, "TxtMainInfo"), Msg(c.description));
    ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kDisks);
    EXPECT_TRUE(TextOf(*window, "Txt2").startsWith(Msg(c.description)))
        << TextOf(*window, "Txt2").toStdString();
    BoxAnswerer boxes(window.get());
    Click(window->Layout(), "BtnScan");
    ASSERT_TRUE(desk.item);
    EXPECT_EQ(desk.item->openedDeep, c.deep);
    EXPECT_EQ(desk.item->wholeVolume, c.whole);
    ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults) << boxes.said().join("\n").toStdString();
    EXPECT_TRUE(TextOf(*window, "Txt1").endsWith(Msg(c.name))) << TextOf(*window, "Txt1").toStdString();
    EXPECT_TRUE(boxes.said().isEmpty()) << boxes.said().join("\n").toStdString();
  }
}

TEST(ScanFlow, AQuickScanThatFindsNothingOffersTheDeepScanOfTheSameVolume) {
  CardDesk desk;
  desk.script.files.clear();
  auto window = desk.Window();
  ASSERT_TRUE(window);
  BoxAnswerer boxes(window.get());
  Click(window->Layout(), "BtnDeletedRecovery");
  Click(window->Layout(), "BtnScan");
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  EXPECT_EQ(window->ResultCount(), 0u);
  EXPECT_TRUE(TextOf(*window, "Txt2").contains(Msg("MSG1304")));
  auto* offer = FindControlAs<QAbstractButton>(window->Layout(), "BtnScan");
  ASSERT_FALSE(offer->isHidden());
  EXPECT_EQ(offer->text(), Msg("MSG1307"));
  const ScanItemPtr scanned = desk.item;
  desk.item->openedDeep = false;
  offer->click();
  EXPECT_EQ(desk.item, scanned);
  EXPECT_TRUE(desk.item->openedDeep);
  EXPECT_EQ(desk.item->opens, 2);
  EXPECT_EQ(window->Mode(), CMainWnd::kDeepScan);
  EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  // A deep scan that found nothing offers nothing further.
  EXPECT_TRUE(FindControl(window->Layout(), "BtnScan")->isHidden());
  EXPECT_TRUE(boxes.said().isEmpty()) << boxes.said().join("\n").toStdString();
}

TEST(ScanFlow, AStoppedScanSaysHowFarItGotAndResumesWithoutAskingAgain) {
  CardDesk desk;
  desk.delay = 15ms;
  desk.resumable = true;
  auto window = desk.Window();
  ASSERT_TRUE(window);
  Click(window->Layout(), "BtnDeepRecovery");
  // Stopped once four reports (0 to 30 %) are through: the scan then stands
  // at 30 %, as the question holds the worker at its next report.
  When(window.get(), [&] { return desk.item && desk.item->Fake() && desk.item->Fake()->Accepted().size() >= 4; },
       [] {
         QWidget* progress = QApplication::activeModalWidget();
         AnswerNextBox(true);
         Click(progress, "cancelbtn");
       });
  // The interrupted scan the fake item holds is resumed when asked.
  AnswerNextBox(true);
  Click(window->Layout(), "BtnScan");
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  const int percent = desk.item->Fake()->Accepted().back();
  EXPECT_TRUE(TextOf(*window, "Txt1").startsWith(Msg("MSG1301").arg(percent).arg(window->ResultCount())))
      << TextOf(*window, "Txt1").toStdString();
  auto* offer = FindControlAs<QAbstractButton>(window->Layout(), "BtnScan");
  ASSERT_FALSE(offer->isHidden());
  EXPECT_EQ(offer->text(), Msg("MSG1305"));

  // Resuming is what the user chose: the question is not put again.
  BoxAnswerer boxes(window.get());
  offer->click();
  EXPECT_TRUE(boxes.said().isEmpty()) << boxes.said().join("\n").toStdString();
  EXPECT_FALSE(desk.item->afresh);
  EXPECT_TRUE(desk.item->openedDeep);
  EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  EXPECT_TRUE(TextOf(*window, "Txt1").startsWith(Msg("MSG0801"))) << TextOf(*window, "Txt1").toStdString();
}

// A loaded file, scanned quickly through the real scan session.
struct LoadedFile {
  const char* what;
  std::string content;
  const char* key;  // what the user is told, with the file's name
  bool offersDeepScan;
};

TEST(ScanFlow, AFileThatIsNoDiskImageIsSaidToBeSoNotBlamedOnRights) {
  qm::test::TempDir folder;
  std::string random(64 * 1024, '\0');
  uint32_t seed = 12345;
  for (char& byte : random) byte = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
  const LoadedFile cases[] = {
      {"a text file", std::string(4000, 'x') + "\nnotes\n", "MSG1331", true},
      {"random bytes", random, "MSG1331", true},
      {"an empty file", "", "MSG1333", false},
      {"less than a sector", "tiny", "MSG1334", false},
  };
  for (const LoadedFile& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = folder / (std::string(c.what) + ".img");
    qm::test::WriteBytes(file, c.content);
    DiskTable table({});
    MainWndServices services;
    services.enumerate = [&table] { return EnumerateDisks(table); };
    services.imageItems = [&table](uint16_t tag, const QString& path) -> ScanItemPtr {
      return std::make_shared<SessionScanItem>(tag, path.toStdString(), path, GetScanHistory(), table);
    };
    services.watchDevices = false;
    services.chooseImageToLoad = [&](QWidget*) { return QString::fromStdString(file.string()); };
    QString error;
    auto window = CMainWnd::Create(&error, services);
    ASSERT_TRUE(window) << error.toStdString();
    window->Disks()->WaitForRefresh();
    // The deep scan offered is taken for random bytes: it runs on the file.
    BoxAnswerer boxes(window.get(), [&c](const QString&) { return c.content.size() > 5000; });
    Click(window->Layout(), "BtnDeletedRecovery");
    Click(window->Layout(), "BtnLoadImage");
    Click(window->Layout(), "BtnScan");
    ASSERT_FALSE(boxes.said().isEmpty());
    const QString said = boxes.said().front();
    EXPECT_EQ(said.toStdString(), Msg(c.key).arg(QString::fromStdString(file.filename().string())).toStdString());
    EXPECT_FALSE(said.contains("sudo") || said.contains("disk\" group")) << said.toStdString();
    EXPECT_EQ(boxes.okTexts().front(), c.offersDeepScan ? Msg("MSG1307") : LanguageStore::Instance().Text("MessageBox", "okbtn"));
    if (c.content.size() > 5000) {
      EXPECT_EQ(window->Mode(), CMainWnd::kDeepScan);
      EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults) << boxes.said().join("\n").toStdString();
    } else {
      EXPECT_NE(window->CurrentPage(), CMainWnd::Page::kResults);
    }
  }
}

TEST(ScanFlow, AnImageShorterThanItsVolumeIsSaidToBeSoAtScanTime) {
  if (!qm::test::HaveTool("mkfs.fat") || !qm::test::HaveTool("mcopy")) GTEST_SKIP() << "mtools or mkfs.fat missing";
  qm::test::TempDir folder;
  qm::test::FatImageBuilder fat(folder / "card.img", 16, 16384, 4);
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.AddFile("a.txt", "kept"));
  fs::resize_file(fat.image(), 8192 * 1024);
  DiskTable table({});
  MainWndServices services;
  services.enumerate = [&table] { return EnumerateDisks(table); };
  services.imageItems = [&table](uint16_t tag, const QString& path) -> ScanItemPtr {
    return std::make_shared<SessionScanItem>(tag, path.toStdString(), path, GetScanHistory(), table);
  };
  services.watchDevices = false;
  services.chooseImageToLoad = [&](QWidget*) { return QString::fromStdString(fat.image().string()); };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  window->Disks()->WaitForRefresh();
  BoxAnswerer boxes(window.get());
  Click(window->Layout(), "BtnDeletedRecovery");
  Click(window->Layout(), "BtnLoadImage");
  Click(window->Layout(), "BtnScan");
  ASSERT_EQ(boxes.said().size(), 1) << boxes.said().join("\n").toStdString();
  EXPECT_TRUE(boxes.said().front().startsWith(Msg("MSG1336").arg("card.img"))) << boxes.said().front().toStdString();
  EXPECT_TRUE(boxes.said().front().contains("runs past the end of its source")) << boxes.said().front().toStdString();
  EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
}

}  // namespace
}  // namespace qm::testing
