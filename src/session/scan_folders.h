// The kept scans under the ScanLog folder: finding a scan's log, naming a
// scan folder by number, "last" or path, and listing or removing them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "results/scan_history.h"
#include "session/scan_info.h"

namespace qm::session {

// The main log file of a scan folder: the one file whose name carries a log
// prefix and none of the two side-file suffixes. Empty when there is none.
std::filesystem::path FindLogIn(const std::filesystem::path& folder);

struct KeptScan {
  uint64_t number = 0;
  std::filesystem::path folder;
  bool hasInfo = false;
  ScanInfo info;
  uint64_t bytesOnDisk = 0;
  // A deep scan's entry in the history index: the engine keeps it current
  // while it scans, so it is ahead of scan.info after a crash.
  bool inHistory = false;
  ResumePoint position;
  bool running = false;  // a process is scanning into it now

  uint64_t SectorsDone() const;
  uint64_t FilesFound() const;
};

// The history entry whose scan folder is `folder`, if there is one.
bool FindHistoryOfFolder(const ScanHistory& history, const std::filesystem::path& folder,
                         HistoryEntry& found);

// Every numbered folder of the ScanLog folder, ascending by number.
std::vector<KeptScan> ListKeptScans(const ScanHistory& history);

// Turns what the user gave for --log into a folder: a number (a folder of
// the ScanLog folder), "last" (the newest kept scan that holds a log), or an
// absolute or relative path. 0, or an error code with `message`.
int ResolveLogFolder(const ScanHistory& history, const std::string& given,
                     std::filesystem::path& folder, std::string& message);

// Removes kept scan `number` through the history's safety rules. 0, 2 when
// there is no such scan, 170 while a process is scanning into it, or the
// removal's error.
int RemoveKeptScan(ScanHistory& history, uint64_t number);

}  // namespace qm::session
