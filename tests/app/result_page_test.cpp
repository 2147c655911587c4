// The results page of the real window after a scan: what it opens on, what
// a node of the category tree lists, how the list and the preview share
// the page, and the file-type page that decides what is listed.
#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <gtest/gtest.h>

#include "app/file_list_model.h"
#include "app/file_type_tree.h"
#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/message_format.h"
#include "app/result_browser.h"
#include "camera_photo.h"
#include "fake_engine.h"
#include "window_driver.h"

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCameraName = "IMG_20240613_184512.jpg";

FakeFile File(std::string name, std::string content = "data") {
  FakeFile file;
  file.name = std::move(name);
  file.content = std::move(content);
  file.size = file.content.size();
  return file;
}

QAbstractButton* Button(CMainWnd& window, const char* name) {
  return FindControlAs<QAbstractButton>(window.Layout(), name);
}

// A window with one card of one volume holding `files`. `chooseTypes`
// runs on the file-type choice before the scan.
struct CardWindow {
  std::shared_ptr<FakeScanItem> item;
  std::unique_ptr<CMainWnd> window;

  explicit CardWindow(std::vector<FakeFile> files, const std::function<void(CMainWnd&)>& chooseTypes = {}) {
    FakeScript script;
    script.reports = {{100, 0, 1, 1, files.size()}};
    script.files = std::move(files);
    item = std::make_shared<FakeScanItem>(1, script, 0ms);
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
    window->show();
    Button(*window, "BtnStart")->click();
    if (chooseTypes) chooseTypes(*window);
    window->Disks()->View()->setCurrentItem(window->Disks()->View()->topLevelItem(0)->child(0));
    Button(*window, "BtnScan")->click();
    EXPECT_EQ(window->CurrentPage(), CMainWnd::Page::kResults);
  }

  QTreeView* List() const { return FindControlAs<QTreeView>(window->Layout(), "FileList"); }
  QTextEdit* Pane() const { return FindControlAs<QTextEdit>(window->Layout(), "PreviewEdit"); }
  QSplitter* Splitter() const { return FindControlAs<QSplitter>(window->Layout(), "ResultSplitter"); }
  FileTypeTree& Tree() const { return window->Browser()->TypeTree(); }

  std::vector<std::string> Rows() const {
    std::vector<std::string> names;
    FileListModel& model = window->Browser()->Model();
    for (int row = 0; row < model.rowCount(); ++row) names.push_back(model.RecordAt(row).Name());
    std::sort(names.begin(), names.end());
    return names;
  }
  int GroupOf(const QString& extension) const {
    for (size_t i = 0; i < Tree().Groups().size(); ++i) {
      if (Tree().Groups()[i].extension == extension) return static_cast<int>(i);
    }
    return -1;
  }
};

QString Note(const QString& kind, int count) {
  return FillMessage(LanguageStore::Instance().Text("Messages", "MSG1402"), {kind, QString::number(count)});
}

