// Why something failed, in the window's language: the [Errors] section of
// the language file words each error by its number, and an error it does
// not word reads as the system's English text.
#pragma once

#include <QString>

namespace qm {

QString ErrorWords(int code);

}  // namespace qm
