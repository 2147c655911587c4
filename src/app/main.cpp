// quillmark: the desktop application.
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/language_store.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/qt_translations.h"
#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "app/udisks_opener.h"
#include "platform/environment.h"
#include "platform/user_folders.h"
#include "ui/skin_loader.h"

namespace {

void LoadStyleSheet(QApplication& app) {
  QFile style(qm::SkinLoader::SkinRoot() + "/style.qss");
  if (style.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(style.readAll()));
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quillmark %s\n", QUILLMARK_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("Usage: quillmark [OPTIONS]\n"
                  "Finds and recovers deleted and lost files. A disk the user may not "
                  "read is asked of the system's disk service (UDisks2); where that "
                  "is refused, join the disk group or start the window as root "
                  "through 'pkexec quillmark', which asks for an administrator's "
                  "password.\n\n"
                  "Options:\n"
                  "  --help     print this help and exit\n"
                  "  --version  print the version and exit\n");
      return 0;
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillmark");
  QApplication::setApplicationVersion(QUILLMARK_VERSION);
  // Lets Wayland desktops match the window with its menu entry and icon.
  QGuiApplication::setDesktopFileName("org.quillmark.quillmark");
  QApplication::setStyle("Fusion");
  // A folder of layouts and images that replaces the built-in skin.
  const QString skinFolder = QString::fromStdString(qm::Environment::Read().skinDir);
  if (!skinFolder.isEmpty()) qm::SkinLoader::SetSkinRoot(skinFolder);
  LoadStyleSheet(app);
  // The file dialogs and Qt's other built-in texts in the chosen language.
  qm::InstallQtTranslations(qm::LanguageStore::Instance().Locale());

  qm::SingleInstance instance;
  if (!instance.Claim()) {
    // The first copy raises its window; this one says where it is, for
    // whoever started it from a terminal.
    std::fprintf(stderr, "Quillmark is already running on this display (%s); its window was raised.\n",
                 qPrintable(instance.Name()));
    return 0;
  }

  qm::UDisksOpener::InstallForSystemBus();
  QString error;
  std::unique_ptr<qm::CMainWnd> window = qm::CMainWnd::Create(&error);
  if (!window) {
    std::fprintf(stderr, "quillmark: %s\n", qPrintable(error));
    return 2;
  }
  QObject::connect(&instance, &qm::SingleInstance::RaiseRequested, window.get(), [&window] {
    window->showNormal();
    window->raise();
    window->activateWindow();
  });
  QObject::connect(window.get(), &qm::CMainWnd::QuitRequested, &app, &QApplication::quit);
  qm::QuitOnTerminationSignals();
  window->show();
  const int code = app.exec();
  window.reset();
  // The last preview's video copy is the only file the window leaves in the
  // ScanLog folder besides the scans themselves.
  std::error_code ignored;
  std::filesystem::remove(qm::ScanLogFolder() / "tmp.avi", ignored);
  return code;
}
