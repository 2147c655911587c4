#include "support/jpeg_fixture.h"

#include <stdexcept>

#include "support/test_support.h"

namespace qm::test {

namespace {
// Start of image, then APP0: length 16, "JFIF\0", version 1.1, no units,
// 1 x 1 density, no thumbnail.
const std::string kJfifOpening("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
const std::string kEndOfImage("\xFF\xD9", 2);
}  // namespace

std::string JpegAround(const std::string& body, bool endOfImage) {
  return kJfifOpening + body + (endOfImage ? kEndOfImage : std::string());
}

std::string JpegLike(size_t bytes, uint32_t seed, JpegShape shape) {
  const size_t frame = kJfifOpening.size() + (shape.endOfImage ? kEndOfImage.size() : 0);
  if (bytes < frame) throw std::invalid_argument("JpegLike: too few bytes for the opening and end");
  std::string body = MakeContent(bytes - frame, seed);
  if (shape.noMarkersInside)
    for (char& c : body)
      if (static_cast<uint8_t>(c) == 0xFF) c = 0x7F;
  return JpegAround(body, shape.endOfImage);
}

}  // namespace qm::test
