// scan.info: the small key=value text every scan folder carries, saying
// which source the scan was made for, with which engine, when, and what it
// found. It is how a kept scan is listed later and how a scan log is refused
// for a volume it was not made for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace qm::session {

struct ScanInfo {
  std::string source;       // what the user named (image path, /dev/sdb1, disk:0)
  std::string path;         // the image or device read, absolute
  std::string kind;         // "image", "disk" or "partition N"
  std::string engine;       // "FAT" or "NTFS", or kDeepEngine for a deep scan
  std::string started;      // local time, "2026-12-10 14:03:11"
  uint64_t startSector = 0; // volume start in the source's sectors
  uint64_t sectorCount = 0; // 0 = to the end
  uint64_t sourceBytes = 0; // size of the image or disk
  uint64_t imageTime = 0;   // modification time of an image file (FILETIME), else 0
  std::string deviceId;     // what sysfs tells of a disk (serial, model, loop file); "" for images
  uint64_t filesFound = 0;
  bool finished = false;    // the scan ran to its end
  // Deep scans: sectors of the pass done and to do, as of the last write
  // (a crash leaves the history index ahead of this; see KeptScan).
  uint64_t sectorsDone = 0;
  uint64_t sectorsTotal = 0;
  std::string resumed;      // local time the scan was last resumed, "" when never
  bool wholeVolume = false; // every sector was asked for, not only the free space

  bool deep() const;

  // True when `other` describes the same volume in the same state: same
  // file or device, start, sector count, size, (for files) modification
  // time and (for disks) the disk's identity. `why` says what differs.
  bool SameVolume(const ScanInfo& other, std::string& why) const;
};

inline constexpr const char* kScanInfoName = "scan.info";
inline constexpr const char* kDeepEngine = "deep";

// Writes <folder>/scan.info through a temporary file renamed over it. 0 or an error code.
int WriteScanInfo(const std::filesystem::path& folder, const ScanInfo& info);
// Reads <folder>/scan.info. False when it is missing or unreadable;
// unknown keys are ignored.
bool ReadScanInfo(const std::filesystem::path& folder, ScanInfo& info);

// The local time now in the form of ScanInfo::started.
std::string LocalTimeText();

}  // namespace qm::session
