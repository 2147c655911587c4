// The raw range copier: writes a disk, or a range of its sectors, into an
// image file sector by sector (no header), to be scanned later.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <vector>

#include "disk/sector_source.h"
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
  // False: an existing file (or link) at the image path is left alone and
  // the copy fails with 183. True: it is overwritten.
  bool replaceExisting = false;
  // Out: the sectors that could not be read, as absolute sector numbers of
  // the source; the image holds zeros in their place.
  std::vector<SectorRange> unreadable;
  // Out: the size of the source in bytes, set before the range is checked,
  // so that a refused range can be explained.
  uint64_t sourceBytes = 0;
};

// Copies a range of sectors into a new image file. Unreadable sectors do
// not stop the copy: they are written as zeros and listed in
// job.unreadable, and the result is then 30 (the image is complete but
// not whole). 87 for a range past the end of the source or an image path
// that is the source itself.
//
// Copies from an opened source.
int CopySectorsToFile(DriveCopyJob& job, const SectorSource& source, uint64_t startSector,
                      uint64_t sectorCount, const std::filesystem::path& imagePath, void* user);
// Copies drive `driveIndex` of `disks`.
int CopyDriveToFile(DriveCopyJob& job, const DiskTable& disks, int driveIndex,
                    uint64_t startSector, uint64_t sectorCount,
                    const std::filesystem::path& imagePath, void* user);
// Same, for any readable source path (a device or an image file).
int CopySourceToFile(DriveCopyJob& job, const std::string& sourcePath, uint64_t startSector,
                     uint64_t sectorCount, const std::filesystem::path& imagePath, void* user);

}  // namespace qm
