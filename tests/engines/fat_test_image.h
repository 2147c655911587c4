// Byte-level access to a FAT image built by FatImageBuilder, for the tests
// that damage one on purpose (a cleared high word, a looping chain, a folder
// that points at its ancestor).
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "engines/fat/fat_boot_sector.h"
#include "support/test_support.h"

namespace qm::test {

class FatTestImage {
 public:
  explicit FatTestImage(const fs::path& path) : path_(path), bytes_(ReadBytes(path)) {
    ok_ = ParseFatBootSector(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size(), g_) == 0;
  }
  bool ok() const { return ok_; }
  const FatGeometry& geometry() const { return g_; }
  void Save() const { WriteBytes(path_, bytes_); }

  // Offset of the short entry whose 11 name bytes are `name11` (the first
  // of them may be 0xE5), searched from the first FAT onwards; npos if none.
  size_t FindEntry(std::string_view name11) const {
    for (size_t at = g_.RootDirOffset(); at + 32 <= bytes_.size(); at += 32)
      if (bytes_.compare(at, 11, name11) == 0 && static_cast<uint8_t>(bytes_[at + 11]) != 0x0F)
        return at;
    return std::string::npos;
  }
  uint32_t EntryCluster(size_t entry) const {
    return uint32_t{U16(entry + 20)} << 16 | U16(entry + 26);
  }
  void SetEntryCluster(size_t entry, uint32_t cluster) {
    SetU16(entry + 26, static_cast<uint16_t>(cluster));
    if (g_.IsFat32()) SetU16(entry + 20, static_cast<uint16_t>(cluster >> 16));
  }
  uint8_t& Byte(size_t at) { return reinterpret_cast<uint8_t&>(bytes_[at]); }
  size_t ClusterOffset(uint32_t c) const { return g_.ClusterOffset(c); }

  // Writes a FAT entry in every copy of the FAT.
  void SetFat(uint32_t cluster, uint32_t value) {
    for (uint32_t n = 0; n < g_.numberOfFats; ++n) {
      const size_t fat = g_.FatOffset() + n * g_.FatBytes();
      switch (g_.type) {
        case FatType::kFat12: {
          const size_t at = fat + cluster * 3 / 2;
          uint16_t word = U16(at);
          word = (cluster & 1) ? static_cast<uint16_t>((word & 0x000F) | value << 4)
                               : static_cast<uint16_t>((word & 0xF000) | (value & 0x0FFF));
          SetU16(at, word);
          break;
        }
        case FatType::kFat16: SetU16(fat + cluster * 2, static_cast<uint16_t>(value)); break;
        default:
          SetU16(fat + cluster * 4, static_cast<uint16_t>(value));
          SetU16(fat + cluster * 4 + 2, static_cast<uint16_t>(value >> 16));
          break;
      }
    }
  }
  uint32_t Fat(uint32_t cluster) const {
    const size_t fat = g_.FatOffset();
    switch (g_.type) {
      case FatType::kFat12: {
        const uint16_t word = U16(fat + cluster * 3 / 2);
        return (cluster & 1) ? word >> 4 : word & 0x0FFF;
      }
      case FatType::kFat16: return U16(fat + cluster * 2);
      default: return (uint32_t{U16(fat + cluster * 4 + 2)} << 16 | U16(fat + cluster * 4)) & 0x0FFFFFFF;
    }
  }
  // True when the chain from `cluster` jumps somewhere other than the next cluster.
  bool IsFragmented(uint32_t cluster) const {
    for (int n = 0; n < 1000 && g_.IsDataCluster(cluster); ++n) {
      const uint32_t next = Fat(cluster);
      if (!g_.IsDataCluster(next)) return false;
      if (next != cluster + 1) return true;
      cluster = next;
    }
    return false;
  }
  // Forgets the FAT32 next-free hint, so that the next file written goes to
  // the first free cluster (into the gap a deletion left).
  void ForgetNextFreeHint() {
    if (!g_.IsFat32()) return;
    const size_t info = size_t{U16(48)} * g_.bytesPerSector;
    std::memset(&bytes_[info + 488], 0xFF, 8);
  }

 private:
  uint16_t U16(size_t at) const {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes_[at]) |
                                 static_cast<uint8_t>(bytes_[at + 1]) << 8);
  }
  void SetU16(size_t at, uint16_t v) {
    bytes_[at] = static_cast<char>(v & 0xFF);
    bytes_[at + 1] = static_cast<char>(v >> 8);
  }

  fs::path path_;
  std::string bytes_;
  FatGeometry g_;
  bool ok_ = false;
};

}  // namespace qm::test
