// Disks the user may not open, read through the disk service: a stand-in
// UDisks2 on a private bus opens an image in the device's place. The image
// plays a block device that open(2) refuses, since the tests run as root.
#include "app/udisks_opener.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QProcess>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <thread>
#include <gtest/gtest.h>

#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "app/session_scan_item.h"
#include "platform/errors.h"
#include "platform/privileged_open.h"
#include "results/categories.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

// A python3 with dbus-python and GLib's bindings, or empty.
QString PythonWithDBus() {
  for (const QString& candidate : {QString("/usr/bin/python3"), QString("python3")}) {
    QProcess probe;
    probe.start(candidate, {"-c", "import dbus, dbus.mainloop.glib; from gi.repository import GLib"});
    if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
      return candidate;
  }
  return {};
}

// Reads one line from a starting process, waiting at most `ms`.
QString ReadLine(QProcess& process, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!process.canReadLine() && clock.elapsed() < ms && process.state() != QProcess::NotRunning)
    process.waitForReadyRead(100);
  return QString::fromUtf8(process.readLine()).trimmed();
}

// dbus-daemon on a bus of its own, and on it, when asked, the stand-in disk
// service. Both end with the object.
class PrivateBus {
 public:
  ~PrivateBus() {
    for (QProcess* p : {&service_, &daemon_}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(5000)) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
  }

  // Empty when it started, else why not.
  QString Start() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon_.waitForStarted(10000)) return "dbus-daemon is not installed";
    address_ = ReadLine(daemon_, 10000);
    return address_.isEmpty() ? "dbus-daemon gave no address" : QString();
  }

  QString StartService(const fs::path& device, const fs::path& image, const QStringList& flags = {}) {
    const QString python = PythonWithDBus();
    if (python.isEmpty()) return "python3-dbus or python3-gi is not installed";
    QStringList arguments{QUILLMARK_SOURCE_DIR "/tests/app/udisks_stand_in.py",
                          "--address", address_,
                          "--device", QString::fromStdString(device.string()),
                          "--image", QString::fromStdString(image.string()),
                          "--log", QString::fromStdString(log_.string())};
    service_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service_.start(python, arguments + flags);
    const QString said = ReadLine(service_, 20000);
    return said == "ready" ? QString() : "the stand-in service did not start: " + said;
  }

  const QString& Address() const { return address_; }
  // One line per OpenDevice call the service answered.
  QStringList Calls() const {
    const QString text = QString::fromStdString(test::ReadBytes(log_));
    return text.split('\n', Qt::SkipEmptyParts);
  }
  void UseLog(const fs::path& log) { log_ = log; }

 private:
  QProcess daemon_;
  QProcess service_;
  QString address_;
  fs::path log_ = "/dev/null";
};

// The core's opener and the simulated device, undone however a test ends.
class InstalledOpener {
 public:
  InstalledOpener(const QString& address, const fs::path& refusedDevice)
      : opener_(std::make_shared<UDisksOpener>(address)) {
    SetPrivilegedOpener([opener = opener_](const std::string& path, int& fd) { return opener->Open(path, fd); });
    SimulateRefusedDevice(refusedDevice);
  }
  ~InstalledOpener() {
    SetPrivilegedOpener({});
    SimulateRefusedDevice({});
  }

 private:
  std::shared_ptr<UDisksOpener> opener_;
};

#define START_OR_SKIP(call)                      \
  do {                                           \
    const QString whyNot = (call);               \
    if (!whyNot.isEmpty()) GTEST_SKIP() << whyNot.toStdString(); \
  } while (0)

// A card with one deleted photo and one kept file.
fs::path MakeCard(const test::TempDir& folder, std::string* photo) {
  *photo = test::JpegLike(40000, 7);
  test::FatImageBuilder fat(folder / "card.img", 16, 16384);
  EXPECT_TRUE(fat.Create());
  EXPECT_TRUE(fat.AddFile("holiday.jpg", *photo));
  EXPECT_TRUE(fat.AddFile("kept.txt", "still here"));
  EXPECT_TRUE(fat.Delete("holiday.jpg"));
  return fat.image();
}

