// SectorSource: whole-sector reads from a disk or an image file.
//
// Every read of a scanned disk or image goes through here. Sources are opened
// read-only: nothing the recovery engines do can write to what they scan.
// Sector numbers are absolute (an engine adds its partition's start itself).
//
// A failing disk gives I/O errors for single sectors while the rest still
// reads. A failed read is therefore retried one sector at a time, so that a
// bad sector costs only itself, and every bad sector found is remembered:
// asking a dying disk again for the same sector takes seconds and can make
// it worse.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/disk_table.h"
#include "platform/file_handle.h"

namespace qm {

// A run of sectors, in the sector size of the read that met it.
struct SectorRange {
  uint64_t first = 0;
  uint64_t count = 0;
  bool operator==(const SectorRange&) const = default;
};

// Appends [first, first + count) to `ranges`, joining it to the last range
// when the two touch.
void AppendSectorRange(std::vector<SectorRange>& ranges, uint64_t first, uint64_t count);

class SectorSource {
 public:
  // Largest piece read with one system call.
  static constexpr uint32_t kMaxPieceBytes = 0x10000;

  SectorSource() = default;
  SectorSource(const SectorSource&) = delete;
  SectorSource& operator=(const SectorSource&) = delete;

  // Opens entry `driveIndex` of `table`. The sector count comes from the
  // device length, or from the geometry when the length is 0.
  int OpenPhysicalDriveSource(const DiskTable& table, int driveIndex);
  // Opens an image file; totalSectors = size / 512 whatever sector size the
  // caller later reads with.
  int OpenImageSource(const std::filesystem::path& path);

  // Reads `count` sectors of `sectorSize` bytes from `startSector` into
  // `buffer`. A read that would pass totalSectors gives 87 without reading.
  // Reads go in pieces of at most `pieceBytes` (64 KiB unless a sequential
  // reader asks for more: each system call costs as much as copying 64 KiB
  // from the page cache); a piece that fails is read again sector by
  // sector. The first sector that cannot be read ends the read with 30 (21
  // when the disk itself has gone); `sectorsRead` always holds the whole
  // sectors that arrived before it, so the caller knows which sector was bad.
  int ReadSectors(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                  uint32_t* sectorsRead, uint32_t pieceBytes = kMaxPieceBytes) const;

  // Like ReadSectors, but a sector that cannot be read is filled with zeros
  // and appended to `unreadable` (in `sectorSize` units) and the read goes
  // on. 0 when every sector was read, 30 when some were filled (the buffer
  // is complete either way); a bad range, a closed source or a disk that is
  // gone ends the read with its own code.
  int ReadSectorsFilling(uint32_t count, void* buffer, uint64_t startSector, uint32_t sectorSize,
                         std::vector<SectorRange>& unreadable) const;

  // Treats the range as unreadable without asking the device: bad sectors
  // known from an earlier pass over the same disk.
  void MarkUnreadable(uint64_t startSector, uint64_t count, uint32_t sectorSize) const;
  // Every sector found or marked unreadable so far, in 512-byte sectors.
  std::vector<SectorRange> KnownUnreadable() const;
  // True when a sector of the range is known to be unreadable.
  bool IsKnownUnreadable(uint64_t startSector, uint64_t count, uint32_t sectorSize) const;

  void Close();
  bool IsOpen() const { return handle_.IsOpen(); }
  uint64_t totalSectors() const { return totalSectors_; }
  // Sector size and geometry reported for a drive (512 for images).
  const DiskInfo& info() const { return info_; }
  const std::string& path() const { return path_; }
  const FileHandle& handle() const { return handle_; }

 private:
  // True when [offset, offset + length) holds a known bad byte.
  bool TouchesKnownBad(uint64_t offset, uint64_t length) const;
  void RememberBad(uint64_t offset, uint64_t length) const;
  // One piece, sector by sector; `done` advances over the good sectors.
  int ReadPieceBySector(uint64_t offset, unsigned char* out, uint64_t length, uint32_t sectorSize,
                        uint64_t& done) const;

  FileHandle handle_;
  uint64_t totalSectors_ = 0;
  DiskInfo info_;
  std::string path_;
  // Bad byte ranges, start -> end, never touching each other. Reads run
  // from several threads at once, hence the lock.
  mutable std::mutex badLock_;
  mutable std::map<uint64_t, uint64_t> bad_;
  // Set once anything is in bad_: a healthy disk's reads take no lock.
  mutable std::atomic<bool> anyBad_{false};
};

}  // namespace qm
