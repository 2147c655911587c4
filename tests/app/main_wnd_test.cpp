#include "app/main_wnd.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTreeWidget>
#include <filesystem>
#include <condition_variable>
#include <mutex>
#include <set>
#include <gtest/gtest.h>

#include "app/file_type_tree.h"
#include "app/language_store.h"
#include "app/result_browser.h"
#include "fake_engine.h"
#include "session/same_disk.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

// A machine with one fixed disk of three volumes and a card reader whose
// card holds one; every item the window opens is a fake that logs its key.
struct FakeDesk {
  DiskSnapshot disks;
  std::vector<uint16_t> opened;

  FakeDesk() {
    const auto volume = [](int disk, uint16_t letter, const std::string& device, uint64_t start) {
      VolumeRecord v;
      v.diskNumber = disk;
      v.letter = letter;
      v.devicePath = device;
      v.startSector = start;
      v.sectorCount = 2048;
      v.totalBytes = 2048 * 512;
      v.fileSystemName = "FAT32";
      return v;
    };
    disks.disks[0] = DiskRecord{0, "/dev/sda", "Fixed", 512, 1 << 20, false, false, {}, 0};
    disks.disks[1] = DiskRecord{1, "/dev/sdb", "Card", 512, 1 << 16, true, false, {}, 0};
    disks.volumes = {volume(0, 1, "/dev/sda1", 2048), volume(0, 2, "/dev/sda2", 4096),
                     volume(0, 3, "/dev/sda3", 8192), volume(1, 4, "/dev/sdb1", 2048)};
  }

  MainWndServices Services() {
    MainWndServices services;
    services.enumerate = [this] { return disks; };
    services.watchDevices = false;
    services.volumeItems = [this](const VolumeRecord& v) -> ScanItemPtr {
      return std::make_shared<LoggingItem>(v.letter, &opened);
    };
    services.imageItems = [this](uint16_t tag, const QString& path) -> ScanItemPtr {
      return std::make_shared<LoggingItem>(tag, &opened, path);
    };
    return services;
  }

  struct LoggingItem : FakeScanItem {
    LoggingItem(uint16_t key, std::vector<uint16_t>* log, QString image = {})
        : FakeScanItem(key, LoadFakeScript("card_scan.json"), 0ms, std::move(image)), log(log) {}
    int Open(bool deep, std::string& message) override {
      log->push_back(Key());
      return FakeScanItem::Open(deep, message);
    }
    std::vector<uint16_t>* log;
  };
};

std::unique_ptr<CMainWnd> MakeWindow(FakeDesk& desk) {
  QString error;
  auto window = CMainWnd::Create(&error, desk.Services());
  EXPECT_TRUE(window) << error.toStdString();
  if (window) window->Disks()->WaitForRefresh();
  return window;
}

QAbstractButton* Button(CMainWnd& window, const char* name) {
  return FindControlAs<QAbstractButton>(window.Layout(), name);
}

TEST(MainWnd, CategoryBoxesEnableStartAndCarryTheirTypes) {
  FakeDesk desk;
  auto window = MakeWindow(desk);
  ASSERT_TRUE(window);
  const char* boxes[] = {"ChkPhoto", "ChkMusic", "ChkVideo", "ChkOffice", "ChkArchive", "ChkOther"};
  for (const char* box : boxes) Button(*window, box)->setChecked(false);
  EXPECT_FALSE(Button(*window, "BtnStart")->isEnabled());
  EXPECT_FALSE(Button(*window, "TypeJpg")->isChecked());
  Button(*window, "ChkMusic")->setChecked(true);
  EXPECT_TRUE(Button(*window, "BtnStart")->isEnabled());
  EXPECT_TRUE(Button(*window, "TypeMp3")->isChecked());
  EXPECT_FALSE(Button(*window, "TypePng")->isChecked());
  Button(*window, "ChkRecoverAll")->setChecked(false);
  Button(*window, "ChkRecoverAll")->setChecked(true);
  for (const char* box : boxes) EXPECT_TRUE(Button(*window, box)->isChecked()) << box;
}

TEST(MainWnd, ModeButtonsChooseTheScanAndTheRemovableDisk) {
  FakeDesk desk;
  auto window = MakeWindow(desk);
  ASSERT_TRUE(window);
  Button(*window, "BtnDeletedRecovery")->click();
  EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kDisks);
  EXPECT_EQ(window->Mode(), CMainWnd::kQuickScan);
  QTreeWidgetItem* chosen = window->Disks()->View()->currentItem();
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->text(0), "sdb1");
  EXPECT_EQ(FindControlAs<QLabel>(window->Layout(), "Label1")->text(), "Partition: sdb1");
  Button(*window, "BtnPrev")->click();
  Button(*window, "BtnStart")->click();
  EXPECT_EQ(window->Mode(), CMainWnd::kByFileType);
}

