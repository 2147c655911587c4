#include "app/disk_list.h"

#include <QMenu>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "fake_engine.h"
#include "session/session_fixture.h"
#include "support/test_support.h"

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

VolumeRecord Volume(int disk, uint16_t letter, const std::string& device, uint64_t start,
                    VolumeRecord::Kind kind = VolumeRecord::Kind::kVolume) {
  VolumeRecord v;
  v.diskNumber = disk;
  v.letter = letter;
  v.devicePath = device;
  v.startSector = start;
  v.totalBytes = 1ull << 30;
  v.fileSystemName = "FAT32";
  v.kind = kind;
  return v;
}

DiskRecord Disk(int number, const std::string& path, bool removable) {
  DiskRecord d;
  d.diskNumber = number;
  d.path = path;
  d.removable = removable;
  d.sectors = 1 << 22;
  return d;
}

// The machine's disks as the test sets them, and the items the list made.
// The list enumerates on a worker thread, so the machine is read under a lock;
// `answerIn` is how long a slow disk takes to answer.
struct FakeMachine {
  std::mutex lock;
  DiskSnapshot now;
  std::chrono::milliseconds answerIn{0};
  std::atomic<int> asked = 0;  // enumerations that have read the disks
  std::atomic<int> enumerations = 0;
  std::vector<std::weak_ptr<ScanItem>> made;

  void Plug(const DiskRecord& disk, std::vector<VolumeRecord> volumes) {
    std::lock_guard guard(lock);
    now.disks[disk.diskNumber] = disk;
    for (VolumeRecord& v : volumes) now.volumes.push_back(v);
  }
  // /dev/sda, which the user may not open: one unreadable-disk row.
  void PlugLockedDisk() {
    DiskRecord locked = Disk(0, "/dev/sda", false);
    locked.openError = err::kAccessDenied;
    Plug(locked, {Volume(0, 1, "", 0, VolumeRecord::Kind::kUnreadableDisk)});
  }
  void Unplug(int disk) {
    std::lock_guard guard(lock);
    now.disks.erase(disk);
    std::erase_if(now.volumes, [disk](const VolumeRecord& v) { return v.diskNumber == disk; });
  }
  // What the disks were when asked, answered `answerIn` later.
  DiskSnapshot Enumerate() {
    DiskSnapshot snapshot;
    {
      std::lock_guard guard(lock);
      snapshot = now;
    }
    ++asked;
    std::this_thread::sleep_for(answerIn);
    ++enumerations;
    return snapshot;
  }
  std::unique_ptr<CDiskList> List(QTreeWidget& view) {
    view.setColumnCount(3);
    return std::make_unique<CDiskList>(
        &view, [this] { return Enumerate(); },
        [this](const VolumeRecord& v) -> ScanItemPtr {
          auto item = std::make_shared<FakeScanItem>(v.letter, FakeScript{}, 0ms);
          made.push_back(item);
          return item;
        },
        [](uint16_t tag, const QString& path) -> ScanItemPtr {
          return std::make_shared<FakeScanItem>(tag, FakeScript{}, 0ms, path);
        });
  }
};

QStringList Texts(QTreeWidgetItem* row) {
  QStringList texts;
  for (int i = 0; i < row->childCount(); ++i) texts << row->child(i)->text(0);
  return texts;
}

TEST(DiskList, DisksHoldTheirVolumesInOrderAndOnlyScannableOnes) {
  FakeMachine machine;
  machine.Plug(Disk(0, "/dev/sda", false),
               {Volume(0, 1, "/dev/sda1", 2048), Volume(0, 2, "/dev/sda2", 1050624),
                Volume(0, 0, "", 2000000, VolumeRecord::Kind::kGap), Volume(0, 3, "/dev/sda3", 3000000)});
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  ASSERT_EQ(view.topLevelItemCount(), 1);
  QTreeWidgetItem* disk = view.topLevelItem(0);
  EXPECT_EQ(disk->text(0), "Disk 0");
  EXPECT_EQ(Texts(disk), (QStringList{"sda1", "sda2", "sda3"}));
  EXPECT_EQ(list->ItemsToScan(disk).size(), 3u);
  EXPECT_EQ(list->ItemsToScan(disk)[2]->Key(), 3);

  list->PrepareForPage(false);
  EXPECT_EQ(view.currentItem(), disk->child(0));
  const QStringList info = list->InfoLines(disk->child(1));
  EXPECT_EQ(info.value(0), "Partition: sda2");
  EXPECT_EQ(info.value(2), "File system: FAT32");
  EXPECT_EQ(info.value(3), "Capacity: 1.00 GB");
  EXPECT_EQ(info.value(4), QString::fromUtf8("Used: \u2014"));
}

