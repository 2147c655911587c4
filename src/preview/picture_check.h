// Whether a copied-out picture can really be shown: the whole image is
// decoded, because a photo whose data was overwritten after deletion keeps
// an intact header and only fails further in.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace qm {

// The whole picture at `path`, or a null image when it cannot be shown:
// unreadable, too large, too small, or decoded only with damage.
QImage LoadPreviewPicture(const QString& path);

// True when `path` decodes to a non-empty image; `size` (may be null)
// receives its pixel size, or an invalid size when it cannot be shown.
bool CanShowPicture(const QString& path, QSize* size);

// The text the preview shows instead of a picture it cannot render.
inline constexpr const char* kCannotPreviewPicture = "\nCan not preview the picture!\n";

// The preview's decision for a picture file: empty when the picture can be
// shown as it is, otherwise the text to show in its place.
QString PictureFallbackText(const QString& path);

}  // namespace qm
