// Every window as a user sees it, part-way through its work: no text may be
// cut off. With QUILLMARK_SCREENSHOTS set to a folder, each is also saved
// there as <window>@<scale>x.png to be looked at (run once more with
// QT_SCALE_FACTOR=2 for the HiDPI look).
#include <QAbstractButton>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "app/create_image_process_wnd.h"
#include "app/main_wnd.h"
#include "app/preview_process_wnd.h"
#include "app/preview_wnd.h"
#include "app/message_box.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "fake_engine.h"
#include "layout_checks.h"
#include "platform/errors.h"
#include "results/categories.h"
#include "support/test_support.h"
#include "ui/elided_label.h"
#include "window_driver.h"

#include <fstream>

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

void Capture(QWidget* window, const QString& name) {
  QTest::qWait(80);  // a refresh tick
  const QStringList cut = CutTexts(window);
  EXPECT_TRUE(cut.isEmpty()) << name.toStdString() << " cuts: " << cut.join(" | ").toStdString();
  const QString folder = qEnvironmentVariable("QUILLMARK_SCREENSHOTS");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  const QString file = QString("%1/%2@%3x.png").arg(folder, name).arg(window->devicePixelRatioF());
  EXPECT_TRUE(window->grab().save(file)) << file.toStdString();
}

// Each page of the main window, named <prefix><page>; `check` looks at it.
void CaptureMainWindowPages(const QString& prefix,
                            const std::function<void(QStackedWidget*, int)>& check = {}) {
  QString error;
  auto main = CMainWnd::Create(&error);
  ASSERT_TRUE(main) << error.toStdString();
  main->Disks()->WaitForRefresh();
  main->show();
  auto* pages = FindControlAs<QStackedWidget>(main->Layout(), "TabPage");
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    Capture(main.get(), prefix + QString::number(page));
    if (check) check(pages, page);
  }
}

TEST(Screenshots, ProgressWindowsPartWayThrough) {
  FakeScanItem item('E', LoadFakeScript("card_scan.json"), 25ms);
  auto scan = CScanProcessWnd::Create({Borrow(item)}, CScanProcessWnd::kQuick, nullptr);
  ASSERT_TRUE(scan);
  When(scan.get(), [&] { return item.Fake() && item.Fake()->Accepted().size() >= 6; }, [&] { Capture(scan.get(), "ScanProcessWnd"); });
  scan->exec();

  std::vector<FoundFileRecord> results;
  auto sort = CSearchProcessWnd::Create({Borrow(item)}, BuildCategoryFilter({}), &results, nullptr);
  ASSERT_TRUE(sort);
  When(sort.get(), [&] { return item.Fake()->listings() >= 1; },
       [&] { Capture(sort.get(), "SearchProcessWnd"); });
  sort->exec();

  qm::test::TempDir destination;
  FakeScanItem slow('E', LoadFakeScript("card_scan.json"), 150ms);
  std::string message;
  slow.Open(false, message);
  RecoverJob job{{Borrow(slow)}, {}, QString::fromStdString((destination.path() / "Recovered files").string())};
  for (size_t i = 0; i < 5; ++i) job.records.push_back(slow.Fake()->Record(i));
  auto recover = CRecoverProcessWnd::Create(job, nullptr);
  ASSERT_TRUE(recover);
  When(recover.get(), [&] { return recover->Tally().processed >= 2; }, [&] { Capture(recover.get(), "RecoverProcessWnd"); });
  When(recover.get(), [&] { return !FindControl(recover->Content(), "FinishBtn")->isHidden(); },
       [&] {
         Click(recover->Content(), "DetailBtn");
         Capture(recover.get(), "RecoverProcessWnd-details");
         Click(recover->Content(), "FinishBtn");
       });
  recover->exec();

  const std::filesystem::path source = destination.path() / "disk.raw";
  std::ofstream(source).close();
  std::filesystem::resize_file(source, 512u << 20);
  ImageCopySource what;
  what.sourcePath = source.string();
  auto image = CCreateImageProcessWnd::Create(
      what, QString::fromStdString((destination.path() / "sdb-2026-12-11.img").string()), nullptr);
  ASSERT_TRUE(image);
  When(image.get(), [&] { return true; },
       [&] {
         QTest::qWait(150);
         Capture(image.get(), "CreateImageProcessWnd");
         AnswerNextBox(true, [&] { Capture(OpenBox(), "MessageBox_Question"); });
         Click(image->Content(), "cancelbtn");
       });
  image->exec();
}