// A disk's row is named as quillmark-cli numbers the disk, with its model;
// the file-system column is for file systems, and the device goes into the
// details, which follow the current row onto the disk's own row too.
TEST(DiskList, ADiskRowIsNumberedAsTheCommandLineToolNumbersItAndDetailsItself) {
  FakeMachine machine;
  DiskRecord card = Disk(1, "/dev/mmcblk0", true);
  card.model = "SD SC64G";
  machine.Plug(Disk(0, "/dev/sda", false), {Volume(0, 1, "/dev/sda1", 2048)});
  machine.Plug(card, {Volume(1, 2, "/dev/mmcblk0p1", 2048)});
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  QList<QTreeWidgetItem*> chosen;
  QObject::connect(list.get(), &CDiskList::RowChosen, [&](QTreeWidgetItem* row) { chosen << row; });
  const struct {
    int top;
    QString name;
    QStringList details;
  } cases[] = {{0, "Disk 0", {"Device: /dev/sda", "Capacity: 2.00 GB", ""}},
               {1, "Removable disk 1  SD SC64G", {"Device: /dev/mmcblk0", "Model: SD SC64G", "Capacity: 2.00 GB"}}};
  for (const auto& c : cases) {
    QTreeWidgetItem* disk = view.topLevelItem(c.top);
    SCOPED_TRACE(c.name.toStdString());
    EXPECT_EQ(disk->text(0), c.name);
    EXPECT_EQ(disk->text(1), "");
    EXPECT_EQ(list->InfoLines(disk).mid(0, 3), c.details);
    view.setCurrentItem(disk->child(0));
    view.setCurrentItem(disk);
    ASSERT_FALSE(chosen.isEmpty());
    EXPECT_EQ(chosen.last(), disk);
  }
}

TEST(DiskList, ADiskThatMayNotBeReadSaysWhatToDo) {
  FakeMachine machine;
  machine.PlugLockedDisk();
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  list->PrepareForPage(false);
  QTreeWidgetItem* disk = view.topLevelItem(0);
  ASSERT_EQ(disk->childCount(), 1);
  EXPECT_TRUE(disk->child(0)->text(0).startsWith("Permission denied. Quillmark is not allowed to read this disk."));
  EXPECT_FALSE(disk->child(0)->flags() & Qt::ItemIsSelectable);
  EXPECT_TRUE(list->ItemsToScan(disk).empty());
  EXPECT_EQ(view.currentItem(), nullptr);
}

