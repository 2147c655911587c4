#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace qm {

bool InstallQtTranslations(const QLocale& locale) {
  static QTranslator* installed = nullptr;
  QLocale::setDefault(locale);
  if (installed != nullptr) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
  }
  if (locale.language() == QLocale::English) return false;
  auto translator = std::make_unique<QTranslator>();
  // "qt" pulls in qtbase and the other modules' files where they are
  // installed; qtbase alone covers the dialogs the window opens.
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(locale, "qt", "_", folder) && !translator->load(locale, "qtbase", "_", folder)) return false;
  installed = translator.release();
  QCoreApplication::installTranslator(installed);
  return true;
}

}  // namespace qm
