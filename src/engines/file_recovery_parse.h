// IFileRecoveryParse: the one interface every recovery engine implements.
//
// The front ends never touch a file system themselves: they get an opened
// engine from the factory, hand it callbacks, run Scan on a worker thread and
// then list, count, resolve paths, recover and extract through it. Results
// are 0 or a numeric error code (platform/errors.h); nothing is thrown. A
// callback's non-zero result stops the operation and becomes its result; the
// user interface returns err::kCancelled (-9527) once the user cancelled.
//
// The virtual functions are declared in slot order 0..14.
//
// Threads. Open*, SetCallbacks, SetContext and Scan are called by one thread
// (the scan worker), one after the other. While Scan runs on that thread,
// any number of other threads may call ListChildren, CountFiles,
// RecordCount, GetFullPath and ListByCategory: they see what the scan had
// written when they started (folder by folder, as records are finished) and
// never write to the scan log. They stop with err::kCancelled once the stop
// token given to SetReadStop is asked to stop. RecoverItem,
// ExtractForPreview, NextFreeExtent and BuildClusterBitmap read the volume
// and must not overlap Scan or each other; run them once Scan has returned.
// The destructor must not overlap any call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "engines/extraction/recovery_problem.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "results/found_file_record.h"
#include "results/scan_log_store.h"

namespace qm {

inline constexpr int kCancelCode = err::kCancelled;

// Percent shown = step * scale / 100; secondsLeft -1 = unknown; total 0 hides
// the done/total and found figures. The last argument is always 0.
using ScanProgressFn = int (*)(void* user, int step, int scale, int64_t secondsLeft,
                               uint64_t done, uint64_t total, uint64_t found, int reserved);
// step * scale / 100 reaching 100 means the file is finished; error 0 is
// success. path is the destination file (UTF-8).
using FileProgressFn = int (*)(void* user, int step, int scale, int error, const char* path);
using PreviewProgressFn = int (*)(void* user, int percent, int error);
// ListProgressFn (user, percent, 0) is declared with the scan log store.

class ScanHistory;

// What an engine needs from its caller besides the volume: where a new
// scan's log goes, which disk table OpenDisk's drive index refers to, and
// the history index where a deep scan keeps its resume position. Engines
// read nothing process-wide: the front ends make the disk table and the
// history once at start-up and the session layer hands them down, and an
// engine without them cannot do what needs them (OpenDisk knows no drive,
// a scan has no folder to write to, a deep scan no history), which it
// reports as err::kInvalidParameter.
struct EngineContext {
  std::filesystem::path scanFolder;
  const DiskTable* diskTable = nullptr;
  ScanHistory* history = nullptr;
};

class IFileRecoveryParse {
 public:
  // 0: opens an image file as the volume; `volumeLetter` tags every record
  // (a number of the caller's choosing, not a drive letter).
  virtual int OpenImage(const std::string& imagePath, uint16_t volumeLetter) = 0;
  // 1: opens drive `driveIndex` of the context's disk table (an entry of
  // the platform disk table, not a Windows drive number) and the volume at
  // startSector.
  virtual int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                       uint16_t volumeLetter) = 0;
  // 2: either callback may be null; scale is 100 from the front ends.
  virtual int SetCallbacks(ScanProgressFn scanProgress, FileProgressFn fileProgress, void* user,
                           int scale) = 0;
  // 3: null scans and writes a new scan log; a name re-opens that log instead.
  virtual int Scan(const char* scanLogName) = 0;
  // 4: the records directly inside `folder` (null = root) at `depth`.
  virtual int ListChildren(const FoundFileRecord* folder, uint32_t depth,
                           std::vector<FoundFileRecord>& out) = 0;
  // 5: files (not folders) in the folder's whole subtree.
  virtual int CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) = 0;
  // 6: records written to the scan log so far.
  virtual uint64_t RecordCount() = 0;
  // 7: the record's folder path, each ancestor's name followed by '/'.
  virtual int GetFullPath(const FoundFileRecord& record, std::string& path) = 0;
  // 8: copies a file, or a folder with everything under it, to `destination`.
  virtual int RecoverItem(const FoundFileRecord& record, const std::string& destination,
                          int baseSeparators) = 0;
  // 9: moves *start to the next run of free clusters and gives its length; 1.
  virtual int NextFreeExtent(uint64_t* start, uint64_t* length) = 0;
  // 10
  virtual int SetListProgress(ListProgressFn callback, void* user) = 0;
  // 11: file records whose extension matches the category filter text.
  virtual int ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) = 0;
  // 12: the map of allocated clusters used by NextFreeExtent.
  virtual int BuildClusterBitmap() = 0;
  // 13: writes the file to a temporary file (its path in `outPath`) or, when
  // `buffer` is given, copies its start into it (*bufferSize in/out).
  virtual int ExtractForPreview(const FoundFileRecord& record, std::string& outPath,
                                uint8_t* buffer, uint32_t* bufferSize,
                                PreviewProgressFn progress, void* user) = 0;
  // Not a slot: give before OpenDisk and Scan.
  virtual void SetContext(const EngineContext& context) { context_ = context; }
  // Not a slot: whether listings show photos whose content failed its check
  // (hidden by default: their first cluster now holds something else).
  virtual void SetIncludeDamaged(bool include) { (void)include; }
  // Not a slot: the token that stops the listing calls of other threads.
  virtual void SetReadStop(std::stop_token stop) { (void)stop; }
  // Not a slot: problems the last open or scan met without being stopped by
  // them (damaged metadata, a volume running past the end of its source,
  // unreadable ranges), each as one sentence for the user. Empty when none.
  virtual std::vector<std::string> ScanWarnings() const { return {}; }
  // Not a slot: the files of the last RecoverItem that did not come out
  // whole (damaged, kept as NAME.partial, or not written), with why.
  virtual std::vector<RecoveryProblem> RecoveryProblems() const { return {}; }

  // 14: closes the source and the scan log.
  virtual ~IFileRecoveryParse() = default;

 protected:
  // The context's disk table; an empty one when the context names none.
  const DiskTable& Disks() const {
    static const DiskTable kNoDisks({});
    return context_.diskTable ? *context_.diskTable : kNoDisks;
  }

  EngineContext context_;
};

}  // namespace qm
