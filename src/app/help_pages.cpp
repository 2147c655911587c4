#include "app/help_pages.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "app/language_store.h"
#include "app/message_box.h"
#include "app/message_format.h"

namespace qm {

QString HelpPagePath() {
  const QString folder = ProgramDataFolder() + "/help/";
  const QString page = folder + LanguageStore::Instance().CurrentLanguage() + ".html";
  return QFileInfo::exists(page) ? page : folder + "English.html";
}

void OpenHelp(QWidget* owner, const QString& section) {
  const QString page = HelpPagePath();
  const auto text = [](const char* key) { return LanguageStore::Instance().Text("Messages", key); };
  if (!QFileInfo::exists(page)) {
    CMessageBox::Show(CMessageBox::Warning, owner, FillMessage(text("MSG1457"), {page}));
    return;
  }
  QUrl url = QUrl::fromLocalFile(page);
  if (!section.isEmpty()) url.setFragment(section);
  // False when no browser or handler for HTML files is set up (a bare
  // server, a minimal desktop): the user can still open the file by hand.
  if (QDesktopServices::openUrl(url)) return;
  CMessageBox::Show(CMessageBox::Information, owner, FillMessage(text("MSG1456"), {page}));
}

}  // namespace qm