TEST(DiskList, PluggedDisksAppearAndPulledOnesGoWhileAWindowKeepsTheirItems) {
  FakeMachine machine;
  machine.Plug(Disk(0, "/dev/sda", false), {Volume(0, 1, "/dev/sda1", 2048)});
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  list->AddImage("/tmp/card.img");
  list->PrepareForPage(false);

  // A stick plugged in while no scan runs is added above the images and chosen.
  machine.Plug(Disk(1, "/dev/sdb", true), {Volume(1, 2, "/dev/sdb1", 2048)});
  list->Refresh(CDiskList::RefreshMode::kArrival);
  list->WaitForRefresh();
  ASSERT_EQ(view.topLevelItemCount(), 3);
  QTreeWidgetItem* stick = view.topLevelItem(1);
  EXPECT_EQ(stick->text(0), "Removable disk 1");
  EXPECT_EQ(view.currentItem(), stick->child(0));
  EXPECT_EQ(Texts(view.topLevelItem(0)), QStringList{"sda1"});  // not added twice

  // One plugged in during a scan leaves the selection alone.
  machine.Plug(Disk(2, "/dev/sdc", true), {Volume(2, 3, "/dev/sdc1", 2048)});
  list->Refresh(CDiskList::RefreshMode::kArrival, /*scanRunning=*/true);
  list->WaitForRefresh();
  EXPECT_EQ(view.currentItem(), stick->child(0));

  // A window still scanning the stick keeps its item when it is pulled.
  ScanItems scanning = list->ItemsToScan(stick);
  std::weak_ptr<ScanItem> watched = scanning.front();
  machine.Unplug(1);
  list->Refresh(CDiskList::RefreshMode::kRemoval);
  list->WaitForRefresh();
  ASSERT_EQ(view.topLevelItemCount(), 3);
  EXPECT_EQ(view.topLevelItem(0)->text(0), "Disk 0");
  EXPECT_EQ(view.topLevelItem(1)->text(0), "Removable disk 2");
  EXPECT_EQ(view.topLevelItem(2)->text(0), "Image File");
  EXPECT_FALSE(watched.expired());
  scanning.clear();
  EXPECT_TRUE(watched.expired());
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// A disk that takes its time to answer (the disk service asking polkit)
// does not freeze the window: Refresh returns at once, the list keeps
// repainting while the worker waits for the disk, and the rows come in
// when it has answered. The enumeration runs off the window's thread.
TEST(DiskList, ASlowDiskDoesNotStopTheWindowRepainting) {
  FakeMachine machine;
  machine.Plug(Disk(0, "/dev/sda", false), {Volume(0, 1, "/dev/sda1", 2048)});
  machine.answerIn = 800ms;
  QTreeWidget view;
  view.resize(400, 200);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QThread* enumeratedOn = nullptr;
  auto list = std::make_unique<CDiskList>(&view, [&] {
    enumeratedOn = QThread::currentThread();
    return machine.Enumerate();
  });
  PaintCounter counter;
  view.viewport()->installEventFilter(&counter);
  QTimer repaint;
  QObject::connect(&repaint, &QTimer::timeout, [&] { view.viewport()->update(); });
  repaint.start(20);

  list->Refresh(CDiskList::RefreshMode::kBuild);
  EXPECT_EQ(machine.enumerations, 0) << "Refresh waited for the disk";
  EXPECT_TRUE(list->Refreshing());
  EXPECT_EQ(view.topLevelItemCount(), 0);
  const int paintsBefore = counter.paints;
  list->WaitForRefresh();
  EXPECT_GE(counter.paints - paintsBefore, 4) << "the list was not repainted while the disk answered";
  EXPECT_NE(enumeratedOn, QThread::currentThread());
  ASSERT_EQ(view.topLevelItemCount(), 1);
  EXPECT_EQ(Texts(view.topLevelItem(0)), QStringList{"sda1"});
  list.reset();
}

// Plug-ins and pulls that come while an enumeration runs are served by one
// more enumeration, and a disk read again for the user is replaced by what
// the later enumeration found, not by the one already under way.
TEST(DiskList, RequestsDuringAnEnumerationAreServedByTheNextOne) {
  FakeMachine machine;
  machine.PlugLockedDisk();
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  ASSERT_EQ(list->UnreadableDiskOf(view.topLevelItem(0)), 0);
  machine.enumerations = 0;
  machine.asked = 0;

  machine.answerIn = 200ms;
  list->Refresh(CDiskList::RefreshMode::kArrival);  // a hot-plug event, still reading the old state
  while (machine.asked == 0) std::this_thread::sleep_for(1ms);
  machine.Unplug(0);                                // the user allowed access meanwhile
  machine.Plug(Disk(0, "/dev/sda", false), {Volume(0, 1, "/dev/sda1", 2048)});
  list->Reread(0);
  machine.Plug(Disk(1, "/dev/sdb", true), {Volume(1, 2, "/dev/sdb1", 2048)});
  list->Refresh(CDiskList::RefreshMode::kArrival);
  list->WaitForRefresh();
  EXPECT_EQ(machine.enumerations, 2);
  ASSERT_EQ(view.topLevelItemCount(), 2);
  EXPECT_EQ(list->UnreadableDiskOf(view.topLevelItem(0)), -1);
  EXPECT_EQ(Texts(view.topLevelItem(0)), QStringList{"sda1"});
  EXPECT_EQ(Texts(view.topLevelItem(1)), QStringList{"sdb1"});
}

TEST(DiskList, LoadedImagesGetTagsUnderOneGroupRow) {
  FakeMachine machine;
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  QTreeWidgetItem* first = list->AddImage("/home/ana/first.img");
  QTreeWidgetItem* second = list->AddImage("/home/ana/second card.img");
  ASSERT_EQ(view.topLevelItemCount(), 1);
  EXPECT_EQ(first->parent(), second->parent());
  EXPECT_EQ(list->ItemOf(first)->Key(), 1001);
  EXPECT_EQ(list->ItemOf(second)->Key(), 1002);
  EXPECT_EQ(second->text(0), "second card.img");
  EXPECT_EQ(list->InfoLines(second).value(0), "Image file: /home/ana/second card.img");

  list->PrepareForPage(true);
  EXPECT_TRUE(first->parent()->isHidden());
  list->PrepareForPage(false);
  EXPECT_FALSE(first->parent()->isHidden());
}

// The rows of an image name each partition's file system and label as
// the rows of a disk do, and the details name the partition as people do,
// not as IMAGE@N.
TEST(DiskList, AnImageOfAWholeDiskShowsItsPartitionsWithTheirFileSystems) {
  qm::test::TempDir folder;
  qm::test::FatImageBuilder card(folder / "card.vol", 16, 4096, 1, "CARD");
  ASSERT_TRUE(card.Create());
  qm::test::WriteBytes(folder / "two.vol", std::string(4096 * 512, '\2'));
  qm::test::WriteMbrDisk(folder / "disk.img", {{2048, card.image()}, {10240, folder / "two.vol"}});
  FakeMachine machine;
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  const QString path = QString::fromStdString((folder / "disk.img").string());
  QTreeWidgetItem* first = list->AddImage(path);
  QTreeWidgetItem* image = first->parent();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->text(0), "disk.img");
  const ScanItems items = list->ItemsToScan(image);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->Key(), 1001);
  EXPECT_EQ(items[1]->Key(), 1002);
  // A plain volume image stays one row.
  QTreeWidgetItem* plain = list->AddImage(QString::fromStdString(card.image().string()));
  EXPECT_EQ(plain->childCount(), 0);

  const struct {
    QTreeWidgetItem* row;
    QStringList columns;
    QStringList details;
  } cases[] = {
      {image->child(0),
       {"Partition 1  CARD", "FAT", "4.00 MB"},
       {"Image file: " + path + ", partition 1", "Label: CARD", "File system: FAT", "Capacity: 4.00 MB"}},
      {image->child(1),
       {"Partition 2", "", "2.00 MB"},
       {"Image file: " + path + ", partition 2", "Label:", "File system:", "Capacity: 2.00 MB"}},
      {plain,
       {"card.vol  CARD", "FAT", "4.00 MB"},
       {"Image file: " + QString::fromStdString(card.image().string()), "Label: CARD", "File system: FAT",
        "Image size: 4.00 MB"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns.join(" | ").toStdString());
    EXPECT_EQ((QStringList{c.row->text(0), c.row->text(1), c.row->text(2)}), c.columns);
    EXPECT_EQ(list->InfoLines(c.row).mid(0, 4), c.details);
  }
  EXPECT_EQ(list->InfoLines(image).value(0), "Image file: " + path);
}

