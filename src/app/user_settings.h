// The window's remembered choices (the list's divider, the last image
// folder, whether recovered files keep their folders) in one file:
// $XDG_CONFIG_HOME/Quillmark Pro/quillmark.ini.
#pragma once

#include <QSettings>

namespace qm {

inline QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, "Quillmark Pro", "quillmark");
}

}  // namespace qm
