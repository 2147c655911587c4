// JPEG-like files for the scan and recovery tests: the opening of a real
// JFIF photo, seeded bytes, and the end-of-image marker. They do not decode;
// carving, the file-type checks and the photo categories look only at the
// markers. Tests that need a picture that decodes make one with cjpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::test {

struct JpegShape {
  // 0xFF in the body becomes 0x7F, so that no marker stands inside and the
  // only FF D9 is the end of image.
  bool noMarkersInside = false;
  // Ends with FF D9; without it the file stops mid-way, as a photo whose
  // tail was lost.
  bool endOfImage = true;
};

// A file of exactly `bytes` bytes: at least the 20 of the opening, and 2 more
// with the end of image.
std::string JpegLike(size_t bytes, uint32_t seed, JpegShape shape = {});

// The JFIF opening (start of image and an APP0 "JFIF" segment, 20 bytes),
// then `body`, then FF D9 when `endOfImage`: for a body made another way.
std::string JpegAround(const std::string& body, bool endOfImage = true);
// What JpegAround adds to a body with its end of image.
inline constexpr size_t kJpegFrameBytes = 22;

}  // namespace qm::test
