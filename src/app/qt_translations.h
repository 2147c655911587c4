// Qt's own texts (the file dialogs, the standard buttons, the menus of text
// fields) in the window's language, from the translations Qt ships.
#pragma once

#include <QLocale>

namespace qm {

// Replaces the Qt translation installed before with the one for `locale`
// and makes `locale` the default for numbers and dates. False when Qt ships
// no translation for it (English needs none); Qt's texts are then English.
bool InstallQtTranslations(const QLocale& locale);

}  // namespace qm
