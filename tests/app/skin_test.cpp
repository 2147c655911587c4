#include <QAbstractButton>
#include <QCheckBox>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/message_box.h"
#include "app/single_instance.h"
#include "support/test_support.h"
#include "ui/skin_loader.h"
#include "ui/skin_notifications.h"

namespace qm {
namespace {

using test::TempDir;
using test::WriteBytes;

constexpr const char* kSmallLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>Wnd</class>
 <widget class="QWidget" name="Wnd">
  <layout class="QVBoxLayout" name="column">
   <item><widget class="QPushButton" name="BtnGo"><property name="text"><string>Go</string></property></widget></item>
   <item><widget class="QCheckBox" name="ChkAll"/></item>
   <item><widget class="QTreeWidget" name="List"><column><property name="text"><string>Name</string></property></column></widget></item>
   <item><widget class="CBadgeUI" name="Badge"/></item>
  </layout>
 </widget>
 <customwidgets><customwidget><class>CBadgeUI</class><extends>QLabel</extends><header>badge.h</header></customwidget></customwidgets>
</ui>
)";

// Points the loader at a folder of the test's own and back afterwards.
struct SkinFolder {
  TempDir dir;
  QString previous = SkinLoader::SkinRoot();
  SkinFolder() {
    std::filesystem::create_directories(dir / "xml");
    SkinLoader::SetSkinRoot(QString::fromStdString(dir.path().string()));
  }
  ~SkinFolder() { SkinLoader::SetSkinRoot(previous); }
  void Write(const std::string& name, const std::string& text) { WriteBytes(dir / "xml" / name, text); }
};

TEST(SkinLoader, MissingLayoutsAndControlsGiveAClearError) {
  SkinFolder skin;
  skin.Write("Broken.ui", "<ui version=\"4.0\"><widget class=\"QWidget\" name=\"W\">");
  skin.Write("Small.ui", kSmallLayout);
  const struct {
    const char* layout;
    QStringList required;
    const char* mentions;
  } cases[] = {
      {"Nowhere.ui", {}, "\"xml/Nowhere.ui\" is missing"},
      {"Broken.ui", {}, "\"xml/Broken.ui\" cannot be read"},
      {"Small.ui", {"BtnGo", "BtnStop"}, "has no control named \"BtnStop\""},
  };
  for (const auto& c : cases) {
    LoadedLayout loaded = SkinLoader::Load(c.layout, c.required);
    EXPECT_EQ(loaded.root, nullptr) << c.layout;
    EXPECT_TRUE(loaded.error.contains(c.mentions)) << loaded.error.toStdString();
  }
  EXPECT_NE(SkinLoader::Load("Small.ui", {"BtnGo", "List"}).root, nullptr);
}

TEST(SkinLoader, CustomControlsAndNamedNotifications) {
  SkinFolder skin;
  skin.Write("Small.ui", kSmallLayout);
  SkinLoader::RegisterControl("CBadgeUI", [](QWidget* parent) { return new QLabel("badge", parent); });
  LoadedLayout loaded = SkinLoader::Load("Small.ui", {"Badge"});
  ASSERT_NE(loaded.root, nullptr) << loaded.error.toStdString();
  EXPECT_EQ(FindControlAs<QLabel>(loaded.root.get(), "Badge")->text(), "badge");

  QStringList seen;
  SkinNotifications notifications(loaded.root.get(), [&](const Notification& n) {
    seen << QString("%1 %2 %3").arg(n.type, n.control).arg(n.value);
  });
  FindControlAs<QAbstractButton>(loaded.root.get(), "BtnGo")->click();
  FindControlAs<QCheckBox>(loaded.root.get(), "ChkAll")->setChecked(true);
  auto* list = FindControlAs<QTreeWidget>(loaded.root.get(), "List");
  list->addTopLevelItems({new QTreeWidgetItem({"a"}), new QTreeWidgetItem({"b"})});
  list->setCurrentItem(list->topLevelItem(1));
  EXPECT_EQ(seen, QStringList({"click BtnGo 0", "selectchanged ChkAll 1", "itemselect List 1"}));

  // A burst of starts while one is pending fires once, after the first.
  seen.clear();
  notifications.StartTimer("List", 0, 30);
  QTest::qWait(10);
  notifications.StartTimer("List", 0, 30);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 2000));
  notifications.StopTimers("List");
  EXPECT_FALSE(notifications.TimerPending("List", 0));
  QTest::qWait(60);
  EXPECT_EQ(seen, QStringList({"timer List 0"}));
}

