// A loaded image of a whole disk, an MBR with a FAT32 and an NTFS
// partition, taken through the window: a partition and the whole image are
// scanned, a found photo is previewed, and the photos are recovered byte
// for byte. The image is scanned through its own rows only: it never comes
// back as a disk row of its own.
#include <QAbstractButton>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/file_type_tree.h"
#include "app/main_wnd.h"
#include "app/result_browser.h"
#include "app/session_scan_item.h"
#include "platform/disk_table.h"
#include "results/scan_history.h"
#include "support/test_support.h"
#include "camera_photo.h"
#include "screenshots.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

constexpr uint64_t kFatStart = 2048;       // sectors
constexpr uint64_t kFatSectors = 81920;    // 40 MiB, enough clusters for FAT32
constexpr uint64_t kNtfsStart = kFatStart + kFatSectors;
constexpr uint64_t kNtfsSectors = 16384;   // 8 MiB

bool Place(const fs::path& volume, const fs::path& disk, uint64_t startSector) {
  return qm::test::Run("dd status=none conv=notrunc bs=512 seek=" + std::to_string(startSector) +
                       " if=" + qm::test::Quote(volume.string()) + " of=" + qm::test::Quote(disk.string())) == 0;
}

// Every message box that opens is written down and closed, so that a
// failure shows as its text rather than as a test that hangs.
class BoxWatcher {
 public:
  explicit BoxWatcher(QObject* context) : timer_(context) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (CMessageBox* box = OpenBox()) {
        QWidget* message = FindControl(box, "message");
        said_ << (message != nullptr ? message->property("text").toString() : QString("(a message box)"));
        FindControlAs<QAbstractButton>(box, "closebtn")->click();
      }
    });
    timer_.start(10);
  }
  const QStringList& said() const { return said_; }

 private:
  QTimer timer_;
  QStringList said_;
};

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> contents;
  if (!fs::is_directory(folder)) return contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) contents.push_back(qm::test::ReadBytes(entry.path()));
  }
  return contents;
}

bool Holds(const std::vector<std::string>& files, const std::string& bytes) {
  return std::find(files.begin(), files.end(), bytes) != files.end();
}

// Ticks the photos found and recovers them into `folder`; the summary line
// of the recovery window comes back.
QString RecoverPhotos(CMainWnd& window, const fs::path& folder, QString* destination) {
  FileTypeTree& tree = window.Browser()->TypeTree();
  QTreeWidgetItem* photos = tree.CategoryNode(0);
  if (photos == nullptr || photos->childCount() == 0) return "no photos were found";
  photos->setCheckState(0, Qt::Checked);
  *destination = QString::fromStdString(folder.string());
  QString summary;
  const QString shot = "image-partition-recovered-into-" + QString::fromStdString(folder.filename().string());
  When(&window, [] { return QApplication::activeModalWidget() != nullptr && OpenBox() == nullptr; },
       [&summary, shot] {
         QWidget* progress = QApplication::activeModalWidget();
         When(progress, [progress] { return !FindControl(progress, "FinishBtn")->isHidden(); },
              [progress, &summary, shot] {
                summary = FindControl(progress, "recovered")->property("text").toString();
                SaveShot(progress, shot);
                FindControlAs<QAbstractButton>(progress, "FinishBtn")->click();
              });
       });
  FindControlAs<QAbstractButton>(window.Layout(), "BtnRecover")->click();
  return summary;
}

