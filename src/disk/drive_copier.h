// The raw range copier: writes a disk, or a range of its sectors, into an
// image file sector by sector (no header), to be scanned later.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/disk_table.h"
#include "platform/file_handle.h"

namespace qm {

// (user, percent, doneSectors, totalSectors, secondsLeft); non-zero stops the
// copy and becomes its result. secondsLeft is -1 until the first estimate.
using CopyProgressFn = int (*)(void* user, int percent, uint64_t doneSectors,
                               uint64_t totalSectors, int64_t secondsLeft);

struct DriveCopyJob {
  uint32_t sectorSize = 512;
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;  // 0 on entry: the whole source
  CopyProgressFn progress = nullptr;
  void* user = nullptr;
};

// Copies drive `driveIndex` of the system disk table.
int CopyDriveToFile(DriveCopyJob& job, int driveIndex, uint64_t startSector, uint64_t sectorCount,
                    const std::filesystem::path& imagePath, void* user);
// Same, for any readable source path (a device or an image file).
int CopySourceToFile(DriveCopyJob& job, const std::string& sourcePath, uint64_t startSector,
                     uint64_t sectorCount, const std::filesystem::path& imagePath, void* user);

}  // namespace qm
