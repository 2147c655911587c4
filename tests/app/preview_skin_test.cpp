#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTextBrowser>
#include <gtest/gtest.h>

#include "app/language_store.h"
#include "app/main_wnd.h"
#include "preview/preview_layouts.h"
#include "support/test_support.h"
#include "ui/skin_loader.h"

namespace qm {
namespace {

using test::TempDir;
using test::WriteBytes;

std::string ShippedLayout(const char* name) {
  QFile file(SkinLoader::SkinRoot() + "/xml/" + name);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
  return file.readAll().toStdString();
}

// A skin folder of the test's own, filled with copies of shipped layouts
// that the test may then damage.
struct CopiedSkin {
  TempDir dir;
  QString previous = SkinLoader::SkinRoot();
  explicit CopiedSkin(std::initializer_list<const char*> layouts) {
    std::filesystem::create_directories(dir / "xml");
    for (const char* name : layouts) Write(name, ShippedLayout(name));
    SkinLoader::SetSkinRoot(QString::fromStdString(dir.path().string()));
  }
  ~CopiedSkin() { SkinLoader::SetSkinRoot(previous); }
  void Write(const std::string& name, const std::string& text) { WriteBytes(dir / "xml" / name, text); }
};

std::string Without(std::string text, const std::string& part) {
  const size_t at = text.find(part);
  EXPECT_NE(at, std::string::npos) << part;
  if (at != std::string::npos) text.erase(at, part.size());
  return text;
}

TEST(PreviewSkin, LayoutsLoadWithTheirControlsAndSizes) {
  const struct {
    const char* layout;
    const QStringList& controls;
    QSize size;
  } layouts[] = {{kPreviewProcessLayout, kPreviewProcessControls, {450, 250}},
                 {kPreviewLayout, kPreviewControls, {820, 620}}};
  for (const auto& l : layouts) {
    LoadedLayout loaded = SkinLoader::Load(l.layout, l.controls);
    ASSERT_NE(loaded.root, nullptr) << loaded.error.toStdString();
    EXPECT_EQ(loaded.root->size(), l.size) << l.layout;
  }
  LoadedLayout preview = SkinLoader::Load(kPreviewLayout, kPreviewControls);
  ASSERT_NE(preview.root, nullptr);
  // The view holds text and pictures alike.
  EXPECT_NE(FindControlAs<QTextBrowser>(preview.root.get(), "PreviewEdit"), nullptr);

  CopiedSkin skin({kPreviewLayout});
  skin.Write(kPreviewLayout, Without(ShippedLayout(kPreviewLayout), R"(name="PreviewEdit")"));
  LoadedLayout broken = SkinLoader::Load(kPreviewLayout, kPreviewControls);
  EXPECT_EQ(broken.root, nullptr);
  EXPECT_TRUE(broken.error.contains(R"("xml/PreviewWnd.ui" has no control named "PreviewEdit")"))
      << broken.error.toStdString();
}

TEST(HelpMenu, IsBuiltFromItsLayoutInOrder) {
  QString error;
  std::unique_ptr<CMainWnd> window = CMainWnd::Create(&error);
  ASSERT_TRUE(window) << error.toStdString();
  QStringList items;
  for (QAction* action : window->HelpMenu()->actions()) items << (action->isSeparator() ? "-" : action->objectName());
  EXPECT_EQ(items, QStringList({"item_help", "item_faq", "item_language", "item_support", "item_about", "item_scans",
                                "-", "item_exit"}));
  QMenu* languages = window->HelpMenu()->findChild<QAction*>("item_language")->menu();
  ASSERT_NE(languages, nullptr);
  QStringList languageNames;
  for (QAction* action : languages->actions()) languageNames << action->objectName();
  EXPECT_EQ(languageNames, QStringList({"English", "German"}));

  QSignalSpy quit(window.get(), &CMainWnd::QuitRequested);
  window->HelpMenu()->findChild<QAction*>("item_exit")->trigger();
  EXPECT_EQ(quit.size(), 1);
}

// Every control the main window uses is bound once, by name and kind, when
// its layout loads: a skin that lacks one, or has one of another kind, is
// refused with its name rather than failing when the control is first used.
TEST(MainWndSkin, AControlMissingOrOfTheWrongKindStopsTheStart) {
  const std::string layout = ShippedLayout("skin.ui");
  const struct {
    const char* what;
    std::string part;
    std::string replacement;
    const char* mentions;
  } cases[] = {
      {"wrong kind", R"(<widget class="QComboBox" name="FolderSource"/>)", R"(<widget class="QLabel" name="FolderSource"/>)",
       R"(no usable control named "FolderSource")"},
      {"banner image missing", R"(name="ToolBar2Logo")", R"(name="Logo2")", R"(no control named "ToolBar2Logo")"},
      {"footer missing", R"(name="SubBar1")", R"(name="Footer")", R"(no control named "SubBar1")"},
  };
  for (const auto& c : cases) {
    CopiedSkin skin({"skin.ui", "menu_assist.ui"});
    std::string damaged = layout;
    const size_t at = damaged.find(c.part);
    ASSERT_NE(at, std::string::npos) << c.what;
    damaged.replace(at, c.part.size(), c.replacement);
    skin.Write("skin.ui", damaged);
    QString error;
    EXPECT_EQ(CMainWnd::Create(&error), nullptr) << c.what;
    EXPECT_TRUE(error.contains(c.mentions)) << c.what << ": " << error.toStdString();
  }
}

TEST(HelpMenu, AMissingOrIncompleteLayoutStopsTheStart) {
  const std::string menu = ShippedLayout("menu_assist.ui");
  const struct {
    const char* what;
    std::string layout;  // empty: no menu layout at all
    const char* mentions;
  } cases[] = {
      {"missing", "", R"("xml/menu_assist.ui" is missing)"},
      {"no action", Without(menu, "<action name=\"item_about\">\n"
                                    "   <property name=\"text\"><string>About Quillmark</string></property>\n"
                                    "  </action>\n"), R"(no control named "item_about")"},
      {"not in the menu", Without(menu, R"(<addaction name="item_exit"/>)"), R"(does not put "item_exit")"},
  };
  for (const auto& c : cases) {
    CopiedSkin skin({"skin.ui"});
    if (!c.layout.empty()) skin.Write("menu_assist.ui", c.layout);
    QString error;
    EXPECT_EQ(CMainWnd::Create(&error), nullptr) << c.what;
    EXPECT_TRUE(error.contains(c.mentions)) << c.what << ": " << error.toStdString();
  }
}

}  // namespace
}  // namespace qm
