// Previewing found files: the copy-out window, what each kind of file is
// shown as, the preview window's photo stepping, and the main window's
// preview pane.
#include <QAbstractButton>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPainter>
#include <QPdfWriter>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>
#include <set>
#include <gtest/gtest.h>

#include "app/file_list_model.h"
#include "app/file_type_tree.h"
#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/preview_display.h"
#include "app/preview_process_wnd.h"
#include "app/preview_wnd.h"
#include "app/result_browser.h"
#include "fake_engine.h"
#include "platform/user_folders.h"
#include "preview/byte_dump.h"
#include "preview/media_player.h"
#include "preview/picture_check.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

std::string Encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, 90);
  return bytes.toStdString();
}

std::string Photo(QColor colour) {
  QImage image(160, 120, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb((x * 3) % 256, (x * y) % 256, colour.blue()));
  }
  return Encoded(image, "jpg");
}

std::string OnePagePdf() {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QPdfWriter writer(&buffer);
  writer.setResolution(72);
  QPainter painter(&writer);
  painter.fillRect(QRect(0, 0, 300, 300), Qt::darkBlue);
  painter.end();
  return bytes.toStdString();
}

FakeScript Files(std::vector<FakeFile> files) {
  FakeScript script;
  script.reports = {{100, 0, 1, 1, files.size()}};
  script.files = std::move(files);
  return script;
}

FakeFile File(std::string name, std::string content) {
  FakeFile file;
  file.name = std::move(name);
  file.content = std::move(content);
  return file;
}

// Every file below `root`, relative to it.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), root).string());
  }
  return found;
}

TEST(ByteDump, OneCharacterPerByteInLinesOf1024) {
  const std::string mixed("MZ\0\x90\xff", 5);
  EXPECT_EQ(ByteDump(reinterpret_cast<const uint8_t*>(mixed.data()), mixed.size()),
            QString("MZ.") + QChar(0x90) + QChar(0xff) + "\r\n");
  EXPECT_EQ(ByteDump(nullptr, 0), QString("\r\n"));
  for (size_t size : {1023u, 1024u, 1025u, 3000u}) {
    const std::string bytes(size, 'a');
    const QString dump = ByteDump(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const QStringList lines = dump.split("\r\n");
    ASSERT_EQ(lines.size(), static_cast<qsizetype>((size + 1023) / 1024 + 1)) << size;
    EXPECT_TRUE(lines.back().isEmpty()) << "the dump ends with a line break";
    for (qsizetype i = 0; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), kDumpLineChars) << size;
  }
}

