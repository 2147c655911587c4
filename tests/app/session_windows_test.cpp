// The progress windows over the real engines: a FAT image with deleted
// files is scanned, sorted and recovered through the windows, as the main
// window will drive them.
#include <QLabel>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "app/session_scan_item.h"
#include "results/categories.h"
#include "support/jpeg_fixture.h"
#include "support/test_support.h"
#include "ui/skin_loader.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

TEST(SessionWindows, ScanSortAndRecoverADeletedPhotoFromAFatImage) {
  qm::test::TempDir folder;
  const std::string photo = qm::test::JpegLike(70000, 1);
  const std::string song = "ID3" + qm::test::MakeContent(9000, 2);
  qm::test::FatImageBuilder fat(folder / "card.img", 16, 32768);
  ASSERT_TRUE(fat.Create());
  ASSERT_TRUE(fat.MakeDir("DCIM/100CANON"));
  ASSERT_TRUE(fat.AddFile("DCIM/100CANON/Plaża o zachodzie.jpg", photo));
  ASSERT_TRUE(fat.AddFile("song.mp3", song));
  ASSERT_TRUE(fat.AddFile("kept.txt", "still here"));
  ASSERT_TRUE(fat.Delete("DCIM/100CANON/Plaża o zachodzie.jpg"));
  ASSERT_TRUE(fat.Delete("song.mp3"));

  const QString imagePath = QString::fromStdString((folder / "card.img").string());
  auto item = std::make_shared<SessionScanItem>(1001, imagePath.toStdString(), imagePath,
                                                GetScanHistory(), DiskTable::System());
  ScanItems items = {item};

  auto scan = CScanProcessWnd::Create(items, CScanProcessWnd::kQuick, nullptr);
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->exec(), CProcessWnd::kFinished) << scan->FailureText().toStdString();
  EXPECT_EQ(FindControlAs<QLabel>(scan->Content(), "stage")->text(), "Scanning image card.img");
  ASSERT_NE(item->Engine(), nullptr);

  std::vector<FoundFileRecord> results;
  auto sort = CSearchProcessWnd::Create(items, BuildCategoryFilter({}), &results, nullptr);
  ASSERT_TRUE(sort);
  EXPECT_EQ(sort->exec(), CProcessWnd::kFinished);
  ASSERT_EQ(results.size(), 2u);
  for (const FoundFileRecord& r : results) EXPECT_EQ(r.volumeLetter, 1001);

  RecoverJob job{items, results, QString::fromStdString((folder / "out").string())};
  auto recover = CRecoverProcessWnd::Create(job, nullptr);
  ASSERT_TRUE(recover);
  QTimer::singleShot(0, [&] {
    // Finish appears once everything is copied.
    auto* poll = new QTimer(recover.get());
    QObject::connect(poll, &QTimer::timeout, [&] {
      if (recover->WorkerFinished() && !FindControl(recover->Content(), "FinishBtn")->isHidden())
        recover->done(CProcessWnd::kFinished);
    });
    poll->start(5);
  });
  EXPECT_EQ(recover->exec(), CProcessWnd::kFinished);
  EXPECT_EQ(recover->Tally().failed, 0);
  // Contents compared with == : a failure must not print 70 KB.
  EXPECT_TRUE(qm::test::ReadBytes(folder / "out" / "photo" / "Plaża o zachodzie.jpg") == photo);
  std::vector<std::string> audio;
  for (const auto& entry : fs::directory_iterator(folder / "out" / "audio")) {
    audio.push_back(entry.path().filename().string());
    EXPECT_TRUE(qm::test::ReadBytes(entry.path()) == song) << entry.path();
  }
  // A short name loses its first letter when the file is deleted.
  EXPECT_EQ(audio, std::vector<std::string>{"!ong.mp3"});
}

}  // namespace
}  // namespace qm::testing
