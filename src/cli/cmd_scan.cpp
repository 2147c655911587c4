// quillmark-cli scan SOURCE: scan, keep the log, print a summary.
#include <cstdio>
#include <map>
#include <memory>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "cli/scan_session.h"
#include "cli/terminal_text.h"
#include "results/categories.h"
#include "session/tree_walk.h"

namespace qm::cli {
namespace {

struct ScanCommandOptions {
  ScanOptions scan;
  bool json = false;
};

struct Summary {
  std::map<std::string, uint64_t> perCategory;
  // damaged: files whose content no longer matches their type; hidden: the
  // damaged photos among them, which listings leave out unless asked;
  // unreadable: files with sectors inside that the scan could not read.
  uint64_t files = 0, folders = 0, bytes = 0, damaged = 0, hidden = 0, unreadable = 0;
};

// What a listing shows by default, and how many damaged photos it leaves out.
Summary Summarize(IFileRecoveryParse& engine) {
  Summary s;
  for (const char* name : kCategoryNames) s.perCategory[name] = 0;
  engine.SetIncludeDamaged(true);
  session::WalkTree(engine, [&](const FoundFileRecord& r, uint32_t, const std::string&) {
    if (r.isDirectory) {
      ++s.folders;
    } else if (IsDamagedPhoto(r)) {
      ++s.damaged;
      ++s.hidden;
    } else {
      if (r.contentOk == kContentMismatch) ++s.damaged;
      if (r.contentOk == kContentPartlyUnreadable) ++s.unreadable;
      ++s.files;
      s.bytes += r.fileSize;
      ++s.perCategory[CategoryOfName(r.Name())];
    }
  });
  engine.SetIncludeDamaged(false);
  return s;
}

void PrintJson(const ScanCommandOptions& options, const session::ScanVolume& volume,
               const Summary& s, uint64_t records) {
  std::printf("{\"source\":\"%s\",", JsonEscape(options.scan.source).c_str());
  if (volume.partitionNumber) std::printf("\"partition\":%d,", volume.partitionNumber);
  std::printf("\"scanFolder\":\"%s\",\"fileSystem\":\"%s\",\"records\":%llu,\"files\":%llu,"
              "\"folders\":%llu,\"bytes\":%llu,\"damaged\":%llu,\"hidden\":%llu,\"unreadable\":%llu,"
              "\"categories\":{",
              JsonEscape(volume.scanFolder.string()).c_str(),
              JsonEscape(volume.info.engine).c_str(), static_cast<unsigned long long>(records),
              static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(s.folders),
              static_cast<unsigned long long>(s.bytes), static_cast<unsigned long long>(s.damaged),
              static_cast<unsigned long long>(s.hidden),
              static_cast<unsigned long long>(s.unreadable));
  bool first = true;
  for (const char* name : kCategoryNames) {
    std::printf("%s\"%s\":%llu", first ? "" : ",", name,
                static_cast<unsigned long long>(s.perCategory.at(name)));
    first = false;
  }
  std::printf("}");
  if (volume.info.deep())
    std::printf(",\"deep\":true,\"sectorsDone\":%llu,\"sectorsTotal\":%llu",
                static_cast<unsigned long long>(volume.info.sectorsDone),
                static_cast<unsigned long long>(volume.info.sectorsTotal));
  std::printf(",\"warnings\":[");
  first = true;
  for (const std::string& warning : volume.warnings) {
    std::printf("%s\"%s\"", first ? "" : ",", JsonEscape(warning).c_str());
    first = false;
  }
  std::printf("]}\n");
}

void PrintText(const session::ScanVolume& volume, const Summary& s) {
  if (volume.partitionNumber) std::printf("Partition %d (%s):\n", volume.partitionNumber,
                                          volume.info.engine.c_str());
  std::printf("Scan log folder: %s\n", TerminalSafe(volume.scanFolder.string()).c_str());
  std::printf("Found %s (%s) in %s\n", CountOf(s.files, "file", "files").c_str(),
              FormatBytes(s.bytes).c_str(), CountOf(s.folders, "folder", "folders").c_str());
  for (const char* name : kCategoryNames)
    std::printf("  %-9s %llu\n", name, static_cast<unsigned long long>(s.perCategory.at(name)));
  if (s.hidden != 0)
    std::printf("%s hidden as damaged (their content was overwritten since they were deleted); "
                "add --include-damaged to list or recover them anyway\n",
                CountOf(s.hidden, "photo", "photos").c_str());
  if (s.unreadable != 0)
    std::printf("%s sectors that could not be read; they are listed as [unreadable parts] "
                "and recovered with zeros there\n",
                CountOf(s.unreadable, "file holds", "files hold").c_str());
}

int RunScan(const ScanCommandOptions& options, Services& services) {
  ScanSession session(services);
  if (int rc = session.Open(options.scan); rc != kExitOk) return rc;
  bool nothingAndWarned = true;
  for (session::ScanVolume& volume : session.volumes()) {
    const Summary s = Summarize(*volume.engine);
    if (options.json)
      PrintJson(options, volume, s, volume.engine->RecordCount());
    else
      PrintText(volume, s);
    if (s.files + s.hidden != 0 || volume.warnings.empty()) nothingAndWarned = false;
  }
  // Nothing found on a volume that could not be read properly is no result.
  return nothingAndWarned ? kExitError : kExitOk;
}

RegisterCommand reg{"scan", [](CLI::App& app) {
                      auto* sub = app.add_subcommand("scan", "Scan a disk, partition or image for deleted files");
                      auto o = std::make_shared<ScanCommandOptions>();
                      sub->add_option("SOURCE", o->scan.source,
                                      "image file, block device (/dev/sdb, /dev/sdb1), disk:N or IMAGE@N")
                          ->required();
                      AddDeepOptions(*sub, o->scan);
                      sub->add_flag("--json", o->json, "print the summary as JSON");
                      sub->add_flag("--quiet,-q", o->scan.quiet, "no progress bar");
                      return CommandRun([o](Services& services) { return RunScan(*o, services); });
                    }};

}  // namespace
}  // namespace qm::cli
