// ScanLogEngine: what every engine that keeps its results in one scan log
// has in common. Browsing (listing, counting, paths, category listings) is
// served from the log, and recovery and preview go through the shared
// extractor; an engine adds only how it opens its volume, scans it, and
// finds a file's bytes again.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "engines/extraction/content_reader.h"
#include "engines/extraction/file_extractor.h"
#include "engines/file_recovery_parse.h"
#include "results/scan_log_store.h"

namespace qm {

class ScanLogEngine : public IFileRecoveryParse,
                      protected ContentReader,
                      protected FolderLister {
 public:
  ScanLogEngine();
  ~ScanLogEngine() override;

  int SetCallbacks(ScanProgressFn scanProgress, FileProgressFn fileProgress, void* user,
                   int scale) override;
  int ListChildren(const FoundFileRecord* folder, uint32_t depth,
                   std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) override;
  uint64_t RecordCount() override;
  int GetFullPath(const FoundFileRecord& record, std::string& path) override;
  // Folder contents are found by the folder's own depth in the scanned tree,
  // so baseSeparators is not needed.
  int RecoverItem(const FoundFileRecord& record, const std::string& destination,
                  int baseSeparators) override;
  std::vector<RecoveryProblem> RecoveryProblems() const override { return extractor_.problems(); }
  int SetListProgress(ListProgressFn callback, void* user) override;
  int ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) override;
  int ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer,
                        uint32_t* bufferSize, PreviewProgressFn progress, void* user) override;
  void SetReadStop(std::stop_token stop) override;
  void SetIncludeDamaged(bool include) override;

  // May be called while a scan runs on another thread.
  std::vector<std::string> ScanWarnings() const override;

  const ScanLogStore* log() const { return log_.get(); }
  // The directory id under which the root's records are filed.
  virtual uint32_t RootId() const = 0;

 protected:
  // Replaces the log with a fresh, closed store that carries the listing
  // progress callback once it is opened.
  ScanLogStore& NewLog();
  // Opens the log by name (re-opening an earlier scan) or by base name, in
  // the scan folder of the context.
  int OpenLog(const std::string& name);

  int ListFolder(const FoundFileRecord& folder, uint32_t depth,
                 std::vector<FoundFileRecord>& out) override;
  int FolderDepth(const FoundFileRecord& folder, uint32_t& depth) override;

  void AddWarning(std::string sentence);
  void ClearWarnings();

  bool open_ = false;
  // Only the scan thread replaces it (under logMutex_); readers on other
  // threads hold their own reference for the length of a call.
  std::shared_ptr<ScanLogStore> log_;
  FileExtractor extractor_;

  ScanProgressFn scanProgress_ = nullptr;
  FileProgressFn fileProgress_ = nullptr;
  void* user_ = nullptr;
  int scale_ = 100;
  ListProgressFn listProgress_ = nullptr;
  void* listUser_ = nullptr;

 private:
  // The current log for a reader; null when none is open.
  std::shared_ptr<ScanLogStore> ReadableLog() const;
  std::stop_token ReadStop() const;

  mutable std::mutex logMutex_;
  std::stop_token readStop_;
  mutable std::mutex warningsMutex_;
  std::vector<std::string> warnings_;
  bool includeDamaged_ = false;
  uint64_t KeyOf(const FoundFileRecord* folder, uint32_t depth) const;
};

}  // namespace qm
