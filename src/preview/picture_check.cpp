#include "preview/picture_check.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "preview/jpeg_clean_decode.h"

namespace qm {

namespace {

// A picture smaller than this is what a decoder makes of a stub; such a
// result is no preview.
constexpr int kSmallestShownSide = 3;

// Larger preview copies are not pictures a user would step through; they
// are refused rather than read into memory whole.
constexpr qint64 kLargestPicture = 256LL * 1024 * 1024;

}  // namespace

QImage LoadPreviewPicture(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestPicture) return {};
  QByteArray data = file.readAll();
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  // The content decides the format, not the name: a preview copy is named
  // after the first photo type whatever it holds.
  reader.setDecideFormatFromContent(true);
  QImage image = reader.read();
  if (image.isNull() || image.width() < kSmallestShownSide || image.height() < kSmallestShownSide) return {};
  // Qt's JPEG reader shows a cut or overwritten photo with grey filling in
  // and reports no failure; only the decoder's warnings tell.
  if (LooksLikeJpeg(data) && !JpegDecodesCleanly(data)) return {};
  return image;
}

bool CanShowPicture(const QString& path, QSize* size) {
  const QImage image = LoadPreviewPicture(path);
  if (size != nullptr) *size = image.isNull() ? QSize() : image.size();
  return !image.isNull();
}

QString PictureFallbackText(const QString& path) {
  return CanShowPicture(path, nullptr) ? QString() : QString(kCannotPreviewPicture);
}

}  // namespace qm
