// What scan, list and recover share on the terminal: the core session with
// a progress line, its failures printed, and each volume's place in the
// output ("partition 2/" when a whole disk is scanned partition by partition).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/terminal_text.h"
#include "session/scan_session.h"

namespace qm::cli {

struct ScanOptions {
  std::string source;
  bool deep = false;
  std::string logFolder;  // --log: re-open that scan instead of scanning
  bool quiet = false;
  bool includeDamaged = false;
};

class ScanSession {
 public:
  ScanSession();
  // Opens the source and scans every volume in it, or re-opens --log.
  // Returns an exit code; prints its own messages.
  int Open(const ScanOptions& options);

  std::vector<session::ScanVolume>& volumes() { return core_.volumes(); }
  const session::ScanSource& source() const { return core_.source(); }
  // Where a volume's files go in listings and under --out: "" for a source
  // that is one volume, "partition N/" for each partition of a whole disk.
  static std::string VolumeFolder(const session::ScanVolume& volume);

 private:
  session::ScanSession core_;
};

// Prints a volume's warnings to stderr, each on its own line.
void PrintWarnings(const session::ScanVolume& volume);

}  // namespace qm::cli