TEST(MessageBox, KindsPickLayoutAndTitleAndButtonsGiveTheResult) {
  const struct {
    int kind;
    const char* title;
    bool hasCancel;
  } kinds[] = {{CMessageBox::Error, "Error", false},         {CMessageBox::Confirm, "Confirm", true},
               {CMessageBox::Information, "Information", false}, {CMessageBox::Warning, "Warning", false},
               {CMessageBox::Question, "Question", true},       {42, "Error", false}};
  for (const auto& k : kinds) {
    QString error;
    std::unique_ptr<CMessageBox> box(CMessageBox::Create(k.kind, nullptr, "Disk gone.", &error));
    ASSERT_TRUE(box) << error.toStdString();
    EXPECT_EQ(box->findChild<QLabel*>("title")->text(), k.title);
    EXPECT_EQ(box->findChild<QLabel*>("message")->text(), "Disk gone.");
    EXPECT_EQ(box->findChild<QAbstractButton*>("cancelbtn") != nullptr, k.hasCancel) << k.kind;
    EXPECT_EQ(box->size(), QSize(400, 160));
  }
  const struct {
    const char* button;
    int result;
  } presses[] = {{"okbtn", CMessageBox::Ok}, {"cancelbtn", CMessageBox::Cancelled}, {"closebtn", CMessageBox::Cancelled}};
  for (const auto& p : presses) {
    std::unique_ptr<CMessageBox> box(CMessageBox::Create(CMessageBox::Question, nullptr, "Stop scanning?"));
    QTimer::singleShot(0, box.get(), [&] { box->findChild<QAbstractButton*>(p.button)->click(); });
    EXPECT_EQ(box->exec(), p.result) << p.button;
  }
}

TEST(SingleInstance, ASecondStartAsksTheFirstToRaiseItsWindow) {
  const QString name = QString("quillmark-test-%1").arg(QCoreApplication::applicationPid());
  SingleInstance first(name);
  ASSERT_TRUE(first.Claim());
  QSignalSpy raised(&first, &SingleInstance::RaiseRequested);
  SingleInstance second(name);
  EXPECT_FALSE(second.Claim());
  EXPECT_TRUE(raised.wait(2000) || raised.count() == 1);
}

// The key is the user and the display: a copy on another display, or a test
// under its own virtual display, is not taken for the user's running copy.
TEST(SingleInstance, KeysByUserAndDisplayInTheRuntimeFolder) {
  TempDir runtime;
  const QString folder = QString::fromStdString(runtime.path().string());
  const auto name = [&](std::initializer_list<std::pair<const char*, const char*>> variables, uint uid = 1000) {
    QProcessEnvironment environment;
    environment.insert("XDG_RUNTIME_DIR", folder);
    for (const auto& [key, value] : variables) environment.insert(key, value);
    return SingleInstance::DefaultName(environment, uid);
  };
  EXPECT_NE(name({{"DISPLAY", ":0"}}), name({{"DISPLAY", ":99"}})) << "two X displays";
  EXPECT_NE(name({{"WAYLAND_DISPLAY", "wayland-0"}}), name({{"WAYLAND_DISPLAY", "wayland-1"}}));
  EXPECT_NE(name({{"DISPLAY", ":0"}}, 1000), name({{"DISPLAY", ":0"}}, 1001)) << "two users";
  EXPECT_NE(name({{"DISPLAY", ":0"}}), name({})) << "a display and none";
  EXPECT_EQ(name({{"DISPLAY", ":0"}}), name({{"DISPLAY", ":0"}})) << "the same display";
  EXPECT_EQ(name({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}), name({{"WAYLAND_DISPLAY", "wayland-0"}}))
      << "Xwayland's DISPLAY is the same desktop";
  for (const QString& socket : {name({{"DISPLAY", "localhost:10.0"}}), name({{"WAYLAND_DISPLAY", "/run/a b/w-0"}})}) {
    EXPECT_EQ(QFileInfo(socket).absolutePath(), QFileInfo(folder).absoluteFilePath()) << socket.toStdString();
    EXPECT_FALSE(QFileInfo(socket).fileName().contains(u'/'));
    EXPECT_FALSE(QFileInfo(socket).fileName().contains(u' '));
  }

  // Without a runtime folder the name still keeps users and displays apart.
  QProcessEnvironment bare;
  bare.insert("DISPLAY", ":5");
  const QString fallback = SingleInstance::DefaultName(bare, 4242);
  EXPECT_TRUE(fallback.contains("4242")) << fallback.toStdString();
  EXPECT_TRUE(fallback.contains("x11-_5")) << fallback.toStdString();
  EXPECT_TRUE(QFileInfo(fallback).isAbsolute());

  // Two displays claim side by side; the same display finds the first.
  SingleInstance first(name({{"DISPLAY", ":0"}}));
  ASSERT_TRUE(first.Claim());
  SingleInstance other(name({{"DISPLAY", ":99"}}));
  EXPECT_TRUE(other.Claim());
  SingleInstance again(name({{"DISPLAY", ":0"}}));
  EXPECT_FALSE(again.Claim());
  EXPECT_TRUE(QFileInfo::exists(first.Name())) << "the socket sits in the runtime folder";
}

TEST(Application, PrintsItsVersionAndRefusesABrokenSkin) {
  std::string output;
  EXPECT_EQ(test::Run(std::string(QUILLMARK_APP_PATH) + " --version", &output), 0);
  EXPECT_EQ(output, "quillmark " QUILLMARK_VERSION "\n");

  TempDir emptySkin;
  // Its own runtime folder keeps its single-instance socket apart from any
  // running copy.
  const std::string command = "QT_QPA_PLATFORM=offscreen TMPDIR=" + test::Quote(emptySkin.path().string()) +
                              " XDG_RUNTIME_DIR=" + test::Quote(emptySkin.path().string()) +
                              " QUILLMARK_SKIN_DIR=" + test::Quote(emptySkin.path().string()) +
                              " " + QUILLMARK_APP_PATH;
  const int status = test::Run(command, &output);
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("\"xml/skin.ui\" is missing"), std::string::npos) << output;
}

}  // namespace
}  // namespace qm
