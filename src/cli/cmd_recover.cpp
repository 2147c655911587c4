// quillmark-cli recover SOURCE --out DIR: copy found files out.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "cli/command_registry.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/record_filter.h"
#include "cli/scan_session.h"
#include "engines/extraction/destination_names.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "results/categories.h"
#include "session/same_disk.h"
#include "session/tree_walk.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

struct RecoverOptions {
  ScanOptions scan;
  std::string out;
  std::string categories;
  std::string extensions;
  bool keepPaths = false;
  bool force = false;
};

struct Progress {
  ProgressLine* line;
  size_t index = 0;
  size_t total = 0;
  std::string current;
  int lastError = 0;
};

int OnFileProgress(void* user, int step, int scale, int error, const char*) {
  auto* p = static_cast<Progress*>(user);
  if (Interrupted()) return err::kCancelled;
  if (error != 0) p->lastError = error;
  const int filePercent = step * scale / 100;
  const int overall =
      p->total ? static_cast<int>((p->index * 100 + std::min(filePercent, 100)) / p->total) : 100;
  p->line->Update(overall, -1,
                  std::to_string(p->index + 1) + "/" + std::to_string(p->total) + " " + p->current);
  return 0;
}

// "bytes 4096-8191, 12288-12799" (file offsets, last byte included).
std::string UnreadableText(const std::vector<ByteRange>& ranges) {
  constexpr size_t kListed = 20;
  uint64_t total = 0;
  std::string list;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const ByteRange& r = ranges[i];
    total += r.length;
    if (i >= kListed) continue;
    if (!list.empty()) list += ", ";
    list += std::to_string(r.offset) + "-" + std::to_string(r.offset + r.length - 1);
  }
  if (ranges.size() > kListed) list += " and " + std::to_string(ranges.size() - kListed) + " more";
  return FormatBytes(total) + " could not be read (bytes " + list + ") and " +
         (total == 1 ? "is" : "are");
}

