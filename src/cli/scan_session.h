// What scan, list and recover share: turn SOURCE into an opened engine and
// either scan it or re-open an earlier scan's log, with a progress line.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "cli/scan_target.h"
#include "engines/file_recovery_parse.h"

namespace qm::cli {

struct ScanOptions {
  std::string source;
  bool deep = false;
  std::string logFolder;  // re-open the scan log in this folder instead of scanning
  bool quiet = false;
};

class ScanSession {
 public:
  // Returns an exit code (kExitOk when the engine is ready to browse);
  // prints its own messages.
  int Open(const ScanOptions& options);

  IFileRecoveryParse& engine() { return *engine_; }
  const ScanTarget& target() const { return target_; }
  const std::filesystem::path& scanFolder() const { return scanFolder_; }

 private:
  ScanTarget target_;
  std::unique_ptr<IFileRecoveryParse> engine_;
  std::filesystem::path scanFolder_;
};

// Visits every record of the scanned tree depth first, each folder's
// contents right after the folder. `depth`
// is the directory depth the record lies at (root entries: 0); `folder` is
// its folder path ("" in the root, else "a/b/"). A folder met twice (a loop
// in a damaged volume) is not entered again.
int WalkTree(IFileRecoveryParse& engine,
             const std::function<void(const FoundFileRecord&, uint32_t depth,
                                      const std::string& folder)>& visit);

// "a/b/" of a record, each component made safe for the destination.
std::string SafeFolderPath(IFileRecoveryParse& engine, const FoundFileRecord& record);

std::string JsonEscape(const std::string& text);

}  // namespace qm::cli