// Disks that answer slowly do not hold up the window: it is built, and a
// plug-in handled, while the disks have not answered yet (they answer only
// when the test lets them, or after five seconds when the window waited
// for them after all), and the page of disks shown before they are in
// chooses the removable one when they come.
TEST(MainWnd, SlowDisksDoNotHoldUpTheWindow) {
  FakeDesk desk;
  std::mutex lock;
  std::condition_variable changed;
  bool answer = false;
  int waitedOut = 0;
  MainWndServices services = desk.Services();
  services.enumerate = [&] {
    std::unique_lock guard(lock);
    if (!changed.wait_for(guard, 5s, [&] { return answer; })) ++waitedOut;
    answer = false;
    return desk.disks;
  };
  const auto letTheDisksAnswer = [&] {
    {
      std::lock_guard guard(lock);
      answer = true;
    }
    changed.notify_all();
  };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  EXPECT_TRUE(window->Disks()->Refreshing());
  Button(*window, "BtnDeletedRecovery")->click();
  EXPECT_EQ(window->Disks()->View()->currentItem(), nullptr);
  letTheDisksAnswer();
  window->Disks()->WaitForRefresh();
  ASSERT_NE(window->Disks()->View()->currentItem(), nullptr);
  EXPECT_EQ(window->Disks()->View()->currentItem()->text(0), "sdb1");

  window->RefreshDisks(CDiskList::RefreshMode::kArrival);
  EXPECT_TRUE(window->Disks()->Refreshing());
  letTheDisksAnswer();
  window->Disks()->WaitForRefresh();
  EXPECT_EQ(waitedOut, 0) << "the window waited for the disks";
}

TEST(MainWnd, ScanWithoutAChosenVolumeAsksForOne) {
  FakeDesk desk;
  desk.disks = {};
  auto window = MakeWindow(desk);
  ASSERT_TRUE(window);
  Button(*window, "BtnStart")->click();
  QString said;
  AnswerNextBox(true, {}, &said);
  Button(*window, "BtnScan")->click();
  EXPECT_EQ(said, LanguageStore::Instance().Text("Messages", "MSG0505"));
  EXPECT_TRUE(desk.opened.empty());
}

TEST(MainWnd, ADiskRowScansEachVolumeInRowOrderThenShowsTheSortedResults) {
  FakeDesk desk;
  auto window = MakeWindow(desk);
  ASSERT_TRUE(window);
  Button(*window, "BtnStart")->click();
  QTreeWidget* list = window->Disks()->View();
  list->setCurrentItem(list->topLevelItem(0)->child(0));  // a volume chooses the disk page's row
  list->setCurrentItem(list->topLevelItem(0));            // then the whole disk
  Button(*window, "BtnScan")->click();
  EXPECT_EQ(desk.opened, (std::vector<uint16_t>{1, 2, 3}));
  EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  std::map<uint16_t, int> perVolume;
  for (const FileTypeTree::Group& group : window->Browser()->TypeTree().Groups()) {
    for (const FoundFileRecord& r : *group.records) ++perVolume[r.volumeLetter];
  }
  EXPECT_EQ(perVolume.size(), 3u);
  EXPECT_EQ(perVolume[2], perVolume[1]);
  EXPECT_GE(perVolume[1], 4);
}

// A window that has scanned the first volume of the first disk.
std::unique_ptr<CMainWnd> ScanFirstVolume(const MainWndServices& services) {
  QString error;
  auto window = CMainWnd::Create(&error, services);
  EXPECT_TRUE(window) << error.toStdString();
  if (!window) return nullptr;
  window->Disks()->WaitForRefresh();
  Button(*window, "BtnStart")->click();
  window->Disks()->View()->setCurrentItem(window->Disks()->View()->topLevelItem(0)->child(0));
  Button(*window, "BtnScan")->click();
  return window;
}

TEST(MainWnd, EveryTypeCheckedListsTypesNoListNamesToo) {
  FakeDesk desk;
  MainWndServices services = desk.Services();
  FakeScript script = LoadFakeScript("card_scan.json");
  script.files.clear();
  for (const char* name : {"IMG_1.jpg", "setup.exe", "README"}) {
    FakeFile file;
    file.name = name;
    file.size = 10;
    script.files.push_back(file);
  }
  services.volumeItems = [&](const VolumeRecord& v) -> ScanItemPtr {
    return std::make_shared<FakeScanItem>(v.letter, script, 0ms);
  };
  auto window = ScanFirstVolume(services);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->ResultCount(), 3u);
}

