// A full libjpeg decode that also counts the decoder's warnings. A JPEG cut
// short or with part of its scan data overwritten still yields a picture
// (libjpeg pads what is missing with grey and only warns), so a preview has
// to look at the warnings to know the photo is damaged.
#pragma once

#include <QByteArray>

namespace qm {

// True when `data` starts like a JPEG (FF D8 FF).
bool LooksLikeJpeg(const QByteArray& data);

// True when libjpeg decodes every scan line of `data` without an error or
// a warning about corrupt or missing data.
bool JpegDecodesCleanly(const QByteArray& data);

}  // namespace qm