int RunRecover(const RecoverOptions& options, Services& services) {
  std::vector<std::string> categories;
  std::string message;
  if (!ParseCategories(options.categories, categories, message)) {
    std::fprintf(stderr, "quillmark-cli: %s\n", message.c_str());
    return kExitUsage;
  }
  const std::vector<std::string> extensions = ParseExtensions(options.extensions);

  ScanSession session(services);
  if (int rc = session.Open(options.scan); rc != kExitOk) return rc;

  if (session.source().isBlockDevice && !options.force) {
    const std::string sourceDisk = session::SharedDisk(session.source().path, options.out);
    if (!sourceDisk.empty()) {
      std::fprintf(stderr,
                   "quillmark-cli: %s lies on /dev/%s, the disk being recovered; writing there "
                   "could overwrite the files you want back. Choose a folder on another disk "
                   "(or pass --force).\n",
                   TerminalSafe(options.out).c_str(), sourceDisk.c_str());
      return kExitError;
    }
  }

  // Every volume's files, each with the engine that reads it and its folder
  // under --out ("partition N/" when a whole disk is recovered).
  struct Item {
    IFileRecoveryParse* engine;
    std::string volumeFolder;
    FoundFileRecord record;
  };
  std::vector<Item> records;
  // A log that cannot be read whole still gives the files listed before the
  // failure: they are recovered, and the exit code says the rest is missing.
  bool listingFailed = false;
  for (session::ScanVolume& volume : session.volumes()) {
    std::vector<FoundFileRecord> found;
    if (const int rc = volume.engine->ListByCategory(CategoryFilterText({}), found);
        ListingFailed(rc)) {
      if (rc == err::kCancelled) {
        std::fprintf(stderr, "quillmark-cli: recovery cancelled\n");
        return kExitCancelled;
      }
      std::fprintf(stderr, "quillmark-cli: %s; only the %s listed before it are recovered\n",
                   TerminalSafe(ListingErrorText(volume, rc)).c_str(),
                   CountOf(found.size(), "file", "files").c_str());
      listingFailed = true;
    }
    for (const FoundFileRecord& r : found)
      records.push_back({volume.engine.get(), ScanSession::VolumeFolder(volume), r});
  }
  std::erase_if(records, [&](const Item& item) {
    const FoundFileRecord& r = item.record;
    if (IsDamagedPhoto(r) && !options.scan.includeDamaged) return true;
    const std::string name = r.Name();
    if (!categories.empty() &&
        std::find(categories.begin(), categories.end(), CategoryOfName(name)) == categories.end())
      return true;
    if (!extensions.empty()) {
      const std::string ext = LowerUtf8(ExtensionOf(name));
      if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) return true;
    }
    return false;
  });

  std::error_code ec;
  fs::create_directories(options.out, ec);
  if (ec || !fs::is_directory(options.out)) {
    std::fprintf(stderr, "quillmark-cli: cannot create the folder %s: %s\n", options.out.c_str(),
                 ec ? ec.message().c_str() : "not a folder");
    return kExitError;
  }
  const fs::path root = fs::absolute(options.out);
  const int baseSeparators = CountSeparators(root.string());

  ProgressLine line(options.scan.quiet);
  Progress progress{&line, 0, 0, {}, 0};
  progress.total = records.size();
  for (session::ScanVolume& volume : session.volumes())
    volume.engine->SetCallbacks(nullptr, OnFileProgress, &progress, 100);

  uint64_t recovered = 0, damaged = 0, failed = 0, bytes = 0;
  bool cancelled = false;
  for (const Item& item : records) {
    IFileRecoveryParse& engine = *item.engine;
    const FoundFileRecord& r = item.record;
    const std::string name = SafeFileName(r.Name());
    const fs::path base = root / item.volumeFolder;
    fs::path folder = options.keepPaths ? base / session::SafeFolderPath(engine, r)
                                        : base / CategoryOfName(r.Name());
    // The engine takes the next free "name(n)" when this one is taken.
    const std::string destination = (folder / name).string();
    progress.current = name;
    progress.lastError = 0;
    const int rc = engine.RecoverItem(r, destination, baseSeparators);
    ++progress.index;
    if (rc == err::kCancelled) {
      cancelled = true;
      break;
    }
    const std::vector<RecoveryProblem> problems = engine.RecoveryProblems();
    if (rc == 0 && problems.empty()) {
      ++recovered;
      bytes += r.fileSize;
      continue;
    }
    line.Finish();
    if (problems.empty()) {
      std::fprintf(stderr, "failed: %s: %s\n", TerminalSafe(destination).c_str(), ErrorText(rc).c_str());
      ++failed;
      continue;
    }
    for (const RecoveryProblem& problem : problems) {
      if (problem.damaged()) {
        ++damaged;
        bytes += problem.bytesWritten;
        std::fprintf(stderr, "damaged: %s: %s written as zeros\n", TerminalSafe(problem.keptPath).c_str(),
                     UnreadableText(problem.unreadable).c_str());
        continue;
      }
      ++failed;
      std::fprintf(stderr, "failed: %s: %s", TerminalSafe(problem.intendedPath).c_str(),
                   ErrorText(problem.error).c_str());
      if (!problem.keptPath.empty())
        std::fprintf(stderr, " (the %s read are kept in %s)",
                     FormatBytes(problem.bytesWritten).c_str(),
                     TerminalSafe(problem.keptPath).c_str());
      std::fprintf(stderr, "\n");
    }
  }
  line.Finish();
  for (session::ScanVolume& volume : session.volumes())
    volume.engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
  std::printf("Recovered %s (%s) into %s; %llu damaged with unreadable parts; %llu failed\n",
              CountOf(recovered, "file", "files").c_str(), FormatBytes(bytes).c_str(),
              TerminalSafe(root.string()).c_str(), static_cast<unsigned long long>(damaged),
              static_cast<unsigned long long>(failed));
  if (cancelled) {
    std::fprintf(stderr, "quillmark-cli: recovery cancelled\n");
    return kExitCancelled;
  }
  if (listingFailed)
    std::fprintf(stderr, "quillmark-cli: not every found file was recovered: the scan log could "
                         "not be read whole (see above)\n");
  return failed || damaged || listingFailed ? kExitError : kExitOk;
}

RegisterCommand reg{"recover", [](CLI::App& app) {
                      auto* sub = app.add_subcommand("recover", "Recover found files into a folder");
                      auto o = std::make_shared<RecoverOptions>();
                      sub->add_option("SOURCE", o->scan.source,
                                      "image file, block device (/dev/sdb, /dev/sdb1), disk:N or IMAGE@N")
                          ->required();
                      sub->add_option("--out,-o", o->out, "destination folder")->required();
                      AddDeepOptions(*sub, o->scan);
                      sub->add_option("--category", o->categories,
                                      "only these categories (photo,audio,video,document,archive,others)");
                      sub->add_option("--ext", o->extensions, "only these extensions (jpg,png,...)");
                      sub->add_flag("--keep-paths", o->keepPaths,
                                    "recreate the folder paths instead of category folders");
                      sub->add_option("--log", o->scan.logFolder,
                                      "use a kept scan instead of scanning: its number (see "
                                      "'logs'), 'last', or its folder");
                      sub->add_flag("--include-damaged", o->scan.includeDamaged,
                                    "also recover files whose content was overwritten");
                      sub->add_flag("--force", o->force,
                                    "allow a destination on the disk being recovered");
                      sub->add_flag("--quiet,-q", o->scan.quiet, "no progress bar");
                      return CommandRun(
                          [o](Services& services) { return RunRecover(*o, services); });
                    }};

}  // namespace
}  // namespace qm::cli
