// Shows a prepared preview: in the main window's preview pane or in the
// preview window, both a rich text box with a media player beside it.
#pragma once

#include <QString>
#include <functional>

#include "app/preview_state.h"

class QImage;
class QTextEdit;

namespace qm {

class MediaPlayer;

struct PreviewTarget {
  QTextEdit* edit = nullptr;      // pictures, texts and dumps
  MediaPlayer* player = nullptr;  // audio and video; may be null (then the text box says so)
};

// Fills `target` from `state`. The player is stopped and hidden unless the
// preview is of a media file; it reports a failure to play itself.
void ShowPreview(const PreviewState& state, const PreviewTarget& target);

// Empties the target and stops the player, letting go of the media copy.
void ClearPreview(const PreviewTarget& target);

// Makes the player of a target whose box lies in a box layout, placed
// right after the box and hidden; the media back end is only started for
// the first media preview.
MediaPlayer* AddPlayerBeside(QTextEdit* edit);

// Fits the picture `shown` returns (null: no picture is shown) to the box
// again whenever the box changes size.
void KeepPictureFitted(QTextEdit* edit, std::function<const QImage*()> shown);

// Shows a line of text in the target (a folder's note, a failure).
void ShowPreviewNote(const PreviewTarget& target, const QString& text);

}  // namespace qm