// Every one of 20,000 files fails: the summary says why in the window's own
// line, and neither the counts nor the reason are cut.
TEST(Screenshots, RecoveryWhereEveryFileFails) {
  qm::test::TempDir destination;
  FoundFileRecord record{};
  record.volumeLetter = 9;  // no scanned item has it: each file's source is gone
  record.fileSize = 2048;
  record.SetName("IMG_20240613_184512.jpg");
  RecoverJob job{{}, std::vector<FoundFileRecord>(20000, record), QString::fromStdString(destination.path().string())};
  auto recover = CRecoverProcessWnd::Create(std::move(job), nullptr);
  ASSERT_TRUE(recover);
  QString summary;
  When(recover.get(), [&] { return !FindControl(recover->Content(), "FinishBtn")->isHidden(); },
       [&] {
         summary = FindControlAs<QLabel>(recover->Content(), "recovered")->text();
         Capture(recover.get(), "RecoverProcessWnd-failed");
         Click(recover->Content(), "FinishBtn");
       });
  recover->exec();
  EXPECT_TRUE(summary.contains("Processed 20000 of 20000 files: 0 recovered, 20000 failed"))
      << summary.toStdString();
  EXPECT_TRUE(summary.contains(QString::fromStdString(ErrorText(err::kNotReady)))) << summary.toStdString();
}

TEST(Screenshots, PreviewWindows) {
  qm::test::TempDir data;
  QImage picture(640, 420, QImage::Format_RGB32);
  picture.fill(QColor(40, 120, 190));
  QPainter(&picture).fillRect(200, 120, 240, 180, QColor(250, 210, 40));
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "jpg");
  FakeScript script = LoadFakeScript("card_scan.json");
  script.files.clear();
  FakeFile photo;
  photo.name = "Holiday in Kraków.jpg";
  photo.content = jpeg.toStdString();
  FakeFile film;
  film.name = "Wedding 2019.mp4";
  film.content = std::string(8 << 20, 'v');
  script.files = {photo, film};
  FakeScanItem item('E', script, 20ms);
  std::string message;
  item.Open(false, message);

  PreviewState state;
  When(qApp, [] { return qobject_cast<CPreviewProcessWnd*>(QApplication::activeModalWidget()) != nullptr; },
       [] {
         QTest::qWait(300);
         auto* window = qobject_cast<CPreviewProcessWnd*>(QApplication::activeModalWidget());
         Capture(window, "PreviewProcessWnd");
         AnswerNextBox(true);
         Click(window->Content(), "CancelBtn");
       });
  EXPECT_EQ(StartPreview(state, Borrow(item), item.Fake()->Record(1), nullptr), CProcessWnd::kCancelled);

  ASSERT_EQ(StartPreview(state, Borrow(item), item.Fake()->Record(0), nullptr), CProcessWnd::kFinished);
  PreviewListing listing{[] { return 1; }, [&](int) { return item.Fake()->Record(0); }};
  auto window = CPreviewWnd::Create(state, listing, 0, {}, nullptr);
  ASSERT_TRUE(window);
  window->show();
  QTest::qWait(100);
  Capture(window.get(), "PreviewWnd");
}

TEST(Screenshots, MessageBoxesAndMainWindowPages) {
  const struct {
    int kind;
    const char* name;
    const char* key;
  } boxes[] = {{CMessageBox::Error, "MessageBox_Error", "MSG0504"},
               {CMessageBox::Warning, "MessageBox_Warning", "MSG0220"},
               {CMessageBox::Information, "MessageBox_Information", "MSG1207"},
               {CMessageBox::Confirm, "MessageBox_Confirm", "MSG0805"}};
  for (const auto& b : boxes) {
    std::unique_ptr<CMessageBox> box(
        CMessageBox::Create(b.kind, nullptr, LanguageStore::Instance().Text("Messages", b.key)));
    ASSERT_TRUE(box);
    box->show();
    Capture(box.get(), b.name);
  }
  CaptureMainWindowPages("MainWnd-page");
}

// A desktop with a dark theme hands the application a dark palette; the
// skin sets its own colours, so every text must stay dark on light.
TEST(Screenshots, ADarkDesktopPaletteLeavesTheSkinReadable) {
  const QPalette before = QApplication::palette();
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::WindowText, QColor(0xEE, 0xEE, 0xEE));
  dark.setColor(QPalette::Base, QColor(0x18, 0x18, 0x18));
  dark.setColor(QPalette::Text, QColor(0xEE, 0xEE, 0xEE));
  dark.setColor(QPalette::Button, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::ButtonText, QColor(0xEE, 0xEE, 0xEE));
  QApplication::setPalette(dark);
  CaptureMainWindowPages("MainWnd-dark-page", [](QStackedWidget* pages, int page) {
    // Sample the page's background: the skin's light surface, not the palette's.
    const QImage shot = pages->grab().toImage();
    const QColor corner = shot.pixelColor(shot.width() - 3, shot.height() - 3);
    EXPECT_GT(corner.lightness(), 200) << "page " << page;
  });
  QApplication::setPalette(before);
}

}  // namespace
}  // namespace qm::testing
