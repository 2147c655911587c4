// Raw images for the deep-scan tests: no file system, random bytes, and
// real pictures (made with cjpeg and ImageMagick) placed at sector offsets,
// so that only carving can find them.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qm::test {

struct PlacedFile {
  std::string extension;  // as the carved name ends: "jpg", "png"
  std::string bytes;
  uint64_t sector = 0;    // where it starts
};

inline bool HavePictureTools() { return HaveTool("cjpeg") && HaveTool("convert"); }

// A width x height picture with gradients and noise, as a binary PPM.
inline std::string MakePpm(int width, int height, uint32_t seed) {
  std::string data = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  const std::string noise = MakeContent(size_t(width) * height * 3, seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t i = (size_t(y) * width + x) * 3 + c;
        data += static_cast<char>((x * (c + 1) + y * (3 - c) + (noise[i] & 0x1F)) & 0xFF);
      }
  return data;
}

// Encodes a picture as "jpg" (cjpeg) or "png" (ImageMagick). Empty on failure.
inline std::string EncodePicture(const fs::path& scratch, const std::string& extension, int width,
                                 int height, uint32_t seed) {
  const fs::path ppm = scratch / ("picture" + std::to_string(seed) + ".ppm");
  const fs::path out = scratch / ("picture" + std::to_string(seed) + "." + extension);
  WriteBytes(ppm, MakePpm(width, height, seed));
  const std::string command =
      extension == "jpg"
          ? "cjpeg -quality 85 -outfile " + Quote(out.string()) + " " + Quote(ppm.string())
          : "convert " + Quote(ppm.string()) + " -strip " + Quote(out.string());
  if (Run(command + " 2>&1") != 0) return {};
  return ReadBytes(out);
}

// Writes an image of `sectors` sectors with `files` at their sectors, each
// followed by zeros to the end of its last sector. The first `noiseSectors`
// sectors (all when 0) that hold no file are random bytes, each beginning
// with a fixed tag so that no stray signature starts one; the rest is left
// as a hole of zeros, so a large image costs neither time nor disk.
inline void WriteCarvingImage(const fs::path& image, uint64_t sectors,
                              const std::vector<PlacedFile>& files, uint32_t seed,
                              uint64_t noiseSectors = 0) {
  if (noiseSectors == 0 || noiseSectors > sectors) noiseSectors = sectors;
  std::vector<bool> taken(sectors, false);
  for (const PlacedFile& f : files)
    for (uint64_t s = f.sector; s < f.sector + (f.bytes.size() + 511) / 512 && s < sectors; ++s)
      taken[s] = true;
  std::mt19937_64 rng(seed);
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    std::string sector(512, '\0');
    for (uint64_t s = 0; s < noiseSectors; ++s) {
      for (size_t i = 0; i < 512; i += 8) {
        const uint64_t word = rng();
        std::memcpy(sector.data() + i, &word, 8);
      }
      if (taken[s]) continue;
      std::memcpy(sector.data(), "qmRn", 4);
      out.seekp(static_cast<std::streamoff>(s * 512));
      out.write(sector.data(), 512);
    }
    for (const PlacedFile& f : files) {
      std::string bytes = f.bytes;
      bytes.resize((bytes.size() + 511) / 512 * 512, '\0');
      out.seekp(static_cast<std::streamoff>(f.sector * 512));
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
  }
  fs::resize_file(image, sectors * 512);
}

}  // namespace qm::test
