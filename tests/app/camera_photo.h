// A photo as a camera would write it: a real JPEG that decodes, of a few
// tens of KiB at the default size, different for every seed.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <string>

namespace qm::testing {

inline std::string CameraPhoto(int seed, int width = 640, int height = 480) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  for (int top = 0, band = 0; top < height; top += 10, ++band) {
    painter.fillRect(0, top, width, 10, QColor::fromHsv((seed * 40 + band * 7) % 360, 160, 200));
  }
  painter.drawText(width / 16, height / 12, QString("photo %1").arg(seed));
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 85);
  return bytes.toStdString();
}

}  // namespace qm::testing
