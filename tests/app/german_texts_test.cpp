// With German chosen, no text the windows show is still the English one:
// every page of the main window (switched live, and started in German), the
// progress windows, the message boxes and the preview window are walked,
// and each visible text is compared with the text the same control shows
// in English.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>
#include <map>
#include <gtest/gtest.h>

#include "app/create_image_process_wnd.h"
#include "app/language_store.h"
#include "app/local_format.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/preview_process_wnd.h"
#include "app/qt_translations.h"
#include "app/preview_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/scan_process_wnd.h"
#include "app/search_process_wnd.h"
#include "fake_engine.h"
#include "one_volume_desk.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

using namespace std::chrono_literals;

// Where a text is shown ("window/control:property") and the text.
using TextMap = std::map<QString, QString>;

// Texts that read the same in both languages.
bool SameInBothLanguages(const QString& text) {
  static const QRegularExpression same(
      "^(OK|Details|Start|Status|Information|Videos|Quillmark Free|English|Deutsch|Partition:?( \\S+)?|"
      "[^a-z]*)$");
  return same.match(text.trimmed()).hasMatch();
}

// Controls that show names of disks and files rather than words.
const QStringList kNameControls = {"FileName", "current"};

// Tree views whose top-level rows the window words itself, and the
// columns it words; the other rows are names of volumes and files.
const std::map<QString, int> kWordedRows = {{"DiskList", 0}, {"TypeTree", 0}, {"DetailList", 1}};

QString PathOf(const QObject* object, const QObject* root) {
  QStringList parts;
  for (; object != nullptr && object != root; object = object->parent()) {
    QString part = object->objectName();
    if (part.isEmpty()) {
      int index = 0;
      if (object->parent() != nullptr) {
        for (const QObject* sibling : object->parent()->children()) {
          if (sibling == object) break;
          if (sibling->metaObject() == object->metaObject()) ++index;
        }
      }
      part = QString("%1#%2").arg(object->metaObject()->className()).arg(index);
    }
    parts.prepend(part);
  }
  return parts.join(u'/');
}

// Every text `root` shows now: labels, buttons, tool tips, placeholders,
// group and tab titles, column headings and the worded rows of its trees.
void Collect(QWidget* root, const QString& window, TextMap& out) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    if (w != root && !w->isVisibleTo(root)) continue;
    if (kNameControls.contains(w->objectName())) continue;
    const QString where = window + "/" + PathOf(w, root) + ":";
    const auto add = [&](const QString& what, const QString& text) {
      if (!text.trimmed().isEmpty()) out[where + what] = text;
    };
    add("toolTip", w->toolTip());
    add("placeholder", w->property("placeholderText").toString());
    if (w->isWindow()) add("windowTitle", w->windowTitle());
    if (auto* label = qobject_cast<QLabel*>(w)) add("text", label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) add("text", button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) add("title", group->title());
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
      for (int i = 0; i < tabs->count(); ++i) add(QString("tab%1").arg(i), tabs->tabText(i));
    }
    auto* view = qobject_cast<QTreeView*>(w);
    if (view == nullptr || view->model() == nullptr) continue;
    const QAbstractItemModel* model = view->model();
    for (int column = 0; column < model->columnCount(); ++column) {
      if (view->isColumnHidden(column) || view->isHeaderHidden()) continue;
      add(QString("heading%1").arg(column), model->headerData(column, Qt::Horizontal).toString());
    }
    if (const auto worded = kWordedRows.find(w->objectName()); worded != kWordedRows.end()) {
      for (int row = 0; row < model->rowCount(); ++row) {
        add(QString("row%1").arg(row), model->index(row, worded->second).data().toString());
      }
    }
  }
}

void CollectMenu(const QMenu* menu, const QString& where, TextMap& out) {
  for (const QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    out[where + "/" + action->objectName()] = action->text();
    if (action->menu() != nullptr) CollectMenu(action->menu(), where + "/" + action->objectName(), out);
  }
}

// The English texts that the German walk still shows.
QStringList StillEnglish(const TextMap& english, const TextMap& german) {
  QStringList left;
  for (const auto& [where, text] : german) {
    const auto found = english.find(where);
    if (found != english.end() && found->second == text && !SameInBothLanguages(text)) {
      left << where + " = \"" + text + "\"";
    }
  }
  return left;
}

// Chooses a language for one test and goes back to English after it.
struct Language {
  explicit Language(const QString& name) { Choose(name); }
  ~Language() { Choose("English"); }
  static void Choose(const QString& name) {
    LanguageStore::Instance().SetLanguage(name);
    InstallQtTranslations(LanguageStore::Instance().Locale());
  }
};

// Walks the main window's pages from the first to the results of a scan
// of the volume, both views of the results, and its menu.
void WalkMainWindow(CMainWnd& window, TextMap& out) {
  QWidget* layout = window.Layout();
  while (window.CurrentPage() != CMainWnd::Page::kStart) Click(layout, "BtnPrev");
  Collect(&window, "main/start", out);
  Click(layout, "BtnStart");
  QTreeWidget* disks = window.Disks()->View();
  if (disks->topLevelItemCount() < 2) Click(layout, "BtnLoadImage");
  disks->setCurrentItem(disks->topLevelItem(0)->child(0));
  Collect(&window, "main/disks", out);
  Click(layout, "BtnNext");
  Collect(&window, "main/types", out);
  Click(layout, "BtnPrev");
  Click(layout, "BtnScan");
  EXPECT_EQ(window.CurrentPage(), CMainWnd::Page::kResults);
  auto* views = FindControlAs<QTabWidget>(layout, "ResultViews");
  for (int tab = 0; views != nullptr && tab < views->count(); ++tab) {
    views->setCurrentIndex(tab);
    Collect(&window, QString("main/results%1").arg(tab), out);
  }
  if (views != nullptr) views->setCurrentIndex(0);
  CollectMenu(window.HelpMenu(), "main/menu", out);
}