// A document sorts before a photo by name ("doc" < "jpg"), but the page
// opens on the photos; each node of the tree lists what it stands for, and
// the pane says what that is, never that it is a folder.
TEST(ResultPage, OpensOnThePhotosAndEveryTreeNodeListsWhatItStandsFor) {
  CardWindow card({File("report.doc"), File("IMG_1.jpg"), File("IMG_2.png"), File("song.mp3")});
  ASSERT_TRUE(card.window);
  FileTypeTree& tree = card.Tree();
  ASSERT_NE(tree.CategoryNode(0), nullptr);
  EXPECT_EQ(tree.Tree()->currentItem(), tree.CategoryNode(0));
  EXPECT_EQ(card.Rows(), (std::vector<std::string>{"IMG_1.jpg", "IMG_2.png"}));
  const QString language = LanguageStore::Instance().Text("Messages", "MSG0807");
  EXPECT_EQ(card.Pane()->toPlainText(), Note(language, 2));

  const struct {
    const char* node;
    QTreeWidgetItem* item;
    QString kind;
    std::vector<std::string> rows;
  } nodes[] = {
      {"documents", tree.CategoryNode(3), LanguageStore::Instance().Text("Messages", "MSG0810"), {"report.doc"}},
      {"everything", tree.Tree()->topLevelItem(0), LanguageStore::Instance().Text("Messages", "MSG1401"),
       {"IMG_1.jpg", "IMG_2.png", "report.doc", "song.mp3"}},
      {"one group", tree.GroupNode(card.GroupOf("png")), "PNG", {"IMG_2.png"}},
      {"music", tree.CategoryNode(1), LanguageStore::Instance().Text("Messages", "MSG0808"), {"song.mp3"}},
  };
  for (const auto& n : nodes) {
    ASSERT_NE(n.item, nullptr) << n.node;
    tree.Tree()->setCurrentItem(n.item);
    EXPECT_EQ(card.Rows(), n.rows) << n.node;
    EXPECT_EQ(card.Pane()->toPlainText(), Note(n.kind, static_cast<int>(n.rows.size()))) << n.node;
  }
}

// The page at the window's first size: a camera's file name is read whole
// in a list taller than the preview; the user may size the name column,
// and a bigger window gives the preview's photo more room.
TEST(ResultPage, NamesAreReadableAndThePreviewGrowsWithTheWindow) {
  QSettings(QSettings::IniFormat, QSettings::UserScope, "Quillmark Pro", "quillmark").remove("Results");
  CardWindow card({File(kCameraName, CameraPhoto(3, 1600, 1200)), File("IMG_0002.jpg", CameraPhoto(4))});
  ASSERT_TRUE(card.window);
  // The size the window opens at where the screen has room (the test
  // screen is smaller).
  card.window->resize(1000, 650);
  QTreeView* list = card.List();
  QHeaderView* header = list->header();
  QApplication::processEvents();

  const int needed = list->fontMetrics().horizontalAdvance(kCameraName) + list->iconSize().width() + 8;
  const int left = header->sectionViewportPosition(FileListModel::kName);
  EXPECT_GE(header->sectionSize(FileListModel::kName), needed);
  EXPECT_LE(left + needed, list->viewport()->width()) << "the name is in view without scrolling";
  EXPECT_LE(header->length(), list->viewport()->width()) << "every column shown is in view";
  EXPECT_LT(header->sectionSize(FileListModel::kModified), header->sectionSize(FileListModel::kName));
  EXPECT_EQ(header->sectionResizeMode(FileListModel::kName), QHeaderView::Interactive);
  EXPECT_GT(list->height(), card.Pane()->height()) << "the list has the larger part of the page";

  // The creation time, left out to give the name its room, comes back
  // from the heading's menu.
  EXPECT_TRUE(header->isSectionHidden(FileListModel::kCreated));
  const QString created = header->model()->headerData(FileListModel::kCreated, Qt::Horizontal).toString();
  When(qApp, [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; },
       [created] {
         auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
         for (QAction* action : menu->actions()) {
           if (action->text() == created) action->trigger();
         }
         menu->close();
       });
  emit header->customContextMenuRequested(QPoint(10, 5));
  EXPECT_FALSE(header->isSectionHidden(FileListModel::kCreated));
  EXPECT_GE(header->sectionSize(FileListModel::kName), needed);

  // The photo is fitted to the pane, and fitted again when the pane grows.
  FileListModel& model = card.window->Browser()->Model();
  int row = 0;
  while (row < model.rowCount() && model.RecordAt(row).Name() != kCameraName) ++row;
  ASSERT_LT(row, model.rowCount());
  card.window->PreviewRow(row);
  ASSERT_EQ(card.window->Preview().shown, PreviewState::Shown::kPicture);
  const auto shownWidth = [&] {
    const QImage stored = card.Pane()->document()
                              ->resource(QTextDocument::ImageResource, QUrl("quillmark-preview://picture"))
                              .value<QImage>();
    return stored.isNull() ? 0.0 : stored.width() / stored.devicePixelRatio();
  };
  const double before = shownWidth();
  ASSERT_GT(before, 0);
  card.window->resize(1800, 1200);
  QApplication::processEvents();
  EXPECT_GT(shownWidth(), before * 1.3);

  // A name column the user sized keeps its width when the window changes.
  header->resizeSection(FileListModel::kName, needed + 40);
  card.window->resize(1300, 900);
  QApplication::processEvents();
  EXPECT_EQ(header->sectionSize(FileListModel::kName), needed + 40);
}