TEST(UDisksOpen, ADiskTheUserMayNotOpenIsScannedThroughTheDiskService) {
  test::TempDir folder;
  std::string photo;
  const fs::path card = MakeCard(folder, &photo);
  PrivateBus bus;
  bus.UseLog(folder / "calls.log");
  START_OR_SKIP(bus.Start());
  START_OR_SKIP(bus.StartService(card, card));
  InstalledOpener installed(bus.Address(), card);

  const QString path = QString::fromStdString(card.string());
  auto item = std::make_shared<SessionScanItem>(1001, path.toStdString(), path, GetScanHistory(),
                                                DiskTable::System());
  ScanItems items = {item};
  auto scan = CScanProcessWnd::Create(items, CScanProcessWnd::kQuick, nullptr);
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->exec(), CProcessWnd::kFinished) << scan->FailureText().toStdString();
  ASSERT_NE(item->Engine(), nullptr);
  std::vector<FoundFileRecord> results;
  auto sort = CSearchProcessWnd::Create(items, BuildCategoryFilter({}), &results, nullptr);
  ASSERT_TRUE(sort);
  EXPECT_EQ(sort->exec(), CProcessWnd::kFinished);
  ASSERT_EQ(results.size(), 1u);

  // Every open went through the service, from the scan's worker thread,
  // where a password dialog may be shown.
  const QStringList calls = bus.Calls();
  ASSERT_FALSE(calls.isEmpty());
  for (const QString& call : calls) EXPECT_EQ(call, "OpenDevice mode=r may-ask=yes");
}

TEST(UDisksOpen, WhenTheDiskServiceCannotHelpTheUserIsToldWhatToDo) {
  struct Case {
    const char* what;
    bool service;
    QStringList flags;
    bool bus;
  };
  const Case cases[] = {
      {"the service refuses", true, {"--refuse"}, true},
      {"the service hands out a writable descriptor", true, {"--writable"}, true},
      {"no disk service on the bus", false, {}, true},
      {"no bus at all", false, {}, false},
  };
  for (const Case& c : cases) {
    test::TempDir folder;
    std::string photo;
    const fs::path card = MakeCard(folder, &photo);
    PrivateBus bus;
    START_OR_SKIP(bus.Start());
    if (c.service) START_OR_SKIP(bus.StartService(card, card, c.flags));
    const QString address =
        c.bus ? bus.Address() : "unix:path=" + QString::fromStdString((folder / "no-bus").string());
    InstalledOpener installed(address, card);

    DiskSnapshot disks;
    disks.disks[0] = DiskRecord{0, card.string(), "Card", 512, 32768, true, false, {}, 0};
    VolumeRecord volume;
    volume.diskNumber = 0;
    volume.letter = 1;
    volume.devicePath = card.string();
    volume.sectorCount = 32768;
    volume.totalBytes = 32768 * 512;
    volume.fileSystemName = "FAT16";
    disks.volumes = {volume};
    MainWndServices services;
    services.enumerate = [&] { return disks; };
    services.watchDevices = false;
    const QString path = QString::fromStdString(card.string());
    services.volumeItems = [&](const VolumeRecord& v) -> ScanItemPtr {
      return std::make_shared<SessionScanItem>(v.letter, path.toStdString(), path,
                                                 GetScanHistory(), DiskTable::System());
    };
    QString error;
    auto window = CMainWnd::Create(&error, services);
    ASSERT_TRUE(window) << error.toStdString();
    window->Disks()->WaitForRefresh();
    window->findChild<QAbstractButton*>("BtnStart")->click();
    window->Disks()->View()->setCurrentItem(window->Disks()->View()->topLevelItem(0)->child(0));
    QString said;
    AnswerNextBox(true, {}, &said);
    window->findChild<QAbstractButton*>("BtnScan")->click();
    EXPECT_TRUE(said.startsWith(LanguageStore::Instance().Text("Messages", "MSG0506"))) << c.what << ": " << said.toStdString();
    EXPECT_TRUE(said.contains("Permission denied")) << c.what;
    EXPECT_EQ(window->ResultCount(), 0u) << c.what;
  }
}

TEST(UDisksOpen, TheBlockObjectIsFoundWithOrWithoutResolveDevice) {
  for (const bool resolve : {true, false}) {
    test::TempDir folder;
    const fs::path image = folder / "disk.img";
    test::WriteBytes(image, "raw sectors");
    PrivateBus bus;
    START_OR_SKIP(bus.Start());
    // A name with a byte the object path must escape.
    START_OR_SKIP(bus.StartService("/dev/qm-disk0", image, resolve ? QStringList{} : QStringList{"--no-resolve"}));
    UDisksOpener opener(bus.Address());
    int fd = -1;
    ASSERT_EQ(opener.Open("/dev/qm-disk0", fd), err::kSuccess) << (resolve ? "resolved" : "named");
    char bytes[32] = {};
    EXPECT_EQ(::pread(fd, bytes, sizeof bytes, 0), 11);
    EXPECT_STREQ(bytes, "raw sectors");
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    ::close(fd);
    EXPECT_EQ(opener.Open("/dev/qm-disk1", fd), err::kAccessDenied) << "a device the service does not know";
    EXPECT_EQ(fd, -1);
  }
}

