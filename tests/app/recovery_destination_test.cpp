#include "app/recovery_destination.h"

#include <QApplication>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/formatting.h"
#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/message_format.h"
#include "app/recover_process_wnd.h"
#include "support/test_support.h"
#include "window_driver.h"

namespace fs = std::filesystem;

namespace qm::testing {
namespace {

std::vector<FoundFileRecord> Files(uint64_t size, int count) {
  FoundFileRecord record{};
  record.fileSize = size;
  record.SetName("IMG_0001.JPG");
  return std::vector<FoundFileRecord>(count, record);
}

QString Text(const char* key) { return LanguageStore::Instance().Text("Messages", key); }

// A folder that cannot take the chosen files is refused, with what is wrong
// and what to do, before anything is copied; the folder is asked for again.
TEST(RecoveryDestination, AFolderThatCannotTakeTheFilesIsRefusedBeforeCopying) {
  qm::test::TempDir temp;
  const fs::path out = temp / "Recovered";
  fs::create_directories(out);
  const QString tempFolder = QString::fromStdString(out.string());
  const uint64_t huge = uint64_t{1} << 60;
  struct Case {
    const char* what;
    QString folder;
    uint64_t fileSize;
    QStringList said;  // parts of the message
    bool answer;       // OK, or Cancel to choose another folder
  };
  const Case cases[] = {
      // sysfs takes no new files, not even from root.
      {"not writable", "/sys/kernel", 4096, {FillMessage(Text("MSG1452"), {"/sys/kernel"})}, true},
      {"too little room", tempFolder, huge / 4,
       {QString::fromStdString(FormatSize(static_cast<int64_t>(huge))), tempFolder}, false},
  };
  MainWndServices services;
  services.enumerate = [] { return DiskSnapshot{}; };
  services.watchDevices = false;
  int asked = 0;
  QString next;
  services.chooseRecoveryFolder = [&](QWidget*) { return asked++ == 0 ? next : QString(); };
  QString error;
  auto window = CMainWnd::Create(&error, services);
  ASSERT_TRUE(window) << error.toStdString();
  for (const Case& c : cases) {
    asked = 0;
    next = c.folder;
    QString said;
    AnswerNextBox(c.answer, {}, &said);
    // Recovery must not start; should it, its window is closed again.
    bool started = false;
    When(window.get(), [] { return qobject_cast<CRecoverProcessWnd*>(QApplication::activeModalWidget()) != nullptr; },
         [&] {
           started = true;
           static_cast<QDialog*>(QApplication::activeModalWidget())->done(0);
         });
    window->Recover(Files(c.fileSize, 4));
    EXPECT_FALSE(started) << c.what;
    EXPECT_EQ(asked, 2) << c.what;  // refused, then asked again (and cancelled)
    for (const QString& part : c.said) EXPECT_TRUE(said.contains(part)) << c.what << ": " << said.toStdString();
    EXPECT_TRUE(fs::is_empty(out)) << c.what;
  }
}

// A folder with room, or one still to be made, keeps no trace of the check
// and comes back without its trailing slash; one short of room is taken when the user says so, as
// the sizes a damaged file system records may be too large.
TEST(RecoveryDestination, AFolderWithRoomOrTheUsersWordIsTakenAndLeftAsItWas) {
  qm::test::TempDir temp;
  const fs::path out = temp / "Recovered";
  fs::create_directories(out);
  int asked = 0;
  const QString folder = ChooseRecoveryDestination(
      [&](QWidget*) {
        ++asked;
        return QString::fromStdString(out.string()) + "/";
      },
      nullptr, Files(1 << 20, 3));
  EXPECT_EQ(folder, QString::fromStdString(out.string()));
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(fs::is_empty(out));

  // Folders that are not there yet are made by the recovery, in the
  // nearest one that is.
  const QString later = QString::fromStdString((out / "Recovered" / "Card").string());
  EXPECT_EQ(ChooseRecoveryDestination([&](QWidget*) { return later; }, nullptr, Files(1 << 20, 3)), later);
  EXPECT_TRUE(fs::is_empty(out));

  QString said;
  AnswerNextBox(true, {}, &said);
  EXPECT_EQ(ChooseRecoveryDestination([&](QWidget*) { return QString::fromStdString(out.string()); }, nullptr,
                                      Files(uint64_t{1} << 60, 1)),
            QString::fromStdString(out.string()));
  EXPECT_TRUE(said.contains(QString::fromStdString(out.string()))) << said.toStdString();
}

}  // namespace
}  // namespace qm::testing
