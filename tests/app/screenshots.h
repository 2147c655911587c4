// Keeps a picture of a window for a person to look at, when
// QUILLMARK_SCREENSHOTS names a folder: <folder>/<name>@<scale>x.png.
#pragma once

#include <QDir>
#include <QString>
#include <QTest>
#include <QWidget>

namespace qm::testing {

inline void SaveShot(QWidget* window, const QString& name) {
  const QString folder = qEnvironmentVariable("QUILLMARK_SCREENSHOTS");
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  QTest::qWait(60);  // the layout and the views catch up with new texts
  window->grab().save(QString("%1/%2@%3x.png").arg(folder, name).arg(window->devicePixelRatioF()));
}

}  // namespace qm::testing
