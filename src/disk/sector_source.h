// SectorSource: whole-sector reads from a disk or an image file.
//
// Every read of a scanned disk or image goes through here. Sources are opened
// read-only: nothing the recovery engines do can write to what they scan.
// Sector numbers are absolute (an engine adds its partition's start itself).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/disk_table.h"
#include "platform/file_handle.h"

namespace qm {

class SectorSource {
 public:
  // Largest piece read with one system call.
  static constexpr uint32_t kMaxPieceBytes = 0x10000;

  // Opens entry `driveIndex` of the system disk table. The sector count comes
  // from the device length, or from the geometry when the length is 0.
  int OpenPhysicalDriveSource(int driveIndex);
  // Opens an entry of a given table (tests use their own tables).
  int OpenPhysicalDriveSource(const DiskTable& table, int driveIndex);
  // Opens an image file; totalSectors = size / 512 whatever sector size the
  // caller later reads with.
  int OpenImageSource(const std::filesystem::path& path);

  // Reads `count` sectors of `sectorSize` bytes from `startSector` into
  // `buffer`. A read that would pass totalSectors gives 87 without reading.
  // Reads go in pieces of at most 64 KiB; a failed or empty piece ends the
  // read with 30. `sectorsRead` always holds the whole sectors that arrived.
  int ReadSectors(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                  uint32_t* sectorsRead) const;

  void Close();
  bool IsOpen() const { return handle_.IsOpen(); }
  uint64_t totalSectors() const { return totalSectors_; }
  // Sector size and geometry reported for a drive (512 for images).
  const DiskInfo& info() const { return info_; }
  const std::string& path() const { return path_; }
  const FileHandle& handle() const { return handle_; }

 private:
  FileHandle handle_;
  uint64_t totalSectors_ = 0;
  DiskInfo info_;
  std::string path_;
};

}  // namespace qm
