// The file dialog that picks a disk image to load: the image kinds people
// have, and the folder the last one came from.
#pragma once

#include <QString>

class QWidget;

namespace qm {

// "Disk images (*.img *.dd …);;All files (*)" in the current language.
QString DiskImageFilter();

// The folder of the image loaded last, kept in the user's settings; empty
// before the first.
QString LastImageFolder();
void RememberImageFolder(const QString& imagePath);

// Asks for an image to load, starting in LastImageFolder(). Empty when the
// user cancels.
QString ChooseImageToLoad(QWidget* owner);

}  // namespace qm