// Copies each kind of file out and shows it, checking what the box holds
// and that nothing was written outside the ScanLog folder.
TEST(Preview, EachKindOfFileIsShownItsOwnWay) {
  TempDir dir;
  const std::string photo = Photo(Qt::yellow);
  const std::string exe = std::string("MZ\x90\0\3\0\0\0", 8) + std::string(10000, 'x');
  FakeScanItem item(7, Files({File("IMG_0042.JPG", photo), File("cut.jpg", photo.substr(0, photo.size() / 2)),
                              File("setup.exe", exe), File("letter.rtf", "{\\rtf1\\ansi Dear Ania,\\par see you}"),
                              File("report.pdf", OnePagePdf()), File("broken.pdf", std::string(5000, 'k'))}),
                    0ms);
  std::string message;
  ASSERT_EQ(item.Open(false, message), 0);
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());

  QTextEdit edit;
  edit.resize(400, 300);
  const PreviewTarget target{&edit, nullptr};
  const QString caption = LanguageStore::Instance().Text("Messages", "MSG0905");
  struct Case {
    size_t index;
    PreviewState::Shown shown;
    QString textStart;  // of the box's plain text
  };
  const Case cases[] = {
      {0, PreviewState::Shown::kPicture, QString(QChar::ObjectReplacementCharacter)},
      {1, PreviewState::Shown::kPicture, LanguageStore::Instance().Text("Messages", "MSG1510")},
      {2, PreviewState::Shown::kDump, QString("MZ") + QChar(0x90) + "." + QChar(3) + "..."},
      {3, PreviewState::Shown::kText, "Dear Ania,"},
      {4, PreviewState::Shown::kPicture, QString(QChar::ObjectReplacementCharacter)},
      {5, PreviewState::Shown::kDump, "kkkk"},
  };
  PreviewState state;
  for (const Case& c : cases) {
    const FoundFileRecord record = item.Fake()->Record(c.index);
    SCOPED_TRACE(record.Name());
    ASSERT_EQ(StartPreview(state, Borrow(item), record, nullptr), CProcessWnd::kFinished);
    EXPECT_EQ(state.shown, c.shown);
    ShowPreview(state, target);
    EXPECT_TRUE(edit.toPlainText().trimmed().startsWith(c.textStart)) << edit.toPlainText().left(40).toStdString();
    if (!state.picture.isNull()) {
      EXPECT_TRUE(edit.toPlainText().contains(caption));
    }
  }
  // The dump of a document no converter reads is its first 8 KiB.
  EXPECT_EQ(state.bytes.size(), 5000);

  fs::current_path(cwd);
  for (const std::string& file : FilesBelow(dir.path())) {
    EXPECT_TRUE(file.starts_with("ScanLog/")) << file << " was written outside the ScanLog folder";
  }
  // Each preview deletes the copies of the one before.
  EXPECT_EQ(FilesBelow(dir.path()), (std::set<std::string>{"ScanLog/broken.pdf"}));
  state.RemoveTemporaryFiles();
  EXPECT_TRUE(FilesBelow(dir.path()).empty());
}

TEST(Preview, ACancelledLargeCopyReturnsTwoAndLeavesNothing) {
  TempDir dir;
  FakeScanItem item(3, Files({File("holiday.mp4", std::string(32 << 20, 'v'))}), 5ms);
  std::string message;
  ASSERT_EQ(item.Open(false, message), 0);
  PreviewState state;
  When(
      qApp,
      [] {
        auto* window = qobject_cast<CPreviewProcessWnd*>(QApplication::activeModalWidget());
        return window != nullptr && FindControlAs<QProgressBar>(window, "progress")->value() > 0;
      },
      [] {
        AnswerNextBox(true);
        Click(QApplication::activeModalWidget(), "CancelBtn");
      });
  EXPECT_EQ(StartPreview(state, Borrow(item), item.Fake()->Record(0), nullptr), CProcessWnd::kCancelled);
  EXPECT_EQ(state.shown, PreviewState::Shown::kNothing);
  EXPECT_TRUE(state.tempPath.empty());
  EXPECT_TRUE(FilesBelow(dir.path()).empty()) << "the part copied before the cancel is deleted";

  QTextEdit edit;
  edit.setPlainText("the last preview");
  ShowPreview(state, {&edit, nullptr});
  EXPECT_TRUE(edit.toPlainText().isEmpty());
}

TEST(Preview, ACopyThatFailsSaysWhy) {
  TempDir dir;
  FakeScanItem item(3, Files({File("gone.jpg", "x")}), 0ms);
  std::string message;
  ASSERT_EQ(item.Open(false, message), 0);
  const FoundFileRecord record = item.Fake()->Record(0);
  // The item was closed meanwhile: its engine is gone.
  item.Close();
  PreviewState state;
  EXPECT_EQ(StartPreview(state, Borrow(item), record, nullptr), CProcessWnd::kFailed);
  QTextEdit edit;
  ShowPreview(state, {&edit, nullptr});
  EXPECT_TRUE(edit.toPlainText().contains("could not be read")) << edit.toPlainText().toStdString();
}

// Photos among other files, as a list shows them.
struct PhotoList {
  TempDir dir;
  FakeScanItem item;
  std::vector<FoundFileRecord> rows;
  std::vector<FoundFileRecord> recovered;
  PreviewState state;

