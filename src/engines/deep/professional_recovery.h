// CProfessionalRecovery: the deep scan.
//
// First the quick scan of the volume's own file system, when there is one;
// then one pass over the volume's free clusters (or over all of it when the
// file system is unknown, damaged, or the whole volume was asked for) in
// which every sector is classified once: MFT file records go to the NTFS
// deep engine, FAT directory sectors to the FAT deep engine, everything
// else to signature carving. The engines keep their four logs in one scan
// folder; this engine answers listings by merging them, and drops carved
// files that a file-system engine already found at the same place.
//
// A deep scan of a large disk runs for hours, so where it stands is saved
// in the history index at least every 30 seconds (after the logs are
// flushed, so they never lag behind it) and when it stops; a later deep
// scan of the same volume can resume from there, even after a crash.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "engines/carving/file_type_recovery.h"
#include "engines/deep/carved_duplicates.h"
#include "engines/deep/deep_block_reader.h"
#include "engines/deep/deep_file_system_engine.h"
#include "engines/file_recovery_parse.h"
#include "engines/skipped_areas.h"
#include "results/history_entry.h"
#include "results/scan_history.h"

namespace qm {

class CProfessionalRecovery : public IFileRecoveryParse {
 public:
  CProfessionalRecovery();
  ~CProfessionalRecovery() override;

  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;
  int SetCallbacks(ScanProgressFn scanProgress, FileProgressFn fileProgress, void* user,
                   int scale) override;
  // Null runs the deep scan (resuming when SetResume allowed it); a name
  // re-opens the logs of the scan folder that holds it, to list and recover
  // from a finished or stopped scan without scanning.
  int Scan(const char* scanLogName) override;
  int ListChildren(const FoundFileRecord* folder, uint32_t depth,
                   std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) override;
  uint64_t RecordCount() override;
  int GetFullPath(const FoundFileRecord& record, std::string& path) override;
  int RecoverItem(const FoundFileRecord& record, const std::string& destination,
                  int baseSeparators) override;
  // The deep pass finds free space through the quick engine's map; the
  // combined engine keeps none of its own.
  int NextFreeExtent(uint64_t*, uint64_t*) override { return err::kNotSupported; }
  int SetListProgress(ListProgressFn callback, void* user) override;
  int ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) override;
  int BuildClusterBitmap() override { return err::kNotSupported; }
  int ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer,
                        uint32_t* bufferSize, PreviewProgressFn progress, void* user) override;
  void SetContext(const EngineContext& context) override;
  void SetIncludeDamaged(bool include) override;
  void SetReadStop(std::stop_token stop) override;
  std::vector<std::string> ScanWarnings() const override;
  std::vector<RecoveryProblem> RecoveryProblems() const override;

  // Before Scan. Whether an interrupted deep scan of this volume was found
  // in the history index when it was opened, and where it stopped. A scan
  // that ran to its end is not offered: scanning again starts afresh.
  bool ResumeAvailable() const {
    return resumeFound_ && historyEntry_.extentStart < volumeSectors_;
  }
  const HistoryEntry& ResumeEntry() const { return historyEntry_; }
  // Resume it (the default when one was found) or start afresh in a new
  // scan folder.
  void SetResume(bool resume) { resume_ = resume && ResumeAvailable(); }
  // Scan every sector even when the file system is healthy and only its
  // free clusters would be scanned.
  void SetWholeVolume(bool whole) { wholeVolume_ = whole; }
  // The scan folder of the last Scan (or of the scan it resumes, once
  // SetResume was given): empty before.
  std::filesystem::path ScanFolder() const;
  // Where the last deep pass stood when it ended (or stands while it runs).
  ResumePoint Position() const;
  bool FreeSpaceOnly() const { return freeSpaceOnly_; }
  uint32_t sectorSize() const { return sectorSize_; }
  // The source the deep pass reads.
  const SectorSource& source() const { return source_; }
  // Seconds between saves of the position; tests shorten it.
  void SetSaveInterval(std::chrono::milliseconds interval) { saveInterval_ = interval; }

 private:
  std::vector<IFileRecoveryParse*> FileSystemEngines() const;
  std::vector<IFileRecoveryParse*> Engines() const;
  IFileRecoveryParse* OwnerOf(uint32_t engineKind) const;
  template <typename Open>
  void OpenDeepEngines(Open&& open);
  int QuickPass(bool resuming, const std::filesystem::path& folder);
  int OpenLogs(bool resuming, const std::filesystem::path& folder);
  int ReopenFolder(const std::filesystem::path& folder);
  uint64_t ResumeSector() const;
  template <typename Visit>
  void ForEachRange(Visit&& visit);
  int DeepPass(bool resuming);
  int ProcessBlock(const DeepBlock& block, uint64_t& skipUntil);
  void NoteUnreadable(const SectorRange& bad);
  int ReportProgress();
  void SavePosition();
  uint64_t FilesFound();
  void FlushLogs();
  // Null with `error` set when a file-system log could not be read whole.
  std::shared_ptr<const CarvedDuplicates> Duplicates(int& error);
  int CarvedListing(std::vector<FoundFileRecord>& carved, std::vector<FoundFileRecord>& out);

  // The volume.
  std::string imagePath_;
  int driveIndex_ = kImageDriveNumber;
  uint64_t volumeStart_ = 0;
  uint64_t volumeSectors_ = 0;
  uint64_t volumeBytes_ = 0;
  uint16_t volumeLetter_ = 0;  // the caller's tag for records, not a drive letter
  uint32_t sectorSize_ = 512;
  SectorSource source_;
  bool open_ = false;

  // The engines, owned; the pointers never change while the object is in use.
  std::unique_ptr<IFileRecoveryParse> quick_;
  std::unique_ptr<DeepFileSystemEngine> ntfsDeep_;
  std::unique_ptr<DeepFileSystemEngine> fatDeep_;
  std::unique_ptr<CFileTypeRecovery> carving_;

  ScanProgressFn scanProgress_ = nullptr;
  FileProgressFn fileProgress_ = nullptr;
  void* user_ = nullptr;

  // History and resume.
  bool resumeFound_ = false;
  bool resume_ = false;
  bool wholeVolume_ = false;
  bool freeSpaceOnly_ = false;
  HistoryEntry historyEntry_{};
  std::chrono::milliseconds saveInterval_{30000};
  bool positionWarned_ = false;

  // What readers on other threads may look at while the scan runs.
  mutable std::mutex stateMutex_;
  std::filesystem::path folder_;
  ResumePoint position_;
  std::vector<std::string> warnings_;
  IFileRecoveryParse* lastRecoverer_ = nullptr;

  // State of the pass (scan thread only).
  uint64_t totalSectors_ = 0;
  uint64_t doneAtStart_ = 0;
  uint64_t filesFoundCache_ = 0;
  int64_t secondsLeft_ = -1;
  std::chrono::steady_clock::time_point passStarted_;
  std::chrono::steady_clock::time_point lastEstimate_;
  std::chrono::steady_clock::time_point lastSave_;
  SkippedAreas skipped_;
  std::vector<uint8_t> recordBuffer_;
  bool deepPassReached_ = false;

  // Carved files already found by a file-system engine, rebuilt when those
  // engines have written more records.
  std::mutex duplicatesMutex_;
  std::shared_ptr<const CarvedDuplicates> duplicates_;
  uint64_t duplicatesRecords_ = UINT64_MAX;
};

}  // namespace qm
