// ScanHistory: the numbered scan folders under the ScanLog folder and the
// history index "config" of deep scans, which says which volume or image each
// remembered scan was for, where it stopped and which folder holds its logs.
//
//   config       8-byte folder counter, then 1120-byte HistoryEntry records
//   config.tmp   the next index while it is written; renamed over config
//
// Scan folder n is <ScanLog>/<n>/. Every member locks the object, so the
// scan worker and the user interface may share it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "results/history_entry.h"

namespace qm {

class ScanHistory {
 public:
  // Loads the index of `scanLogFolder` (a missing index is an empty history
  // with folder counter 0). The folder is not created here.
  explicit ScanHistory(std::filesystem::path scanLogFolder);
  ScanHistory(const ScanHistory&) = delete;
  ScanHistory& operator=(const ScanHistory&) = delete;

  // Drops everything in memory and loads the index of `scanLogFolder`.
  void Load(std::filesystem::path scanLogFolder);

  std::filesystem::path ScanLogPath() const;
  uint64_t FolderCounter() const;
  std::vector<HistoryEntry> Entries() const;
  // The last Find... call found an entry.
  bool Matched() const;

  // The matched entry's folder after a successful Find..., else the numbered
  // folder of the counter. Ends with a '/'.
  std::filesystem::path CurrentScanFolder() const;
  // Moves to the next numbered folder whose folder does not exist yet,
  // creates it, forgets the match and saves the counter in the index, so the
  // next process never reuses the number. Returns the folder.
  std::filesystem::path StartNewScanFolder();
  // Gives the current folder number back when its folder is still empty (a
  // new scan that wrote nothing).
  void ReleaseScanFolder();

  // Removes the first entry whose folder is `folder` and deletes that folder
  // with everything in it. The folder is only ever deleted when it is a real
  // directory strictly inside the ScanLog folder (after resolving symlinks
  // and ".."); any other path is left alone and 5 is returned. When an entry
  // was removed the index file is rewritten. 0 or an error code.
  int DeleteHistoryEntry(const std::filesystem::path& folder);

  // Looks for the entry of a volume: same drive number, start and sector
  // count. When its volumeBytes differ the volume changed since: the entry
  // and its folder are deleted and nothing is found. An entry whose folder
  // is not inside the ScanLog folder is dropped the same way (its folder is
  // left alone).
  bool FindHistoryForVolume(int32_t driveNumber, uint64_t volumeStart, uint64_t volumeSectors,
                            uint64_t volumeBytes, HistoryEntry* found = nullptr);
  // Looks for the entry of an image file by its path; when the image's
  // modification time differs from the stored one the entry and its folder
  // are deleted and nothing is found.
  bool FindHistoryForImage(const std::string& imagePath, HistoryEntry* found = nullptr);

  // Records where a deep scan stopped. An entry of the same volume (or of the
  // same image, when imagePath is not empty) is updated; otherwise a new one
  // is appended. Then the index file is written. 0 or an error code (206 when
  // a path does not fit the entry).
  int SaveHistoryEntry(int32_t driveNumber, uint64_t volumeStart, uint64_t volumeSectors,
                       uint64_t volumeBytes, const ResumePoint& resume,
                       const std::filesystem::path& folder, const std::string& imagePath = {});

  // Writes config.tmp and renames it over config. 0 or an error code.
  int Save() const;

 private:
  friend ScanHistory& GetScanHistory();
  void LoadLocked(std::filesystem::path scanLogFolder);
  int SaveLocked() const;
  uint64_t StoredCounterLocked() const;
  int DeleteLocked(const std::filesystem::path& folder);
  int DropEntryLocked(std::vector<HistoryEntry>::iterator entry);
  // Resumes from `entry` when it still describes the source, else drops it.
  bool MatchLocked(std::vector<HistoryEntry>::iterator entry, bool stillSame, HistoryEntry* found);
  int RemoveFolderTree(const std::filesystem::path& folder) const;
  bool IsInsideScanLog(const std::filesystem::path& folder) const;
  bool IsDeletableFolder(const std::filesystem::path& folder) const;
  std::filesystem::path NumberedFolder(uint64_t number) const;

  mutable std::mutex mutex_;
  std::filesystem::path scanLogFolder_;
  std::vector<HistoryEntry> entries_;
  uint64_t folderCounter_ = 0;
  bool matched_ = false;
  std::string matchedFolder_;
};

// The process's history of the ScanLog folder (ScanLogFolder()), loaded on
// first use. When the ScanLog folder has changed since (QUILLMARK_DATA_DIR
// was set to another folder) it is loaded again from the new folder.
ScanHistory& GetScanHistory();

// Modification time of a file as FILETIME; 0 when it cannot be read.
uint64_t FileModificationTime(const std::filesystem::path& path);

}  // namespace qm
