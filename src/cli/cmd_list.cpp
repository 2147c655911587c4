// quillmark-cli list SOURCE: the found files as a folder tree or by category.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "cli/record_filter.h"
#include "cli/scan_session.h"
#include "cli/terminal_text.h"
#include "platform/filetime.h"
#include "results/categories.h"
#include "session/tree_walk.h"

namespace qm::cli {
namespace {

struct ListOptions {
  ScanOptions scan;
  bool tree = false;
  std::string categories;
  bool json = false;
};

const char* EngineKindName(uint32_t kind) {
  switch (static_cast<EngineKind>(kind)) {
    case EngineKind::kNtfsQuick: return "ntfsQuick";
    case EngineKind::kFatQuick: return "fatQuick";
    case EngineKind::kNtfsDeep: return "ntfsDeep";
    case EngineKind::kFatDeep: return "fatDeep";
    case EngineKind::kCarving: return "carving";
  }
  return "unknown";
}

void PrintJson(const FoundFileRecord& r, const std::string& folder) {
  const std::string name = r.Name();
  std::printf(
      "{\"name\":\"%s\",\"path\":\"%s\",\"size\":%llu,\"isDirectory\":%s,\"isDeleted\":%s,"
      "\"contentOk\":%s,\"engineKind\":%u,\"engineKindName\":\"%s\",\"entryId\":%u,"
      "\"anchorSector\":%llu,\"category\":\"%s\",\"created\":\"%s\",\"accessed\":\"%s\","
      "\"modified\":\"%s\",\"unreadableParts\":%s}\n",
      JsonEscape(name).c_str(), JsonEscape(folder + name).c_str(),
      static_cast<unsigned long long>(r.fileSize), r.isDirectory ? "true" : "false",
      r.isDeleted ? "true" : "false", r.contentOk ? "true" : "false", r.engineKind,
      EngineKindName(r.engineKind), r.entryId, static_cast<unsigned long long>(r.anchorSector),
      r.isDirectory ? "" : CategoryOfName(name).c_str(), FileTimeToIso(r.creationTime).c_str(),
      FileTimeToIso(r.accessTime).c_str(), FileTimeToIso(r.writeTime).c_str(),
      r.contentOk == kContentPartlyUnreadable ? "true" : "false");
}

std::string Marks(const FoundFileRecord& r) {
  std::string marks;
  if (r.isDirectory && r.isDeleted) marks += " [deleted]";
  if (!r.isDirectory && r.contentOk == kContentMismatch) marks += " [damaged]";
  if (!r.isDirectory && r.contentOk == kContentPartlyUnreadable) marks += " [unreadable parts]";
  return marks;
}

bool Hidden(const FoundFileRecord& r, bool includeDamaged) {
  return !includeDamaged && !r.isDirectory && IsDamagedPhoto(r);
}

int ListTree(IFileRecoveryParse& engine, const std::string& prefix, bool json,
             bool includeDamaged) {
  const uint32_t extra = prefix.empty() ? 0 : 1;
  if (!prefix.empty() && !json) std::printf("%s\n", TerminalSafe(prefix).c_str());
  return session::WalkTree(engine, [&](const FoundFileRecord& r, uint32_t depth,
                                       const std::string& folder) {
    if (Hidden(r, includeDamaged)) return;
    if (json) {
      PrintJson(r, prefix + folder);
      return;
    }
    const std::string indent((depth + extra) * 2, ' ');
    const std::string name = TerminalSafe(r.Name());
    if (r.isDirectory)
      std::printf("%s%s/%s\n", indent.c_str(), name.c_str(), Marks(r).c_str());
    else
      std::printf("%s%s  %s  %s%s\n", indent.c_str(), name.c_str(),
                  FormatBytes(r.fileSize).c_str(), FileTimeToIso(r.writeTime).c_str(),
                  Marks(r).c_str());
  });
}

int ListCategories(const session::ScanVolume& volume, const std::string& prefix,
                   const std::vector<std::string>& wanted, const ListOptions& options) {
  IFileRecoveryParse& engine = *volume.engine;
  std::vector<FoundFileRecord> records;
  const int rc = engine.ListByCategory(CategoryFilterText(wanted), records);
  if (ListingFailed(rc)) {
    std::fprintf(stderr, "quillmark-cli: %s\n",
                 TerminalSafe(ListingErrorText(volume, rc)).c_str());
    return rc == err::kCancelled ? kExitCancelled : kExitError;
  }
  // An extension may be listed in two categories ("rm" is audio and video):
  // keep exactly the asked categories.
  std::erase_if(records, [&](const FoundFileRecord& r) {
    return Hidden(r, options.scan.includeDamaged) ||
           std::find(wanted.begin(), wanted.end(), CategoryOfName(r.Name())) == wanted.end();
  });
  for (const auto& [extension, group] : GroupByExtension(records)) {
    if (!options.json)
      std::printf("%s%s (%zu)\n", TerminalSafe(prefix).c_str(), TerminalSafe(extension).c_str(),
                  group.size());
    for (const auto& r : group) {
      std::string folder;
      engine.GetFullPath(r, folder);
      if (options.json) {
        PrintJson(r, prefix + folder);
        continue;
      }
      std::printf("  %s  %s  %s%s\n", TerminalSafe(prefix + folder + r.Name()).c_str(),
                  FormatBytes(r.fileSize).c_str(), FileTimeToIso(r.writeTime).c_str(),
                  Marks(r).c_str());
    }
  }
  return kExitOk;
}

int RunList(const ListOptions& options, Services& services) {
  std::vector<std::string> wanted;
  std::string message;
  if (!ParseCategories(options.categories, wanted, message)) {
    std::fprintf(stderr, "quillmark-cli: %s\n", message.c_str());
    return kExitUsage;
  }
  ScanSession session(services);
  if (int rc = session.Open(options.scan); rc != kExitOk) return rc;
  for (session::ScanVolume& volume : session.volumes()) {
    const std::string prefix = ScanSession::VolumeFolder(volume);
    if (!options.categories.empty()) {
      if (int rc = ListCategories(volume, prefix, wanted, options); rc != kExitOk) return rc;
      continue;
    }
    if (int rc = ListTree(*volume.engine, prefix, options.json, options.scan.includeDamaged);
        rc != 0) {
      std::fprintf(stderr, "quillmark-cli: %s\n",
                   TerminalSafe(ListingErrorText(volume, rc)).c_str());
      return rc == err::kCancelled ? kExitCancelled : kExitError;
    }
  }
  return kExitOk;
}

RegisterCommand reg{"list", [](CLI::App& app) {
                      auto* sub = app.add_subcommand("list", "List what a scan finds");
                      auto o = std::make_shared<ListOptions>();
                      sub->add_option("SOURCE", o->scan.source,
                                      "image file, block device (/dev/sdb, /dev/sdb1), disk:N or IMAGE@N")
                          ->required();
                      AddDeepOptions(*sub, o->scan);
                      auto* tree = sub->add_flag("--tree", o->tree, "as the folder tree (default)");
                      sub->add_option("--category", o->categories,
                                      "photo,audio,video,document,archive,others: grouped by extension")
                          ->excludes(tree);
                      sub->add_option("--log", o->scan.logFolder,
                                      "re-open a kept scan instead of scanning: its number (see "
                                      "'logs'), 'last', or its folder");
                      sub->add_flag("--include-damaged", o->scan.includeDamaged,
                                    "also list files whose content was overwritten");
                      sub->add_flag("--json", o->json, "one JSON object per record");
                      sub->add_flag("--quiet,-q", o->scan.quiet, "no progress bar");
                      return CommandRun([o](Services& services) { return RunList(*o, services); });
                    }};

}  // namespace
}  // namespace qm::cli
