// The help that ships with the program: one HTML page per language in the
// help/ folder beside Languages/, opened in the desktop's browser so that it
// reads without a network.
#pragma once

#include <QString>

class QWidget;

namespace qm {

// The help page of the current language, or the English one when that
// language has none.
QString HelpPagePath();

// Opens the help page at `section` (an anchor of the page; empty for its
// top). When the page is missing or nothing on the desktop opens it, says
// so over `owner`, with the page's path.
void OpenHelp(QWidget* owner, const QString& section = {});

}  // namespace qm
