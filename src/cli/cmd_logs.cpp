// quillmark-cli logs: the kept scans, and removing them.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "results/scan_history.h"
#include "session/scan_folders.h"

namespace qm::cli {
namespace {

struct LogsOptions {
  bool json = false;
  std::string remove;
};

int Remove(const std::string& which, ScanHistory& history) {
  std::vector<uint64_t> numbers;
  if (which == "all") {
    for (const auto& scan : session::ListKeptScans(history)) numbers.push_back(scan.number);
  } else {
    uint64_t number = 0;
    if (!ParseDecimal(which, number)) {
      std::fprintf(stderr, "quillmark-cli: --remove takes a scan number or 'all', not '%s'\n",
                   TerminalSafe(which).c_str());
      return kExitUsage;
    }
    numbers.push_back(number);
  }
  int exit = kExitOk;
  for (uint64_t number : numbers) {
    const int rc = session::RemoveKeptScan(history, number);
    if (rc == err::kFileNotFound) {
      std::fprintf(stderr, "quillmark-cli: there is no scan %llu (see 'quillmark-cli logs')\n",
                   static_cast<unsigned long long>(number));
      exit = kExitError;
    } else if (rc == err::kBusy) {
      std::fprintf(stderr, "quillmark-cli: scan %llu is running now; stop it (Ctrl-C) before "
                   "removing it\n", static_cast<unsigned long long>(number));
      exit = kExitError;
    } else if (rc != 0) {
      std::fprintf(stderr, "quillmark-cli: cannot remove scan %llu: %s\n",
                   static_cast<unsigned long long>(number), ErrorText(rc).c_str());
      exit = kExitError;
    } else {
      std::printf("Removed scan %llu\n", static_cast<unsigned long long>(number));
    }
  }
  return exit;
}

int RunLogs(const LogsOptions& options, ScanHistory& history) {
  if (!options.remove.empty()) return Remove(options.remove, history);
  const auto scans = session::ListKeptScans(history);
  if (options.json) {
    for (const auto& s : scans) {
      std::printf("{\"number\":%llu,\"folder\":\"%s\",\"source\":\"%s\",\"path\":\"%s\","
                  "\"kind\":\"%s\",\"fileSystem\":\"%s\",\"date\":\"%s\",\"filesFound\":%llu,"
                  "\"finished\":%s,\"running\":%s,\"bytesOnDisk\":%llu",
                  static_cast<unsigned long long>(s.number), JsonEscape(s.folder.string()).c_str(),
                  JsonEscape(s.info.source).c_str(), JsonEscape(s.info.path).c_str(),
                  JsonEscape(s.info.kind).c_str(), JsonEscape(s.info.engine).c_str(),
                  JsonEscape(s.info.started).c_str(),
                  static_cast<unsigned long long>(s.FilesFound()),
                  s.info.finished ? "true" : "false", s.running ? "true" : "false",
                  static_cast<unsigned long long>(s.bytesOnDisk));
      if (s.info.deep())
        std::printf(",\"deep\":true,\"sectorsDone\":%llu,\"sectorsTotal\":%llu",
                    static_cast<unsigned long long>(s.SectorsDone()),
                    static_cast<unsigned long long>(s.info.sectorsTotal));
      std::printf("}\n");
    }
    return kExitOk;
  }
  if (scans.empty()) {
    std::printf("No kept scans in %s\n", TerminalSafe(history.ScanLogPath()).c_str());
    return kExitOk;
  }
  std::printf("%-4s %-19s %-12s %-5s %10s %10s  %s\n", "No.", "Date", "Kind", "FS", "Files",
              "On disk", "Source");
  for (const auto& s : scans) {
    const std::string source = s.hasInfo ? s.info.source : "(unknown: made by an older version)";
    std::string files = std::to_string(s.FilesFound());
    if (s.hasInfo && !s.info.finished) files += "*";
    std::printf("%-4llu %-19s %-12s %-5s %10s %10s  %s\n",
                static_cast<unsigned long long>(s.number), TerminalSafe(s.info.started).c_str(),
                TerminalSafe(s.info.kind).c_str(), TerminalSafe(s.info.engine).c_str(),
                files.c_str(), FormatBytes(s.bytesOnDisk).c_str(), TerminalSafe(source).c_str());
    if (s.hasInfo && s.info.deep()) {
      const std::string at = DeepPositionText(s.SectorsDone(), s.info.sectorsTotal);
      const std::string state =
          s.info.finished ? "finished"
          : s.running     ? "running, at " + at
          : s.inHistory   ? "stopped at " + at + "; the next deep scan of it resumes there"
          : s.SectorsDone() ? "stopped at " + at + "; it cannot be resumed"
                          : "stopped before its pass over the sectors; it cannot be resumed";
      std::printf("     deep scan %s\n", state.c_str());
    }
  }
  if (std::any_of(scans.begin(), scans.end(),
                  [](const session::KeptScan& s) { return s.hasInfo && !s.info.finished; }))
    std::printf("(* the scan did not run to its end)\n");
  std::printf("Use one with 'list SOURCE --log N' or 'recover SOURCE --log N'; "
              "remove with 'logs --remove N' or 'logs --remove all'.\n");
  return kExitOk;
}

RegisterCommand reg{"logs", [](CLI::App& app) {
                      auto* sub = app.add_subcommand(
                          "logs",
                          "List the kept scans (with where each deep scan stopped) or remove them");
                      auto o = std::make_shared<LogsOptions>();
                      sub->add_flag("--json", o->json, "one JSON object per kept scan");
                      sub->add_option("--remove", o->remove,
                                      "remove kept scan N with its logs, or 'all' of them");
                      return CommandRun(
                          [o](Services& services) { return RunLogs(*o, services.history); });
                    }};

}  // namespace
}  // namespace qm::cli
