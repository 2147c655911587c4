// The recover step's choice between sorting the recovered files into
// category folders (photo/, audio/, ...) and keeping the folders they were
// found in. The choice is kept in the user's settings, so the next run
// starts with it.
#pragma once

#include <QString>

class QAbstractButton;
class QCheckBox;

namespace qm {

// Whether recovered files keep their folders; false until chosen.
bool KeepFolderStructure();
void SetKeepFolderStructure(bool keep);

// A "ChkKeepFolders" box placed just before `recover` in its row, shown
// and hidden with it, starting from the remembered choice and remembering
// each change.
QCheckBox* AddKeepFoldersBox(QAbstractButton* recover);

}  // namespace qm
