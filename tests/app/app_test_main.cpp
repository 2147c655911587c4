// One QApplication for all tests, on the offscreen platform (or the one
// QUILLMARK_TEST_PLATFORM names); the language
// store and the user's configuration point into a temporary folder that
// holds copies of the shipped language files.
#include <QApplication>
#include <QFile>
#include <filesystem>
#include <gtest/gtest.h>

#include "app_test_env.h"
#include "support/test_support.h"
#include "ui/skin_loader.h"

namespace fs = std::filesystem;

namespace qm::testing {

const fs::path& AppTestFolder() {
  static qm::test::TempDir folder;
  return folder.path();
}

}  // namespace qm::testing

int main(int argc, char** argv) {
  // Offscreen unless a run under a real (virtual) display asks for xcb.
  const QByteArray platform = qgetenv("QUILLMARK_TEST_PLATFORM");
  qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
  const fs::path root = qm::testing::AppTestFolder();
  const fs::path share = root / "share";
  fs::create_directories(share / "Languages");
  const fs::path languages = fs::path(QUILLMARK_SOURCE_DIR) / "languages";
  fs::copy_file(languages / "config.ini", share / "config.ini");
  fs::copy_file(languages / "English.ini", share / "Languages" / "English.ini");
  fs::copy_file(languages / "German.ini", share / "Languages" / "German.ini");
  fs::copy(fs::path(QUILLMARK_SOURCE_DIR) / "packaging" / "help", share / "help");
  qputenv("QUILLMARK_SHARE_DIR", QByteArray::fromStdString(share.string()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((root / "config").string()));

  QApplication app(argc, argv);
  QFile style(qm::SkinLoader::SkinRoot() + "/style.qss");
  if (style.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(style.readAll()));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
