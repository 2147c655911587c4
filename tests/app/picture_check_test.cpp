#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <gtest/gtest.h>

#include "preview/picture_check.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// A photo-like picture: gradients and shapes, so that the JPEG scan data
// is not one long run of the same values.
QImage SamplePicture() {
  QImage image(240, 160, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x, (x * y) % 256, y + 60));
  }
  QPainter painter(&image);
  painter.setBrush(Qt::yellow);
  painter.drawEllipse(40, 30, 90, 70);
  return image;
}

// An 8 x 6 two-colour GIF (Qt reads GIF but cannot write it).
const std::string kSmallGif(
    "\x47\x49\x46\x38\x39\x61\x08\x00\x06\x00\xf0\x00\x00\xcc\x00\x33\x33\x00\xcc\x21\xf9\x04\x00\x00\x00"
    "\x00\x00\x2c\x00\x00\x00\x00\x08\x00\x06\x00\x00\x02\x0c\x84\x8f\x79\x01\x6c\x0c\x5b\x98\xb4\xda\x59"
    "\x00\x00\x3b",
    53);

TEST(PictureCheck, DecodesWholePicturesAndRefusesDamagedOnes) {
  TempDir dir;
  const auto at = [&](const char* name) { return dir / name; };
  const QImage picture = SamplePicture();
  for (const char* format : {"jpg", "png", "bmp", "webp"}) {
    ASSERT_TRUE(QImageWriter::supportedImageFormats().contains(format)) << "no writer for " << format;
    ASSERT_TRUE(picture.save(QString::fromStdString(at("whole.").string() + format), format)) << format;
  }
  WriteBytes(at("whole.gif"), kSmallGif);
  const std::string jpeg = ReadBytes(at("whole.jpg"));
  // Preview copies are named after the first photo type whatever they hold.
  WriteBytes(at("png-named.jpg"), ReadBytes(at("whole.png")));
  WriteBytes(at("cut.jpg"), jpeg.substr(0, jpeg.size() / 2));
  std::string overwritten = jpeg;
  std::fill(overwritten.begin() + static_cast<std::ptrdiff_t>(jpeg.size() * 2 / 5),
            overwritten.begin() + static_cast<std::ptrdiff_t>(jpeg.size() * 3 / 5), '\0');
  WriteBytes(at("zeroed.jpg"), overwritten);
  WriteBytes(at("header-only.jpg"), jpeg.substr(0, 600));
  WriteBytes(at("text.jpg"), "Dear diary, today I deleted my photos.\n");
  WriteBytes(at("empty.jpg"), "");

  const struct {
    const char* file;
    QSize size;  // invalid: the picture must be refused
  } cases[] = {
      {"whole.jpg", {240, 160}},   {"whole.png", {240, 160}}, {"whole.bmp", {240, 160}},
      {"whole.webp", {240, 160}},  {"whole.gif", {8, 6}},     {"png-named.jpg", {240, 160}},
      {"cut.jpg", {}},             {"zeroed.jpg", {}},        {"header-only.jpg", {}},
      {"text.jpg", {}},            {"empty.jpg", {}},         {"missing.jpg", {}},
  };
  for (const auto& c : cases) {
    const QString path = QString::fromStdString(at(c.file).string());
    QSize size(1, 1);
    EXPECT_EQ(CanShowPicture(path, &size), c.size.isValid()) << c.file;
    EXPECT_EQ(size, c.size) << c.file;
    EXPECT_EQ(PictureFallbackText(path), c.size.isValid() ? QString() : QString(kCannotPreviewPicture)) << c.file;
  }
}

}  // namespace
}  // namespace qm