  // `delay`: how long the engine takes for each piece it copies out.
  explicit PhotoList(std::chrono::milliseconds delay = 0ms)
      : item(5,
             Files({File("a.jpg", Photo(Qt::red)), File("notes.bin", "plain"), File("b.jpg", Photo(Qt::green)),
                    File("song.mp3", "ID3"), File("c.JPG", Photo(Qt::blue))}),
             delay) {
    std::string message;
    item.Open(false, message);
    for (size_t i = 0; i < 5; ++i) rows.push_back(item.Fake()->Record(i));
  }
  std::unique_ptr<CPreviewWnd> Open(int row) {
    EXPECT_EQ(StartPreview(state, Borrow(item), rows[row], nullptr), CProcessWnd::kFinished);
    PreviewListing listing{[this] { return static_cast<int>(rows.size()); }, [this](int i) { return rows[i]; }};
    PreviewWndServices services{[this](const FoundFileRecord&) { return Borrow(item); },
                                [this](const FoundFileRecord& record) { recovered.push_back(record); }};
    QString error;
    auto window = CPreviewWnd::Create(state, std::move(listing), row, std::move(services), nullptr, &error);
    EXPECT_TRUE(window) << error.toStdString();
    return window;
  }
};

// Runs the window's queued showing of what the last step copied out.
void WaitShown(CPreviewWnd& window) {
  bool shown = false;
  QObject::connect(&window, &CPreviewWnd::PreviewReady, [&shown] { shown = true; });
  for (int i = 0; i < 200 && !shown; ++i) QTest::qWait(5);
  EXPECT_TRUE(shown);
}

TEST(PreviewWindow, StepsThroughThePhotosOnlyAndWrapsAround) {
  PhotoList list;
  auto window = list.Open(4);
  ASSERT_TRUE(window);
  WaitShown(*window);
  EXPECT_EQ(FindControlAs<QLabel>(window.get(), "FileName")->text(), "c.JPG");
  EXPECT_TRUE(FindControl(window.get(), "NextBar")->isVisibleTo(window.get()));

  Click(window.get(), "NextBtn");  // the last photo: on to the first
  WaitShown(*window);
  EXPECT_EQ(window->Row(), 0);
  EXPECT_EQ(FindControlAs<QLabel>(window.get(), "FileName")->text(), "a.jpg");
  EXPECT_FALSE(window->State().picture.isNull());
  EXPECT_EQ(window->State().picture.pixelColor(5, 5).blue(), QColor(Qt::red).blue());

  Click(window.get(), "NextBtn");  // past notes.bin
  WaitShown(*window);
  EXPECT_EQ(window->Row(), 2);
  Click(window.get(), "PrevBtn");
  WaitShown(*window);
  Click(window.get(), "PrevBtn");  // the first photo: back to the last
  WaitShown(*window);
  EXPECT_EQ(window->Row(), 4);

  Click(window.get(), "RecoveryBtn");
  ASSERT_EQ(list.recovered.size(), 1u);
  EXPECT_EQ(list.recovered[0].Name(), "c.JPG");
}

TEST(PreviewWindow, AFileCopiedToMemoryShowsItsDumpWithoutStepping) {
  PhotoList list;
  auto window = list.Open(1);
  ASSERT_TRUE(window);
  WaitShown(*window);
  EXPECT_FALSE(FindControl(window.get(), "NextBar")->isVisibleTo(window.get()));
  EXPECT_TRUE(FindControlAs<QTextEdit>(window.get(), "PreviewEdit")->toPlainText().startsWith("plain"));
}

