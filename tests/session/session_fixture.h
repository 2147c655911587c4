// Small FAT images for the session tests, made with dosfstools and mtools:
// a folder of files copied in with one mcopy and deleted with one mdeltree,
// and whole-disk images holding such volumes behind an MBR.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qm::test {

// A FAT image whose folder `folder` holds `count` deleted files named
// <prefix>NNNN.txt.
inline bool MakeImageWithDeletedFiles(const fs::path& image, int fatBits, uint64_t sizeKiB,
                                      const std::string& folder, const std::string& prefix,
                                      int count) {
  FatImageBuilder fat(image, fatBits, sizeKiB);
  if (!fat.Create()) return false;
  const fs::path host = image.string() + ".host";
  fs::create_directories(host / folder);
  for (int i = 0; i < count; ++i)
    WriteBytes(host / folder / (prefix + std::to_string(1000 + i) + ".txt"),
               MakeContent(700 + i, static_cast<uint32_t>(i + 1)));
  const std::string env = "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 ";
  const bool ok = Run(env + "mcopy -s -i " + Quote(image.string()) + " " +
                      Quote((host / folder).string()) + " ::/") == 0 &&
                  Run(env + "mdel -i " + Quote(image.string()) + " " +
                      Quote("::/" + folder + "/*.txt")) == 0;
  fs::remove_all(host);
  return ok;
}

struct MbrPartition {
  uint64_t start;  // sectors
  fs::path volume; // its content, a whole number of sectors
};

// A disk image: an MBR with the partitions as primary entries 1, 2, ...
// (type 0x06, FAT16), each volume copied to its start.
inline void WriteMbrDisk(const fs::path& disk, const std::vector<MbrPartition>& parts) {
  std::string bytes(512, '\0');
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string volume = ReadBytes(parts[i].volume);
    const uint32_t start = static_cast<uint32_t>(parts[i].start);
    const uint32_t count = static_cast<uint32_t>(volume.size() / 512);
    char* entry = bytes.data() + 446 + 16 * i;
    entry[4] = 0x06;
    std::memcpy(entry + 8, &start, 4);
    std::memcpy(entry + 12, &count, 4);
    if (bytes.size() < parts[i].start * 512) bytes.resize(parts[i].start * 512, '\0');
    bytes.replace(parts[i].start * 512, std::string::npos, volume);
  }
  bytes[510] = 0x55;
  bytes[511] = static_cast<char>(0xAA);
  WriteBytes(disk, bytes);
}

}  // namespace qm::test