TEST(ImagePartitionWorkflow, PartitionsOfALoadedDiskImagePreviewAndRecoverWithoutASecondDiskRow) {
  for (const char* tool : {"sfdisk", "mkfs.fat", "mcopy", "mkntfs"}) {
    if (!qm::test::HaveTool(tool)) GTEST_SKIP() << tool << " is missing";
  }
  qm::test::TempDir folder;
  const std::vector<std::string> fatPhotos = {CameraPhoto(1, 320, 240), CameraPhoto(2, 320, 240)};
  qm::test::FatImageBuilder fat(folder / "fat.vol", 32, kFatSectors / 2, 1);
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.MakeDir("DCIM"));
  ASSERT_TRUE(fat.AddFile("DCIM/Strand in Sopot.jpg", fatPhotos[0]));
  ASSERT_TRUE(fat.AddFile("DCIM/Geburtstag am See.jpg", fatPhotos[1]));
  ASSERT_TRUE(fat.AddFile("notes.txt", "kept"));
  ASSERT_TRUE(fat.Delete("DCIM/Strand in Sopot.jpg"));
  ASSERT_TRUE(fat.Delete("DCIM/Geburtstag am See.jpg"));

  // Files go onto NTFS through a FUSE mount, which needs root; without it
  // the partition is there but holds nothing to recover.
  std::vector<std::string> ntfsPhotos;
  qm::test::NtfsImageBuilder ntfs(folder / "ntfs.vol", kNtfsSectors / 2048);
  ASSERT_TRUE(ntfs.Create());
  if (qm::test::CanMountFuse()) {
    ntfsPhotos.push_back(CameraPhoto(3, 320, 240));
    ASSERT_TRUE(ntfs.Mount());
    ASSERT_TRUE(ntfs.AddFile("Urlaub in Kroatien.jpg", ntfsPhotos[0]));
    ASSERT_TRUE(ntfs.Delete("Urlaub in Kroatien.jpg"));
    ASSERT_TRUE(ntfs.Unmount());
  }

  const fs::path disk = folder / "disk.img";
  fs::resize_file(fat.image(), kFatSectors * 512);
  qm::test::WriteBytes(disk, std::string((kNtfsStart + kNtfsSectors) * 512, '\0'));
  ASSERT_EQ(qm::test::Run("printf 'label: dos\\nstart=" + std::to_string(kFatStart) + ", size=" +
                          std::to_string(kFatSectors) + ", type=c\\nstart=" + std::to_string(kNtfsStart) +
                          ", size=" + std::to_string(kNtfsSectors) +
                          ", type=7\\n' | PATH=$PATH:/sbin:/usr/sbin sfdisk -q " + qm::test::Quote(disk.string())),
            0);
  ASSERT_TRUE(Place(fat.image(), disk, kFatStart));
  ASSERT_TRUE(Place(ntfs.image(), disk, kNtfsStart));

  // A machine without disks of its own, whose disk table the scans of the
  // image's partitions add the image to, as the system's table is.
  DiskTable table({});
  MainWndServices services;
  services.enumerate = [&table] { return EnumerateDisks(table); };
  services.imageItems = [&table](uint16_t tag, const QString& path) -> ScanItemPtr {
    return std::make_shared<SessionScanItem>(tag, path.toStdString(), path, GetScanHistory(), table);
  };
  services.watchDevices = false;
  services.chooseImageToLoad = [&](QWidget*) { return QString::fromStdString(disk.string()); };
  QString destination;
  services.chooseRecoveryFolder = [&](QWidget*) { return destination; };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  window->Disks()->WaitForRefresh();
  window->show();
  BoxWatcher boxes(window.get());
  QTreeWidget* view = window->Disks()->View();

  Click(window->Layout(), "BtnDeletedRecovery");
  Click(window->Layout(), "BtnLoadImage");
  QTreeWidgetItem* partition = view->currentItem();
  ASSERT_NE(partition, nullptr);
  ASSERT_EQ(partition->text(0), "Partition 1  QMTEST");  // with its label
  QTreeWidgetItem* image = partition->parent();
  ASSERT_EQ(image->childCount(), 2);

  // Partition 1: a found photo shows in the preview and is recovered.
  Click(window->Layout(), "BtnScan");
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults) << boxes.said().join("\n").toStdString();
  FileTypeTree& tree = window->Browser()->TypeTree();
  QTreeWidgetItem* photoNode = tree.CategoryNode(0);
  ASSERT_NE(photoNode, nullptr);
  ASSERT_GT(photoNode->childCount(), 0);
  tree.Tree()->setCurrentItem(photoNode->child(0));
  ASSERT_EQ(window->Browser()->Model().rowCount(), static_cast<int>(fatPhotos.size()));
  window->PreviewRow(0);
  EXPECT_TRUE(boxes.said().isEmpty()) << boxes.said().join("\n").toStdString();
  EXPECT_EQ(window->Preview().shown, PreviewState::Shown::kPicture);
  SaveShot(window.get(), "image-partition-1-previewed");
  const QImage shown = window->Preview().picture;
  EXPECT_TRUE(std::any_of(fatPhotos.begin(), fatPhotos.end(), [&shown](const std::string& bytes) {
    return !shown.isNull() && shown == QImage::fromData(QByteArray::fromStdString(bytes));
  })) << "the preview shows one of the photos";

  const QString firstSummary = RecoverPhotos(*window, folder / "FromPartition1", &destination);
  EXPECT_TRUE(boxes.said().isEmpty()) << boxes.said().join("\n").toStdString();
  std::vector<std::string> recovered = FilesIn(folder / "FromPartition1");
  EXPECT_EQ(recovered.size(), fatPhotos.size()) << firstSummary.toStdString();
  for (const std::string& bytes : fatPhotos) {
    EXPECT_TRUE(Holds(recovered, bytes)) << "a photo is missing; " << firstSummary.toStdString();
  }

  // The whole image: both partitions at once.
  view->setCurrentItem(image);
  Click(window->Layout(), "BtnScan");
  ASSERT_EQ(window->CurrentPage(), CMainWnd::Page::kResults) << boxes.said().join("\n").toStdString();
  const QString secondSummary = RecoverPhotos(*window, folder / "FromTheImage", &destination);
  EXPECT_TRUE(boxes.said().isEmpty()) << boxes.said().join("\n").toStdString();
  recovered = FilesIn(folder / "FromTheImage");
  std::vector<std::string> expected = fatPhotos;
  expected.insert(expected.end(), ntfsPhotos.begin(), ntfsPhotos.end());
  EXPECT_EQ(recovered.size(), expected.size()) << secondSummary.toStdString();
  for (const std::string& bytes : expected) {
    EXPECT_TRUE(Holds(recovered, bytes)) << "a photo is missing; " << secondSummary.toStdString();
  }

  // A disk comes or goes: the list is enumerated again, and the image that
  // the scans put into the disk table stays under the loaded images only.
  ASSERT_GE(table.IndexOf(disk.string()), 0) << "the scans reach the image through the disk table";
  window->RefreshDisks(CDiskList::RefreshMode::kArrival);
  window->Disks()->WaitForRefresh();
  window->RefreshDisks(CDiskList::RefreshMode::kBuild);
  window->Disks()->WaitForRefresh();
  ASSERT_EQ(view->topLevelItemCount(), 1);
  EXPECT_EQ(view->topLevelItem(0), image->parent());
  EXPECT_EQ(image->childCount(), 2);
}

}  // namespace
}  // namespace qm::testing
