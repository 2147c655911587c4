// A FAT32 boot sector that claims a volume of 2 TiB with two FATs of 1 GiB
// each, on a 1 MiB image: the map of allocated clusters is sized by the
// clusters the image holds (here none: the claimed data area starts past its
// end), not by the 268 million clusters the boot sector declares.
#include <gtest/gtest.h>

#include <vector>

#include "disk/sector_source.h"
#include "engines/fat/fat_cluster_bitmap.h"
#include "engines/fat/fat_volume.h"
#include "support/test_support.h"

namespace qm::test {
namespace {

void Put(std::string& b, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(value >> (8 * i));
}

std::string ClaimingFat32(uint32_t fatSectors) {
  std::string image(1 << 20, '\0');
  image[0] = '\xEB';
  image[1] = 0x58;
  image[2] = '\x90';
  Put(image, 11, 512, 2);
  image[13] = 1;           // sectors per cluster
  Put(image, 14, 32, 2);   // reserved sectors
  image[16] = 2;           // FATs
  Put(image, 32, 0xFFFFFFFF, 4);
  Put(image, 36, fatSectors, 4);
  Put(image, 44, 2, 4);    // root cluster
  Put(image, 510, 0xAA55, 2);
  return image;
}

TEST(FatDeclaredSize, ClusterMapIsSizedByTheImage) {
  struct Case {
    uint32_t fatSectors;
    uint64_t bitmapBytes;
  };
  // 1 GiB FATs push the data area past the image. FATs of 8 sectors leave
  // it inside, and their 1,022 clusters all lie in the image.
  for (const Case& c : {Case{1u << 21, 0}, Case{8, (1022 + 7) / 8}}) {
    TempDir dir;
    WriteBytes(dir / "claims.img", ClaimingFat32(c.fatSectors));
    SectorSource source;
    ASSERT_EQ(source.OpenImageSource(dir / "claims.img"), 0);
    FatVolume volume;
    ASSERT_EQ(volume.Open(source, 0, 0), 0) << c.fatSectors;
    FatClusterBitmap bitmap;
    bitmap.Build(volume);
    EXPECT_EQ(bitmap.bitmapBytes(), c.bitmapBytes) << c.fatSectors;
  }
}

}  // namespace
}  // namespace qm::test
