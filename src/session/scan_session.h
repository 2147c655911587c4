// ScanSession: from what the user named to opened engines with their scan
// folders. It names and opens the source, chooses the engine, splits a whole
// disk (or an image of one) that holds a partition table into its
// partitions, starts a new scan folder for each scan (or, for a deep scan,
// goes on in the folder of the interrupted one), and re-opens an earlier
// scan's log only for the volume it was made for. It prints nothing: every
// failure comes back as a code with a sentence for the user, so the
// terminal tool and the desktop application drive scans alike.
//
// One session belongs to one thread; the engines it opens follow the rules
// of their interface (a listing thread may read while Scan writes).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engines/file_recovery_parse.h"
#include "platform/disk_table.h"
#include "results/scan_history.h"
#include "session/scan_info.h"
#include "session/scan_source.h"

namespace qm {
class CProfessionalRecovery;
struct PartitionTable;
}  // namespace qm

namespace qm::session {

// An interrupted deep scan of a volume that the next deep scan can go on
// with. (One that ran to its end is not offered: scanning again starts
// afresh and the finished scan's folder is kept.)
struct EarlierDeepScan {
  bool known = false;
  std::filesystem::path folder; // its scan folder
  ResumePoint position;         // where it stopped
  uint64_t sectorsTotal = 0;    // sectors its pass had to do; 0 when unknown
  bool wholeVolume = false;     // it reads every sector; resuming keeps to that
  std::string whyNot;           // why it cannot be resumed; "" when it can
};

// One volume of the source with its engine.
struct ScanVolume {
  int partitionNumber = 0;  // 0 when the source is the volume itself
  int driveIndex = -1;      // disk-table entry it was opened from; -1 for an image file
  std::unique_ptr<IFileRecoveryParse> engine;
  std::filesystem::path scanFolder;  // set by Scan or Reopen
  ScanInfo info;                     // which volume this is, and what its scan found
  std::vector<std::string> warnings; // what the engine met without stopping
  // Deep scans only: the earlier scan found when the volume was opened, and
  // whether Scan goes on with it (the default) or starts afresh, which
  // deletes the earlier scan's folder.
  EarlierDeepScan earlier;
  bool resume = true;
  uint32_t sectorSize = 512;
};

// A deep scan reports its pass over the sectors with this scale (done and
// total are then sectors); the quick scan it runs first uses a smaller one.
inline constexpr int kDeepPassScale = 90;

// The tag a session's engines give their records unless told otherwise.
inline constexpr uint16_t kSourceTag = 1;

class ScanSession {
 public:
  ScanSession(ScanHistory& history, DiskTable& disks) : history_(history), disks_(disks) {}

  // Names and opens the source and an engine for each volume in it. 0, or
  // an error code with `message`.
  int Open(const std::string& source, bool deep, std::string& message);

  // Scans volume `index` into a new scan folder, or a deep scan into the
  // folder of the earlier scan it resumes. The scan's result (0,
  // err::kCancelled, or why it failed) is returned; `message` explains a
  // failure. A failed new scan that found nothing leaves no folder behind.
  int Scan(size_t index, ScanProgressFn progress, void* user, std::string& message);

  // Deep scans: every sector of a volume rather than only the free space of
  // a healthy file system, and how often the position is saved.
  void SetWholeVolume(bool whole) { wholeVolume_ = whole; }
  void SetSaveInterval(std::chrono::milliseconds interval) { saveInterval_ = interval; }
  // The tag the engines give every record (kSourceTag unless set before
  // Open): front ends that scan several sources at once tell their records
  // apart by it.
  void SetVolumeTag(uint16_t tag) { volumeTag_ = tag; }

  // Re-opens the scan log in `folder` (as given to --log: a path, a number
  // or "last", the newest kept scan of this source). A log made for a volume
  // this source does not hold is refused; otherwise only the volume it was
  // made for stays in volumes(), with the engine that reads it (the deep
  // engine for a deep scan's folder, whichever the session was opened with).
  int Reopen(const std::string& folder, std::string& message);

  const ScanSource& source() const { return source_; }
  std::vector<ScanVolume>& volumes() { return volumes_; }
  // Partitions of a whole disk that were passed over, one sentence each.
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  EngineContext Context(const std::filesystem::path& folder) const;
  int OpenPartitions(bool deep, int firstError, std::string& message);
  int ReadTable(PartitionTable& table, int& driveIndex, std::string& reason);
  int AddVolume(int partitionNumber, int driveIndex, uint64_t start, uint64_t count,
                std::unique_ptr<IFileRecoveryParse> engine);
  std::unique_ptr<IFileRecoveryParse> CreateEngine(const ScanVolume& volume, bool deep,
                                                   int* error) const;
  int StartFolder(ScanVolume& volume, bool resuming, std::string& message);
  int NewestScanOfSource(std::filesystem::path& folder, std::string& message) const;
  ScanInfo IdentityOf(int partitionNumber, uint64_t start, uint64_t count,
                      const IFileRecoveryParse& engine) const;

  ScanHistory& history_;
  DiskTable& disks_;
  ScanSource source_;
  std::vector<ScanVolume> volumes_;
  std::vector<std::string> notes_;
  bool wholeVolume_ = false;
  std::chrono::milliseconds saveInterval_{0};
  uint16_t volumeTag_ = kSourceTag;
};

// The deep engine behind a volume, or null for a quick one.
CProfessionalRecovery* DeepEngineOf(const ScanVolume& volume);


}  // namespace qm::session
