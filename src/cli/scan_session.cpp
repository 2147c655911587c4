#include "cli/scan_session.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cctype>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "cli/command_registry.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "platform/errors.h"
#include "session/scan_folders.h"

namespace qm::cli {

namespace {

void PrintError(const std::string& message) {
  std::fprintf(stderr, "quillmark-cli: %s\n", TerminalSafe(message).c_str());
}

struct ScanProgress {
  ProgressLine* line;
  bool deep = false;
  uint32_t sectorSize = 512;
  // The read rate counts only what this run read: a resumed pass starts
  // with sectors done earlier.
  bool passStarted = false;
  uint64_t doneAtStart = 0;
  std::chrono::steady_clock::time_point startedAt;
};

// A quick scan reports the folders it has walked against those it knows of;
// the deep pass reports sectors, with the quick scan of the volume's own
// file system before it.
int OnScanProgress(void* user, int step, int scale, int64_t secondsLeft, uint64_t done,
                   uint64_t total, uint64_t found, int) {
  if (Interrupted()) return err::kCancelled;
  auto* p = static_cast<ScanProgress*>(user);
  const std::string files = CountOf(found, "file", "files") + " found";
  // The deep pass ends with one call at 100 % on the common scale.
  if ((scale == session::kDeepPassScale || p->passStarted) && total != 0) {
    const auto now = std::chrono::steady_clock::now();
    if (!p->passStarted) {
      p->passStarted = true;
      p->doneAtStart = done;
      p->startedAt = now;
    }
    const double seconds = std::chrono::duration<double>(now - p->startedAt).count();
    std::string rate;
    if (seconds >= 0.5 && done >= p->doneAtStart)
      rate = ", " + FormatRate((done - p->doneAtStart) * p->sectorSize, seconds);
    p->line->Update(PercentOf(done, total), secondsLeft,
                    std::to_string(done) + "/" + std::to_string(total) + " sectors" + rate +
                        ", " + files);
    return 0;
  }
  std::string detail = files;
  if (total != 0)
    detail = std::to_string(done) + "/" + CountOf(total, "folder", "folders") + ", " + detail;
  // Before its pass over the sectors a deep scan reads the volume's own file
  // system; that phase gets a bar of its own.
  if (p->deep) {
    p->line->Update(step, secondsLeft, "file system: " + detail);
    return 0;
  }
  p->line->Update(step * scale / 100, secondsLeft, detail);
  return 0;
}

std::string VolumeText(const std::string& source, const session::ScanVolume& volume) {
  return volume.partitionNumber ? source + " (partition " +
                                      std::to_string(volume.partitionNumber) + ")"
                                : source;
}

std::string EarlierText(const std::string& source, const session::ScanVolume& volume) {
  const session::EarlierDeepScan& earlier = volume.earlier;
  const std::string files = CountOf(earlier.position.filesFound, "file", "files") + " found";
  std::string text = "an earlier deep scan of " + VolumeText(source, volume) + " stopped at " +
                     DeepPositionText(earlier.position.totalDone, earlier.sectorsTotal) + " (" +
                     files + ")";
  return text + "; its logs are in " + earlier.folder.string();
}

// Asks on the terminal; an empty answer or end of input takes the default.
bool AskYes(const std::string& question) {
  std::fprintf(stderr, "%s [Y/n] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::fprintf(stderr, "\n");
    return true;
  }
  return !(answer == "n" || answer == "N" || answer == "no" || answer == "No" || answer == "NO");
}

void ChooseResume(const ScanOptions& options, session::ScanVolume& volume) {
  if (!volume.earlier.known) return;
  const std::string earlier = TerminalSafe(EarlierText(options.source, volume));
  if (!volume.earlier.whyNot.empty()) {
    volume.resume = false;
    std::fprintf(stderr, "note: %s, but %s; starting afresh\n", earlier.c_str(),
                 TerminalSafe(volume.earlier.whyNot).c_str());
    return;
  }
  if (options.wholeVolume != volume.earlier.wholeVolume &&
      options.resume != ScanOptions::Resume::kNo)
    std::fprintf(stderr, "note: a resumed deep scan goes on as it began (%s --whole); "
                 "--no-resume starts afresh%s\n",
                 volume.earlier.wholeVolume ? "with" : "without",
                 options.wholeVolume ? " with --whole" : " without it");
  switch (options.resume) {
    case ScanOptions::Resume::kYes: volume.resume = true; return;
    case ScanOptions::Resume::kNo: volume.resume = false; return;
    case ScanOptions::Resume::kAsk: break;
  }
  if (::isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "%c%s.\n", std::toupper(static_cast<unsigned char>(earlier[0])),
                 earlier.c_str() + 1);
    volume.resume = AskYes("Resume it? (No deletes it and starts afresh.)");
    return;
  }
  volume.resume = true;
  std::fprintf(stderr, "note: %s; resuming it (--no-resume starts afresh)\n", earlier.c_str());
}

// QUILLMARK_DEEP_SAVE_SECONDS: how often a deep scan saves its position
// (30 s unless set). A test and debugging knob: a short interval lets a
// killed scan be resumed from close to where it died.
std::chrono::milliseconds SaveIntervalFrom(const Environment& env) {
  const std::string& text = env.deepSaveSeconds;
  if (text.empty()) return {};
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(seconds >= 0.01 && seconds <= 86400)) {
    PrintError("QUILLMARK_DEEP_SAVE_SECONDS must be a number of seconds from 0.01 "
               "to 86400, such as 30 or 0.5; ignoring '" + text + "'");
    return {};
  }
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

// --log of a deep scan is read with the deep engine even without --deep:
// the source may hold no file system a quick scan could open.
bool LogIsDeep(const ScanHistory& history, const std::string& given) {
  if (given.empty() || given == "last") return false;
  std::filesystem::path folder;
  std::string ignored;
  session::ScanInfo info;
  return session::ResolveLogFolder(history, given, folder, ignored) == 0 &&
         session::ReadScanInfo(folder, info) && info.deep();
}

// "7" for <ScanLog>/7/: the number --log takes.
std::string FolderName(const std::filesystem::path& folder) {
  std::string text = folder.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return std::filesystem::path(text).filename().string();
}

}  // namespace