// Where the user leaves the divider between list and preview is where the
// next window has it.
TEST(ResultPage, TheDividerIsWhereTheUserLeftIt) {
  QSettings(QSettings::IniFormat, QSettings::UserScope, "Quillmark Pro", "quillmark").remove("Results");
  QList<int> left;
  {
    CardWindow card({File("IMG_1.jpg")});
    ASSERT_TRUE(card.window);
    QSplitter* split = card.Splitter();
    QApplication::processEvents();
    const int total = split->sizes().value(0) + split->sizes().value(1);
    split->setSizes({total / 4, total - total / 4});
    emit split->splitterMoved(total / 4, 1);
    left = split->sizes();
  }
  CardWindow again({File("IMG_1.jpg")});
  ASSERT_TRUE(again.window);
  QApplication::processEvents();
  const QList<int> restored = again.Splitter()->sizes();
  ASSERT_EQ(restored.size(), 2);
  EXPECT_NEAR(restored[0], left[0], 2);
  QSettings(QSettings::IniFormat, QSettings::UserScope, "Quillmark Pro", "quillmark").remove("Results");
}

// The file-type choice: one box per type people have, each listing its
// spellings, and "other files" a box of its own that can be cleared.
TEST(ResultPage, EachTypeBoxListsItsFilesUnderTheirCategory) {
  const std::vector<FakeFile> files = {File("IMG_0001.HEIC"), File("a.jpg"),      File("b.jpeg"),
                                       File("_MG_0003.CR3"),  File("song.flac"), File("clip.mkv"),
                                       File("slides.pptx"),   File("setup.exe")};
  const struct {
    std::vector<const char*> boxes;  // left checked, every other cleared
    std::vector<std::string> listed;
    int category;                    // where the first listed file sorts
  } cases[] = {
      {{"TypeHeic"}, {"IMG_0001.HEIC"}, 0},
      {{"TypeJpg"}, {"a.jpg", "b.jpeg"}, 0},
      {{"TypeCr3", "TypeArw"}, {"_MG_0003.CR3"}, 0},
      {{"TypeFlac"}, {"song.flac"}, 1},
      {{"TypeMkv"}, {"clip.mkv"}, 2},
      {{"TypePptx"}, {"slides.pptx"}, 3},
      {{"OptOtherFileItem"}, {"setup.exe"}, 5},
  };
  for (const auto& c : cases) {
    const std::string label = c.boxes[0];
    CardWindow card(files, [&](CMainWnd& window) {
      auto* other = qobject_cast<QCheckBox*>(Button(window, "OptOtherFileItem"));
      ASSERT_NE(other, nullptr) << "other files is a check box";
      Button(window, "ChkRecoverAll")->setChecked(false);
      EXPECT_FALSE(other->isChecked());
      for (const char* box : c.boxes) {
        ASSERT_NE(Button(window, box), nullptr) << box;
        Button(window, box)->setChecked(true);
      }
    });
    ASSERT_TRUE(card.window) << label;
    card.Tree().Tree()->setCurrentItem(card.Tree().Tree()->topLevelItem(0));
    EXPECT_EQ(card.Rows(), c.listed) << label;
    EXPECT_NE(card.Tree().CategoryNode(c.category), nullptr) << label;
  }
}

}  // namespace
}  // namespace qm::testing
