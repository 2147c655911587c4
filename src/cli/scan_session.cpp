#include "cli/scan_session.h"

#include <cstdio>

#include "cli/command_registry.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "platform/errors.h"

namespace qm::cli {

namespace {

// A quick scan reports the folders it has walked against those it knows of.
int OnScanProgress(void* user, int step, int scale, int64_t secondsLeft, uint64_t done,
                   uint64_t total, uint64_t found, int) {
  if (Interrupted()) return err::kCancelled;
  auto* line = static_cast<ProgressLine*>(user);
  std::string detail = CountOf(found, "file", "files") + " found";
  if (total != 0)
    detail = std::to_string(done) + "/" + CountOf(total, "folder", "folders") + ", " + detail;
  line->Update(step * scale / 100, secondsLeft, detail);
  return 0;
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "quillmark-cli: %s\n", TerminalSafe(message).c_str());
}

}  // namespace

ScanSession::ScanSession() : core_(GetScanHistory(), DiskTable::System()) {}

std::string ScanSession::VolumeFolder(const session::ScanVolume& volume) {
  return volume.partitionNumber > 0 ? "partition " + std::to_string(volume.partitionNumber) + "/"
                                    : std::string();
}

void PrintWarnings(const session::ScanVolume& volume) {
  for (const std::string& warning : volume.warnings)
    std::fprintf(stderr, "warning: %s%s\n",
                 volume.partitionNumber ? ("partition " + std::to_string(volume.partitionNumber) +
                                           ": ").c_str()
                                        : "",
                 TerminalSafe(warning).c_str());
}

int ScanSession::Open(const ScanOptions& options) {
  std::string message;
  if (core_.Open(options.source, options.deep, message) != 0) {
    PrintError(message);
    return kExitError;
  }
  for (const std::string& note : core_.notes()) PrintError("note: " + note);

  if (!options.logFolder.empty()) {
    if (core_.Reopen(options.logFolder, message) != 0) {
      PrintError(message);
      return kExitError;
    }
  } else {
    for (size_t i = 0; i < core_.volumes().size(); ++i) {
      session::ScanVolume& volume = core_.volumes()[i];
      ProgressLine line(options.quiet);
      const int rc = core_.Scan(i, OnScanProgress, &line, message);
      line.Finish();
      if (rc == err::kCancelled) {
        PrintError("scan cancelled; what was found so far is in " + volume.scanFolder.string());
        return kExitCancelled;
      }
      PrintWarnings(volume);
      if (rc != 0) {
        PrintError(message);
        return kExitError;
      }
    }
  }
  for (auto& volume : core_.volumes()) volume.engine->SetIncludeDamaged(options.includeDamaged);
  return kExitOk;
}

}  // namespace qm::cli
