#include "preview/pdf_view.h"

#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace qm {
namespace {

// 150 dots per inch reads well in the preview pane; the longer side is
// capped so that a page claiming to be metres wide cannot exhaust memory.
constexpr double kDotsPerPoint = 150.0 / 72.0;
constexpr int kLongestSide = 2400;

}  // namespace

int PdfView::Convert(const std::filesystem::path& path, QString& text) {
  text.clear();
  QPdfDocument document;
  if (document.load(QString::fromStdString(path.string())) != QPdfDocument::Error::None) return kConvertNothingOut;
  if (document.pageCount() < 1) return kConvertNothingOut;

  const QSizeF points = document.pagePointSize(0);
  if (!(points.width() > 0 && points.height() > 0)) return kConvertNothingOut;
  QSizeF pixels = points * kDotsPerPoint;
  const double scale = std::min(1.0, kLongestSide / std::max(pixels.width(), pixels.height()));
  pixels *= scale;
  const QSize size(std::max(1, static_cast<int>(std::lround(pixels.width()))),
                   std::max(1, static_cast<int>(std::lround(pixels.height()))));
  QImage page = document.render(0, size);
  if (page.isNull()) return kConvertNothingOut;

  // JPEG has no transparency: an unpainted page background is white.
  QImage opaque(page.size(), QImage::Format_RGB32);
  opaque.fill(Qt::white);
  {
    QPainter painter(&opaque);
    painter.drawImage(0, 0, page);
  }

  // Written beside and then renamed over an older picture, so that a failed
  // write never leaves half a picture behind.
  QSaveFile picture(QString::fromStdString((pictureFolder_ / kPictureName).string()));
  if (!picture.open(QIODevice::WriteOnly)) return kConvertNothingOut;
  if (!opaque.save(&picture, "JPG", 90)) {
    picture.cancelWriting();
    return kConvertNothingOut;
  }
  return picture.commit() ? 0 : kConvertNothingOut;
}

}  // namespace qm
