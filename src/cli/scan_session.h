// What scan, list and recover share on the terminal: the core session with
// a progress line, its failures printed, and each volume's place in the
// output ("partition 2/" when a whole disk is scanned partition by partition).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/terminal_text.h"
#include "session/scan_session.h"

namespace CLI {
class App;
}

namespace qm::cli {

struct ScanOptions {
  enum class Resume { kAsk, kYes, kNo };

  std::string source;
  bool deep = false;
  bool wholeVolume = false;  // --whole: every sector, not only a healthy volume's free space
  Resume resume = Resume::kAsk;
  std::string logFolder;  // --log: re-open that scan instead of scanning
  bool quiet = false;
  bool includeDamaged = false;
};

class ScanSession {
 public:
  explicit ScanSession(Services& services);
  // Opens the source and scans every volume in it, or re-opens --log.
  // Returns an exit code; prints its own messages.
  int Open(const ScanOptions& options);

  std::vector<session::ScanVolume>& volumes() { return core_.volumes(); }
  const session::ScanSource& source() const { return core_.source(); }
  // Where a volume's files go in listings and under --out: "" for a source
  // that is one volume, "partition N/" for each partition of a whole disk.
  static std::string VolumeFolder(const session::ScanVolume& volume);

 private:
  int ScanAll(const ScanOptions& options);

  Services& services_;
  session::ScanSession core_;
};

// Why a volume's found files could not be listed, for stderr: a cancel, or
// the scan log that could not be read, the system's error and what to do.
std::string ListingErrorText(const session::ScanVolume& volume, int error);

// Prints a volume's warnings to stderr, each on its own line.
void PrintWarnings(const session::ScanVolume& volume);

// Adds --deep, --whole, --resume and --no-resume to a command.
void AddDeepOptions(CLI::App& command, ScanOptions& options);

}  // namespace qm::cli