// Left and Right step through the photos as the buttons do, while the
// preview box has the keyboard focus.
TEST(PreviewWindow, ArrowKeysStepThroughThePhotos) {
  PhotoList list;
  auto window = list.Open(0);
  ASSERT_TRUE(window);
  WaitShown(*window);
  window->show();
  window->activateWindow();
  auto* box = FindControlAs<QTextEdit>(window.get(), "PreviewEdit");
  box->setFocus();
  struct Case {
    Qt::Key key;
    int row;
    const char* name;
  };
  const Case cases[] = {{Qt::Key_Right, 2, "b.jpg"}, {Qt::Key_Right, 4, "c.JPG"}, {Qt::Key_Left, 2, "b.jpg"},
                        {Qt::Key_Left, 0, "a.jpg"},  {Qt::Key_Left, 4, "c.JPG"}};
  for (const Case& c : cases) {
    // The offscreen platform does not give the focus back by itself once
    // the copy-out window of the last step has closed.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(box, c.key);
    WaitShown(*window);
    EXPECT_EQ(window->Row(), c.row) << c.name;
    EXPECT_EQ(FindControlAs<QLabel>(window.get(), "FileName")->text(), c.name);
  }
}

TEST(PreviewWindow, ACancelledStepKeepsTheShownFile) {
  PhotoList list(300ms);
  auto window = list.Open(0);
  ASSERT_TRUE(window);
  WaitShown(*window);
  // Cancel as soon as the copy-out window opens, while the engine is still
  // reading.
  When(
      window.get(), [] { return qobject_cast<CPreviewProcessWnd*>(QApplication::activeModalWidget()) != nullptr; },
      [] {
        AnswerNextBox(true);
        Click(QApplication::activeModalWidget(), "CancelBtn");
      });
  window->Step(+1);
  EXPECT_EQ(window->Row(), 0);
  Click(window.get(), "RecoveryBtn");
  ASSERT_EQ(list.recovered.size(), 1u);
  EXPECT_EQ(list.recovered[0].Name(), "a.jpg");
}

// The main window after a scan of one volume holding `files`.
struct ScannedWindow {
  std::shared_ptr<FakeScanItem> item;
  std::unique_ptr<CMainWnd> window;
  QTreeView* list = nullptr;

  explicit ScannedWindow(std::vector<FakeFile> files)
      : item(std::make_shared<FakeScanItem>(1, Files(std::move(files)), 0ms)) {
    MainWndServices services;
    services.enumerate = [] {
      DiskSnapshot disks;
      disks.disks[0] = DiskRecord{0, "/dev/sdz", "Card", 512, 1 << 16, true, false, {}, 0};
      VolumeRecord volume;
      volume.letter = 1;
      volume.devicePath = "/dev/sdz1";
      volume.sectorCount = 2048;
      volume.totalBytes = 2048 * 512;
      volume.fileSystemName = "FAT32";
      disks.volumes = {volume};
      return disks;
    };
    services.watchDevices = false;
    services.volumeItems = [this](const VolumeRecord&) -> ScanItemPtr { return item; };
    QString error;
    window = CMainWnd::Create(&error, services);
    EXPECT_TRUE(window) << error.toStdString();
    if (!window) return;
    window->Disks()->WaitForRefresh();
    window->resize(1000, 650);
    window->show();
    FindControlAs<QAbstractButton>(window->Layout(), "BtnStart")->click();
    window->Disks()->View()->setCurrentItem(window->Disks()->View()->topLevelItem(0)->child(0));
    FindControlAs<QAbstractButton>(window->Layout(), "BtnScan")->click();
    EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
    list = FindControlAs<QTreeView>(window->Layout(), "FileList");
  }
};