// Only a disk the user chose may bring up a password dialog: not an open on
// the window's thread, nor the disk list's enumeration on its worker, while
// a scan, on its worker, asks.
TEST(UDisksOpen, TheWindowThreadAsksOnlyForADiskTheUserChose) {
  test::TempDir folder;
  const fs::path image = folder / "disk.img";
  test::WriteBytes(image, "raw sectors");
  PrivateBus bus;
  bus.UseLog(folder / "calls.log");
  START_OR_SKIP(bus.Start());
  START_OR_SKIP(bus.StartService("/dev/sdz", image, {"--refuse"}));
  UDisksOpener opener(bus.Address());
  int fd = -1;
  EXPECT_EQ(opener.Open("/dev/sdz", fd), err::kAccessDenied);  // building the disk list
  {
    UDisksOpener::AskScope ask;  // the user chose the disk
    EXPECT_EQ(opener.Open("/dev/sdz", fd), err::kAccessDenied);
  }
  std::thread list([&] {
    UDisksOpener::AskScope quiet(false);  // as the disk list's worker enumerates
    int listFd = -1;
    EXPECT_EQ(opener.Open("/dev/sdz", listFd), err::kAccessDenied);
  });
  list.join();
  std::thread scan([&] {
    int scanFd = -1;
    EXPECT_EQ(opener.Open("/dev/sdz", scanFd), err::kAccessDenied);
  });
  scan.join();
  EXPECT_EQ(bus.Calls(), (QStringList{"OpenDevice mode=r may-ask=no", "OpenDevice mode=r may-ask=yes",
                                      "OpenDevice mode=r may-ask=no", "OpenDevice mode=r may-ask=yes"}));
}

// Scan on a disk that could not be read reads it again, now letting the
// disk service ask; where it still cannot be read the user is told why.
TEST(UDisksOpen, ScanOnAnUnreadableDiskAsksForAccessToIt) {
  for (const bool granted : {true, false}) {
    std::vector<bool> mayAsk;
    MainWndServices services;
    services.watchDevices = false;
    services.enumerate = [&] {
      mayAsk.push_back(UDisksOpener::MayAskUser());
      DiskSnapshot disks;
      disks.disks[0] = DiskRecord{0, "/dev/sdz", "Card", 512, 32768, true, false, {}, 0};
      VolumeRecord volume;
      volume.diskNumber = 0;
      volume.letter = 1;
      volume.devicePath = "/dev/sdz1";
      volume.sectorCount = 32768;
      volume.totalBytes = 32768 * 512;
      volume.fileSystemName = "FAT16";
      if (mayAsk.size() == 1 || !granted) {
        disks.disks[0].openError = err::kAccessDenied;
        volume.kind = VolumeRecord::Kind::kUnreadableDisk;
      }
      disks.volumes = {volume};
      return disks;
    };
    QString error;
    auto window = CMainWnd::Create(&error, services);
    ASSERT_TRUE(window) << error.toStdString();
    window->Disks()->WaitForRefresh();
    window->findChild<QAbstractButton*>("BtnStart")->click();
    QTreeWidget* list = window->Disks()->View();
    list->setCurrentItem(list->topLevelItem(0));
    QString said;
    if (!granted) AnswerNextBox(true, {}, &said);
    window->findChild<QAbstractButton*>("BtnScan")->click();
    EXPECT_EQ(mayAsk, (std::vector<bool>{false, true})) << granted;
    QTreeWidgetItem* disk = window->Disks()->DiskRowOf(0);
    ASSERT_NE(disk, nullptr);
    if (granted) {
      EXPECT_EQ(window->Disks()->UnreadableDiskOf(disk), -1);
      EXPECT_EQ(window->Disks()->KindOf(disk->child(0)), CDiskList::RowKind::kVolume);
    } else {
      EXPECT_TRUE(said.contains(LanguageStore::Instance().Text("Messages", "MSG0506"))) << said.toStdString();
    }
  }
}

}  // namespace
}  // namespace qm::testing
