// Deleted photos as real encoders write them, found and recovered byte for
// byte: libjpeg's cjpeg (baseline, progressive, restart markers), Pillow with
// an Exif block, the same files with their JFIF segment stripped the way
// cameras and phones write them (Exif first, or the quantization table
// first), a JPEG under a .png name, a file cut short, and names in several
// scripts.
#include <gtest/gtest.h>

#include <map>

#include "cli/cli_runner.h"
#include "support/test_support.h"

namespace qm {
namespace {

using test::Cli;
using test::Quote;
using test::TempDir;
namespace fs = std::filesystem;

// A 256x192 picture with gradients and noise, so that the encoders produce
// files of tens of KiB with every kind of segment.
void WritePpm(const fs::path& path, uint32_t seed) {
  const int w = 256, h = 192;
  std::string data = "P6\n256 192\n255\n";
  const std::string noise = test::MakeContent(size_t{w} * h * 3, seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t i = (size_t(y) * w + x) * 3 + c;
        data += static_cast<char>((x * (c + 1) + y * (3 - c) + (noise[i] & 0x1F)) & 0xFF);
      }
  test::WriteBytes(path, data);
}

// Drops the first segment after SOI (the APP0 JFIF header).
std::string WithoutFirstSegment(const std::string& jpeg) {
  if (jpeg.size() < 6) return jpeg;
  const size_t length = (static_cast<uint8_t>(jpeg[4]) << 8) | static_cast<uint8_t>(jpeg[5]);
  return jpeg.substr(0, 2) + jpeg.substr(4 + length);
}

// Finds a recovered file by its name anywhere under the destination.
fs::path FindRecovered(const fs::path& root, const std::string& name) {
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().filename() == fs::u8path(name)) return entry.path();
  return {};
}

TEST(CliRealPhotos, JpegsFromSeveralEncodersComeBackByteExact) {
  if (!test::HaveTool("cjpeg") || test::Run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0)
    GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) or Pillow (python3-pil) is not installed";
  TempDir dir;
  const fs::path ppm = dir / "picture.ppm";
  WritePpm(ppm, 7);

  auto encode = [&](const std::string& command, const fs::path& out) {
    std::string log;
    EXPECT_EQ(test::Run(command + " 2>&1", &log), 0) << command << "\n" << log;
    return test::ReadBytes(out);
  };
  const fs::path tmp = dir / "enc.jpg";
  const std::string q = Quote(ppm.string()), o = Quote(tmp.string());
  std::map<std::string, std::string> photos;
  photos["cjpeg baseline.jpg"] = encode("cjpeg -quality 85 -outfile " + o + " " + q, tmp);
  photos["Пляж progressive.jpg"] = encode("cjpeg -progressive -outfile " + o + " " + q, tmp);
  photos["海滩 restart.jpeg"] = encode("cjpeg -restart 4 -optimize -outfile " + o + " " + q, tmp);
  photos["Παραλία exif.jpg"] = encode(
      "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + ppm.string() +
          "'); e = Image.Exif(); e[0x010F] = 'QuillCam'; e[0x0110] = 'Model 7'; "
          "im.save('" + tmp.string() + "', quality=90, exif=e.tobytes())\"",
      tmp);
  // Cameras write Exif first, and many phones start with the quantization
  // table: the same encodings without their JFIF header.
  photos["DSC_0001 camera.JPG"] = WithoutFirstSegment(photos["Παραλία exif.jpg"]);
  photos["phone dqt first.jpg"] = WithoutFirstSegment(photos["cjpeg baseline.jpg"]);
  photos["saved as.png"] = photos["cjpeg baseline.jpg"];  // a JPEG under a PNG name
  photos["cut short.jpg"] = photos["Пляж progressive.jpg"].substr(0, 9000);
  ASSERT_EQ(static_cast<uint8_t>(photos["DSC_0001 camera.JPG"][3]), 0xE1);
  ASSERT_EQ(static_cast<uint8_t>(photos["phone dqt first.jpg"][3]), 0xDB);

  const fs::path image = dir / "card.img";
  test::FatImageBuilder fat(image, 32, 65536);
  ASSERT_TRUE(fat.Create());
  for (const auto& [name, bytes] : photos) ASSERT_TRUE(fat.AddFile("DCIM/" + name, bytes));
  ASSERT_TRUE(fat.AddFile("DCIM/kept.jpg", photos["cjpeg baseline.jpg"]));
  for (const auto& [name, bytes] : photos) ASSERT_TRUE(fat.Delete("DCIM/" + name));

  std::string out;
  ASSERT_EQ(Cli("scan " + Quote(image.string()) + " --quiet", &out), 0) << out;
  const fs::path dest = dir / "out";
  ASSERT_EQ(Cli("recover " + Quote(image.string()) + " --out " + Quote(dest.string()) +
                    " --category photo --quiet",
                &out),
            0)
      << out;
  for (const auto& [name, bytes] : photos) {
    const fs::path got = FindRecovered(dest, name);
    ASSERT_FALSE(got.empty()) << name << " was not recovered\n" << out;
    EXPECT_TRUE(test::ReadBytes(got) == bytes) << name << " differs";
  }
  EXPECT_TRUE(FindRecovered(dest, "kept.jpg").empty()) << "a live file was recovered";
}

}  // namespace
}  // namespace qm
