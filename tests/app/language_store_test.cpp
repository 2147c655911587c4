#include "app/language_store.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>
#include <thread>

#include "app/main_wnd.h"
#include "support/test_support.h"
#include "ui/skin_loader.h"

namespace qm {
namespace {

using test::TempDir;
using test::WriteBytes;

// A store over files written by the test.
struct StoreFixture {
  TempDir dir;
  LanguageStorePaths paths{QString::fromStdString((dir / "config.ini").string()),
                           QString::fromStdString((dir / "Languages").string()),
                           QString::fromStdString((dir / "user" / "config.ini").string())};
  StoreFixture() { std::filesystem::create_directories(dir / "Languages"); }
  void Write(const std::string& name, const std::string& text) { WriteBytes(dir / name, text); }
};

TEST(LanguageStore, LinesSplitAtTheFirstEqualsAndTheFirstDuplicateWins) {
  StoreFixture f;
  f.Write("config.ini", "[DefaultLanguage]\nDefault=Test\n[Languages]\nTest=Test language\nOther=Andere = zwei\n");
  f.Write("Languages/Test.ini",
          "[Messages]\n"
          "MSG0101=a = b == c\n"
          "MSG0102=first\n"
          "MSG0102=second\n"
          "; a comment=not a key\n"
          "MSG0103=\"kept space \"\n"
          "  MSG0104  =  trimmed  \n"
          "[MainWnd]\r\nBtnScan=Scan\r\n");
  LanguageStore store(f.paths);
  EXPECT_EQ(store.CurrentLanguage(), "Test");
  EXPECT_EQ(store.Text("Messages", "MSG0101"), "a = b == c");
  EXPECT_EQ(store.Text("Messages", "MSG0102"), "first");
  EXPECT_EQ(store.Text("Messages", "MSG0103"), "kept space ");
  EXPECT_EQ(store.Text("Messages", "MSG0104"), "trimmed");
  EXPECT_EQ(store.Text("MainWnd", "BtnScan"), "Scan");
  EXPECT_FALSE(store.Section("Messages").contains("; a comment"));
  // Missing keys and sections read as empty and are not added.
  EXPECT_EQ(store.Text("Messages", "MSG9999"), "");
  EXPECT_TRUE(store.Section("NoSuchWnd").isEmpty());
  EXPECT_FALSE(store.Section("Messages").contains("MSG9999"));
  const QList<QPair<QString, QString>> expected = {{"Test", "Test language"}, {"Other", "Andere = zwei"}};
  EXPECT_EQ(store.Languages(), expected);
}

TEST(LanguageStore, MissingFilesGiveEnglishAndLeaveLayoutTexts) {
  StoreFixture f;
  LanguageStore store(f.paths);
  EXPECT_EQ(store.CurrentLanguage(), "English");
  EXPECT_TRUE(store.Languages().isEmpty());

  QWidget window;
  auto* button = new QPushButton("Layout text", &window);
  button->setObjectName("BtnScan");
  store.ApplyWindowTexts(&window, "MainWnd");
  EXPECT_EQ(button->text(), "Layout text");

  // A language whose file is missing: empty table, layout texts stay.
  f.Write("config.ini", "[DefaultLanguage]\nDefault=Klingon\n");
  LanguageStore missing(f.paths);
  EXPECT_EQ(missing.CurrentLanguage(), "Klingon");
  missing.ApplyWindowTexts(&window, "MainWnd");
  EXPECT_EQ(button->text(), "Layout text");
}

TEST(LanguageStore, TheUsersChoiceIsKeptApartFromTheShippedFiles) {
  StoreFixture f;
  f.Write("config.ini", "[DefaultLanguage]\nDefault=A\n[Languages]\nA=A\nB=B\n");
  f.Write("Languages/A.ini", "[Messages]\nMSG0101=from A\n");
  f.Write("Languages/B.ini", "[Messages]\nMSG0101=from B\n");
  const std::string shipped = test::ReadBytes(f.dir / "config.ini");
  {
    LanguageStore store(f.paths);
    ASSERT_TRUE(store.SetLanguage("B"));
    EXPECT_EQ(store.Text("Messages", "MSG0101"), "from B");
    // Names that would reach outside the languages folder are refused.
    for (const char* bad : {"../A", "/etc/passwd", "..", ""}) EXPECT_FALSE(store.SetLanguage(bad)) << bad;
    EXPECT_EQ(store.CurrentLanguage(), "B");
  }
  LanguageStore again(f.paths);
  EXPECT_EQ(again.CurrentLanguage(), "B");
  EXPECT_EQ(test::ReadBytes(f.dir / "config.ini"), shipped);
}

TEST(LanguageStore, WorkerLookupsRunWhileTheLanguageChanges) {
  StoreFixture f;
  f.Write("config.ini", "[DefaultLanguage]\nDefault=A\n[Languages]\nA=A\nB=B\n");
  f.Write("Languages/A.ini", "[Messages]\nMSG0704=Scanned A\n");
  f.Write("Languages/B.ini", "[Messages]\nMSG0704=Scanned B\n");
  LanguageStore store(f.paths);
  std::atomic<bool> stop = false;
  std::atomic<int> bad = 0;
  std::thread worker([&] {
    while (!stop) {
      const QString text = store.Text("Messages", "MSG0704");
      if (text != "Scanned A" && text != "Scanned B") ++bad;
    }
  });
  for (int i = 0; i < 200; ++i) store.SetLanguage(i % 2 ? "A" : "B");
  stop = true;
  worker.join();
  EXPECT_EQ(bad, 0);
}

TEST(LanguageStore, SwitchingLanguageReappliesTheMainWindowTexts) {
  QString error;
  std::unique_ptr<CMainWnd> window = CMainWnd::Create(&error);
  ASSERT_TRUE(window) << error.toStdString();
  auto* scan = FindControlAs<QAbstractButton>(window->Layout(), "BtnScan");
  auto* product = FindControlAs<QLabel>(window->Layout(), "LblProductName");
  const auto exitItem = [&] { return window->HelpMenu()->findChild<QAction*>("item_exit")->text(); };

  // The page shown keeps its banner in the new language too.
  FindControlAs<QAbstractButton>(window->Layout(), "BtnStart")->click();
  auto* banner = FindControlAs<QLabel>(window->Layout(), "Txt1");
  window->ChangeLanguage("German");
  EXPECT_EQ(banner->text(), LanguageStore::Instance().Text("Messages", "MSG0501"));
  EXPECT_NE(banner->text(), "Choose where to look");
  EXPECT_EQ(scan->text(), "Suchen");
  EXPECT_EQ(exitItem(), "Beenden");
  EXPECT_EQ(product->text(), "Quillmark Free");
  EXPECT_TRUE(window->HelpMenu()->findChild<QAction*>("German")->isChecked());

  window->ChangeLanguage("English");
  EXPECT_EQ(scan->text(), "Scan");
  EXPECT_EQ(exitItem(), "Quit");
  EXPECT_FALSE(window->HelpMenu()->findChild<QAction*>("German")->isChecked());
}

// Every key of the English file exists in every other shipped language,
// so that no window falls back to layout texts after a switch.
TEST(LanguageStore, ShippedLanguagesHaveTheSameKeys) {
  const QString folder = QString(QUILLMARK_SOURCE_DIR) + "/languages/";
  const auto english = ReadIniFile(folder + "English.ini");
  ASSERT_FALSE(english.value("Messages").isEmpty());
  for (const auto& [name, text] : ReadIniSectionInOrder(folder + "config.ini", "Languages")) {
    const auto other = ReadIniFile(folder + name + ".ini");
    for (auto section = english.cbegin(); section != english.cend(); ++section) {
      for (auto key = section->cbegin(); key != section->cend(); ++key) {
        EXPECT_FALSE(other.value(section.key()).value(key.key()).isEmpty())
            << name.toStdString() << " lacks [" << section.key().toStdString() << "] " << key.key().toStdString();
      }
    }
  }
}

}  // namespace
}  // namespace qm