// The card is a file standing in for its device.
fs::path MakeCard(FakeDesk& desk, const qm::test::TempDir& folder, uint64_t claimedSectors) {
  const fs::path card = folder / "card.raw";
  qm::test::WriteBytes(card, qm::test::MakeContent(2048 * 512, 3));
  desk.disks.volumes.back().devicePath = card.string();
  desk.disks.volumes.back().sectorCount = claimedSectors;
  return card;
}

TEST(MainWnd, AnImageIsCopiedThenOfferedForScanning) {
  FakeDesk desk;
  qm::test::TempDir folder;
  const fs::path card = MakeCard(desk, folder, 2048);
  MainWndServices services = desk.Services();
  std::vector<QString> proposals;
  const fs::path image = folder / "copies" / "card copy.img";
  fs::create_directories(image.parent_path());
  services.chooseImageToSave = [&](QWidget*, const QString& proposed) {
    proposals.push_back(proposed);
    return QString::fromStdString(image.string());
  };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  window->Disks()->WaitForRefresh();
  Button(*window, "BtnCreateImageMode")->click();
  EXPECT_TRUE(window->ImageWorkflow());
  ASSERT_EQ(window->Disks()->View()->currentItem()->text(0), "card.raw");
  QString offer;
  AnswerNextBox(true, {}, &offer);
  Button(*window, "BtnScan")->click();
  EXPECT_EQ(proposals, (std::vector<QString>{"card-copy.img"}));
  EXPECT_EQ(offer, LanguageStore::Instance().Text("Messages", "MSG0214"));
  EXPECT_TRUE(qm::test::ReadBytes(image) == qm::test::ReadBytes(card));
  QTreeWidgetItem* loaded = window->Disks()->View()->currentItem();
  EXPECT_EQ(loaded->text(0), "card copy.img");
  EXPECT_EQ(window->Disks()->ItemOf(loaded)->Key(), 1001);
  EXPECT_FALSE(window->ImageWorkflow());
  EXPECT_EQ(window->Mode(), CMainWnd::kDeepScan);
}

TEST(MainWnd, ARefusedImageDestinationIsAskedForAgain) {
  FakeDesk desk;
  qm::test::TempDir folder;
  // More than any test machine has free: the destination is refused.
  MakeCard(desk, folder, uint64_t{1} << 40);
  MainWndServices services = desk.Services();
  int asked = 0;
  services.chooseImageToSave = [&](QWidget*, const QString&) {
    return ++asked == 1 ? QString::fromStdString((folder / "big.img").string()) : QString();
  };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  window->Disks()->WaitForRefresh();
  Button(*window, "BtnCreateImageMode")->click();
  QString refusal;
  AnswerNextBox(true, {}, &refusal);
  Button(*window, "BtnScan")->click();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(refusal, LanguageStore::Instance().Text("Messages", "MSG0221"));
  EXPECT_FALSE(fs::exists(folder / "big.img"));
}

// A scanned volume's disk holding the chosen folder: the user is warned
// before anything is written there, and can stop.
TEST(MainWnd, RecoveringOntoTheScannedDiskAsksFirst) {
  qm::test::TempDir folder;
  const std::set<std::string> disks = session::DisksHoldingPath(folder.path());
  if (disks.empty()) GTEST_SKIP() << "the temporary folder's disk cannot be told here";
  struct OnThisDisk : FakeScanItem {
    using FakeScanItem::FakeScanItem;
    std::string SourcePath() const override { return device; }
    std::string device;
  };
  FakeDesk desk;
  MainWndServices services = desk.Services();
  auto item = std::make_shared<OnThisDisk>(1, LoadFakeScript("card_scan.json"), 0ms);
  item->device = "/dev/" + *disks.begin();
  services.volumeItems = [&](const VolumeRecord&) -> ScanItemPtr { return item; };
  const fs::path out = folder / "Recovered";
  fs::create_directories(out);
  services.chooseRecoveryFolder = [&](QWidget*) { return QString::fromStdString(out.string()); };
  auto window = ScanFirstVolume(services);
  ASSERT_TRUE(window);
  ASSERT_GT(window->ResultCount(), 0u);
  QString warning;
  AnswerNextBox(false, {}, &warning);
  window->Recover({item->Fake()->Record(0)});
  EXPECT_EQ(warning, LanguageStore::Instance().Text("Messages", "MSG0805"));
  EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
}  // namespace qm::testing