// A loaded image leaves the list by its context menu or the Delete key;
// what was scanned on it can still be previewed and recovered.
TEST(DiskList, ALoadedImageCanBeRemovedWithoutLosingItsScan) {
  qm::test::TempDir folder;
  qm::test::WriteBytes(folder / "one.vol", std::string(2048 * 512, '\1'));
  qm::test::WriteMbrDisk(folder / "disk.img", {{2048, folder / "one.vol"}, {4096, folder / "one.vol"}});
  FakeMachine machine;
  machine.Plug(Disk(0, "/dev/sda", false), {Volume(0, 1, "/dev/sda1", 2048)});
  QTreeWidget view;
  auto list = machine.List(view);
  list->Refresh(CDiskList::RefreshMode::kBuild);
  list->WaitForRefresh();
  QTreeWidgetItem* volume = view.topLevelItem(0)->child(0);
  QTreeWidgetItem* partition = list->AddImage(QString::fromStdString((folder / "disk.img").string()));
  QTreeWidgetItem* plain = list->AddImage(QString::fromStdString((folder / "one.vol").string()));
  std::string message;
  ASSERT_EQ(list->ItemOf(partition->parent()->child(1))->Open(false, message), 0);

  // Neither a volume of a disk nor a disk goes.
  view.setCurrentItem(volume);
  QTest::keyClick(&view, Qt::Key_Delete);
  EXPECT_EQ(view.topLevelItemCount(), 2);
  EXPECT_FALSE(list->RemoveImage(view.topLevelItem(0)));

  // Delete on a partition takes its whole image; the scan of it stays.
  view.setCurrentItem(partition);
  QTest::keyClick(&view, Qt::Key_Delete);
  QTreeWidgetItem* group = view.topLevelItem(1);
  ASSERT_EQ(group->childCount(), 1);
  EXPECT_EQ(group->child(0), plain);
  EXPECT_EQ(view.currentItem(), plain);
  ASSERT_EQ(list->ScannedItems().size(), 1u);
  EXPECT_EQ(list->ScannedItems()[0]->Key(), 1002);

  // The context menu of the last image takes it and the group row.
  emit view.customContextMenuRequested(view.visualItemRect(plain).center());
  QMenu* menu = view.findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions()[0]->text(), "Remove from the list");
  menu->actions()[0]->trigger();
  menu->close();
  EXPECT_EQ(view.topLevelItemCount(), 1);
  EXPECT_EQ(view.currentItem(), volume);
  EXPECT_EQ(list->ScannedItems().size(), 1u);
  // Tags are not given out again: results of the removed image keep theirs.
  EXPECT_EQ(list->ItemOf(list->AddImage(QString::fromStdString((folder / "one.vol").string())))->Key(), 1004);
}

}  // namespace
}  // namespace qm::testing