void AddDeepOptions(CLI::App& command, ScanOptions& options) {
  auto* deep = command.add_flag("--deep", options.deep,
                                "deep scan: the volume's file system first, then every free "
                                "sector (or all of them) searched for files by their content");
  command.add_flag("--whole", options.wholeVolume,
                   "deep scan every sector, even when the file system is healthy and only its "
                   "free space would be searched")
      ->needs(deep);
  auto* yes = command.add_flag_callback(
      "--resume", [&options] { options.resume = ScanOptions::Resume::kYes; },
      "go on with an interrupted deep scan of the same volume without asking");
  auto* no = command.add_flag_callback(
      "--no-resume", [&options] { options.resume = ScanOptions::Resume::kNo; },
      "start the deep scan afresh, deleting an interrupted one of the same volume");
  yes->needs(deep)->excludes(no);
  no->needs(deep);
}

ScanSession::ScanSession(Services& services)
    : services_(services), core_(services.history, services.disks) {}

std::string ScanSession::VolumeFolder(const session::ScanVolume& volume) {
  return volume.partitionNumber > 0 ? "partition " + std::to_string(volume.partitionNumber) + "/"
                                    : std::string();
}

std::string ListingErrorText(const session::ScanVolume& volume, int error) {
  if (error == err::kCancelled) return "listing cancelled";
  const std::filesystem::path log = session::FindLogIn(volume.scanFolder);
  const std::string where = log.empty() ? "the scan log in " + volume.scanFolder.string()
                                        : "the scan log " + log.string();
  return "cannot read " + where + ": " + ErrorText(error) +
         "; the list of found files is incomplete. The file or the disk it lies on may be "
         "damaged: scan the source again to make a new log";
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
  const bool deep = options.deep || LogIsDeep(services_.history, options.logFolder);
  int rc = core_.Open(options.source, deep, message);
  if (rc != 0 && !deep && !options.logFolder.empty()) {
    // A source no quick scan can read may still have a kept deep scan
    // ("--log last" is only known once the source is open): --log reopens
    // a kept scan as it was made, and the deep engine opens any source.
    std::string deepMessage;
    if (core_.Open(options.source, true, deepMessage) == 0) rc = 0;
  }
  if (rc != 0) {
    if (rc == err::kNotSupported) message += "; run the command again with --deep";
    PrintError(message);
    return kExitError;
  }
  for (const std::string& note : core_.notes()) PrintError("note: " + note);

  if (!options.logFolder.empty()) {
    if (core_.Reopen(options.logFolder, message) != 0) {
      PrintError(message);
      return kExitError;
    }
  } else if (int rc = ScanAll(options); rc != kExitOk) {
    return rc;
  }
  for (auto& volume : core_.volumes()) volume.engine->SetIncludeDamaged(options.includeDamaged);
  return kExitOk;
}

int ScanSession::ScanAll(const ScanOptions& options) {
  core_.SetWholeVolume(options.wholeVolume);
  core_.SetSaveInterval(SaveIntervalFrom(services_.env));
  for (session::ScanVolume& volume : core_.volumes()) ChooseResume(options, volume);
  std::string message;
  for (size_t i = 0; i < core_.volumes().size(); ++i) {
    session::ScanVolume& volume = core_.volumes()[i];
    ProgressLine line(options.quiet);
    ScanProgress progress{&line, session::DeepEngineOf(volume) != nullptr, volume.sectorSize,
                          false, 0, {}};
    const int rc = core_.Scan(i, OnScanProgress, &progress, message);
    line.Finish();
    if (rc == err::kCancelled) {
      HistoryEntry entry{};
      if (session::DeepEngineOf(volume) &&
          !session::FindHistoryOfFolder(services_.history, volume.scanFolder, entry)) {
        PrintError("deep scan of " + VolumeText(options.source, volume) +
                   " stopped while it read the file system, before its pass over the sectors; "
                   "what was found so far is in " + volume.scanFolder.string() +
                   ", and the next deep scan starts afresh");
      } else if (session::DeepEngineOf(volume)) {
        PrintError("deep scan of " + VolumeText(options.source, volume) + " stopped at " +
                   DeepPositionText(volume.info.sectorsDone, volume.info.sectorsTotal) +
                   "; what was found so far is in " + volume.scanFolder.string() +
                   ". Run the same command again to resume it, or 'quillmark-cli list " +
                   options.source + " --log " + FolderName(volume.scanFolder) +
                   "' to see it");
      } else {
        PrintError("scan cancelled; what was found so far is in " + volume.scanFolder.string());
      }
      return kExitCancelled;
    }
    PrintWarnings(volume);
    if (rc != 0) {
      PrintError(message);
      return kExitError;
    }
  }
  return kExitOk;
}

}  // namespace qm::cli