// The progress windows, message boxes and preview window, each run to its
// end on a fake card.
void WalkOtherWindows(TextMap& out) {
  FakeScanItem item(5, LoadFakeScript("card_scan.json"), 0ms);
  std::string message;
  ASSERT_EQ(item.Open(false, message), 0);
  {
    auto scan = CScanProcessWnd::Create({Borrow(item)}, CScanProcessWnd::kQuick, nullptr);
    ASSERT_TRUE(scan);
    scan->exec();
    Collect(scan.get(), "scan", out);
  }
  {
    std::vector<FoundFileRecord> results;
    auto search = CSearchProcessWnd::Create({Borrow(item)}, "", &results, nullptr);
    ASSERT_TRUE(search);
    search->exec();
    Collect(search.get(), "sort", out);
  }
  qm::test::TempDir folder;
  {
    RecoverJob job;
    job.items = {Borrow(item)};
    job.records = {item.Fake()->Record(0)};
    job.destination = QString::fromStdString(folder.path().string());
    auto recover = CRecoverProcessWnd::Create(std::move(job), nullptr);
    ASSERT_TRUE(recover);
    CRecoverProcessWnd* window = recover.get();
    When(window, [window] { return !FindControl(window->Content(), "FinishBtn")->isHidden(); },
         [window, &out] {
           Click(window->Content(), "DetailBtn");
           Collect(window, "recover", out);
           Click(window->Content(), "FinishBtn");
         });
    recover->exec();
  }
  {
    const fs::path source = folder / "source.raw";
    qm::test::WriteBytes(source, qm::test::MakeContent(64 * 512, 2));
    ImageCopySource what;
    what.sourcePath = source.string();
    what.sectorCount = 64;
    auto copy = CCreateImageProcessWnd::Create(what, QString::fromStdString((folder / "copy.img").string()), nullptr);
    ASSERT_TRUE(copy);
    copy->exec();
    Collect(copy.get(), "image", out);
  }
  for (int kind : {CMessageBox::Error, CMessageBox::Confirm, CMessageBox::Information, CMessageBox::Question,
                   CMessageBox::Warning}) {
    std::unique_ptr<CMessageBox> box(CMessageBox::Create(kind, nullptr, "-"));
    ASSERT_TRUE(box);
    Collect(box.get(), QString("box%1").arg(kind), out);
  }
  PreviewState state;
  const FoundFileRecord record = item.Fake()->Record(0);
  {
    auto loading = CPreviewProcessWnd::Create(state, nullptr);
    ASSERT_TRUE(loading);
    Collect(loading.get(), "loading", out);
  }
  ASSERT_EQ(StartPreview(state, Borrow(item), record, nullptr), CProcessWnd::kFinished);
  PreviewListing listing{[] { return 1; }, [record](int) { return record; }};
  auto preview = CPreviewWnd::Create(state, std::move(listing), 0, {}, nullptr);
  ASSERT_TRUE(preview);
  Collect(preview.get(), "preview", out);
}

TEST(GermanTexts, ALiveSwitchWordsEveryPageOfTheMainWindow) {
  OneVolumeDesk desk;
  auto window = desk.MakeWindow();
  ASSERT_TRUE(window);
  TextMap english, german;
  WalkMainWindow(*window, english);
  // The walk reached the lists: their headings are among the texts.
  for (const char* heading : {"Drive", "Found files"}) {
    EXPECT_TRUE(std::any_of(english.begin(), english.end(), [&](const auto& e) { return e.second == heading; }))
        << heading;
  }
  Language englishAfterwards("English");
  window->ChangeLanguage("German");
  WalkMainWindow(*window, german);
  const QStringList left = StillEnglish(english, german);
  EXPECT_TRUE(left.isEmpty()) << left.join(u'\n').toStdString();
  // Qt's own dialogs follow: the file dialogs' buttons are German too.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
}

TEST(GermanTexts, StartedInGermanEveryWindowIsGerman) {
  const auto walk = [](TextMap& out) {
    OneVolumeDesk desk;
    auto window = desk.MakeWindow();
    ASSERT_TRUE(window);
    WalkMainWindow(*window, out);
    WalkOtherWindows(out);
  };
  TextMap english, german;
  walk(english);
  {
    Language chosen("German");
    walk(german);
  }
  const QStringList left = StillEnglish(english, german);
  EXPECT_TRUE(left.isEmpty()) << left.join(u'\n').toStdString();
}

TEST(GermanTexts, SizesAndDurationsUseTheLanguagesNumbers) {
  struct Case {
    const char* language;
    int64_t bytes;
    const char* size;
    int64_t seconds;
    const char* duration;
  };
  const Case cases[] = {
      {"English", 1216348, "1.16 MB", 65, "1 Min 5 Sec"},
      {"German", 1216348, "1,16 MB", 65, "1 Min. 5 Sek."},
      {"German", 1023, "1023 Byte", 7300, "2 Std. 1 Min."},
      {"German", int64_t{3} << 39, "1,50 TB", 0, "0 Sek."},
  };
  for (const Case& c : cases) {
    Language chosen(c.language);
    EXPECT_EQ(LocalSize(c.bytes), c.size) << c.language;
    EXPECT_EQ(LocalDuration(c.seconds), c.duration) << c.language;
  }
}

}  // namespace
}  // namespace qm::testing