TEST(MainWndPreview, AClickPreviewsARowButTickingItsBoxDoesNot) {
  TempDir dir;
  ScannedWindow scanned({File("IMG_7.jpg", Photo(Qt::cyan)), File("IMG_8.jpg", Photo(Qt::magenta))});
  ASSERT_TRUE(scanned.window);
  CMainWnd& window = *scanned.window;
  QTreeView* list = scanned.list;
  FakeEngine& engine = *scanned.item->Fake();
  ASSERT_EQ(list->model()->rowCount(), 2);

  const auto click = [list](int row, int column) {
    const QRect cell = list->visualRect(list->model()->index(row, column));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  };
  click(0, FileListModel::kCheck);
  EXPECT_EQ(engine.previews(), 0) << "ticking a file does not preview it";
  click(1, FileListModel::kName);
  EXPECT_EQ(engine.previews(), 1);
  const FileListModel& model = window.Browser()->Model();
  EXPECT_EQ(window.Preview().record.Name(), model.RecordAt(1).Name());
  EXPECT_EQ(window.Preview().shown, PreviewState::Shown::kPicture);
  EXPECT_TRUE(window.PreviewPane().edit->toPlainText().contains(QChar::ObjectReplacementCharacter));
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Up);
  EXPECT_EQ(engine.previews(), 2) << "moving with the keys previews the row";
  EXPECT_EQ(window.Preview().record.Name(), model.RecordAt(0).Name());

  // Closing the window deletes the preview's copy.
  scanned.window.reset();
  EXPECT_TRUE(FilesBelow(dir.path()).empty());
}

TEST(MainWndPreview, TheFolderViewPreviewsFilesAndNamesFolders) {
  TempDir dir;
  FakeFile folder = File("DCIM", "");
  folder.folder = true;
  ScannedWindow scanned({File("IMG_9.jpg", Photo(Qt::gray)), folder});
  ASSERT_TRUE(scanned.window);
  CMainWnd& window = *scanned.window;
  auto* tree = FindControlAs<QTreeView>(window.Layout(), "FolderTree");
  QAbstractItemModel* model = tree->model();
  ASSERT_NE(model, nullptr);
  // The folders are read on a worker; the first row is the whole volume.
  ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() > 0; }, 5000));
  FindControlAs<QTabWidget>(window.Layout(), "ResultViews")->setCurrentIndex(1);
  const QModelIndex volume = model->index(0, 0);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(volume).center());
  EXPECT_EQ(window.PreviewPane().edit->toPlainText(), LanguageStore::Instance().Text("Messages", "MSG0904"));
  EXPECT_EQ(scanned.item->Fake()->previews(), 0);
  // The folder's files are listed, and a file is previewed from there.
  ASSERT_EQ(scanned.list->model()->rowCount(), 1);
  const QModelIndex file = scanned.list->model()->index(0, FileListModel::kName);
  ASSERT_EQ(file.data().toString(), "IMG_9.jpg");
  QTest::mouseClick(scanned.list->viewport(), Qt::LeftButton, {}, scanned.list->visualRect(file).center());
  EXPECT_EQ(scanned.item->Fake()->previews(), 1);
  EXPECT_EQ(window.Preview().shown, PreviewState::Shown::kPicture);
}

TEST(MainWndPreview, MediaPlaysInThePaneAndAFileThatWillNotPlaySaysSo) {
  TempDir dir;
  ScannedWindow scanned({File("clip.avi", std::string(4096, 'j'))});
  ASSERT_TRUE(scanned.window);
  CMainWnd& window = *scanned.window;
  ASSERT_EQ(scanned.list->model()->rowCount(), 1);
  QString said;
  AnswerNextBox(true, {}, &said);
  window.PreviewRow(0);
  EXPECT_EQ(window.Preview().shown, PreviewState::Shown::kMedia);
  EXPECT_TRUE(fs::exists(ScanLogFolder() / "tmp.avi"));
  for (int i = 0; i < 500 && said.isEmpty(); ++i) QTest::qWait(10);
  EXPECT_EQ(said, LanguageStore::Instance().Text("Messages", "MSG1207"));
  ASSERT_NE(window.PreviewPane().player, nullptr);
  EXPECT_FALSE(window.PreviewPane().player->isVisibleTo(&window));
  EXPECT_TRUE(window.PreviewPane().edit->isVisibleTo(&window));
}

}  // namespace
}  // namespace qm::testing
