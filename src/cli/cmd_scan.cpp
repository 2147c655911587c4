// quillmark-cli scan SOURCE: scan, keep the log, print a summary.
#include <cstdio>
#include <map>
#include <memory>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "cli/scan_session.h"
#include "results/categories.h"

namespace qm::cli {
namespace {

struct ScanCommandOptions {
  ScanOptions scan;
  bool json = false;
};

int RunScan(const ScanCommandOptions& options) {
  ScanSession session;
  if (int rc = session.Open(options.scan); rc != kExitOk) return rc;
  IFileRecoveryParse& engine = session.engine();

  std::map<std::string, uint64_t> perCategory;
  for (const char* name : kCategoryNames) perCategory[name] = 0;
  uint64_t files = 0, folders = 0, damaged = 0, bytes = 0;
  WalkTree(engine, [&](const FoundFileRecord& r, uint32_t, const std::string&) {
    if (r.isDirectory) {
      ++folders;
      return;
    }
    ++files;
    bytes += r.fileSize;
    ++perCategory[CategoryOfName(r.Name())];
    if (r.contentOk == 0) ++damaged;
  });
  // Damaged photos are never listed; they are what the log holds beyond the tree.
  const uint64_t total = engine.RecordCount();
  const uint64_t hidden = total > files + folders ? total - files - folders : 0;

  if (options.json) {
    std::printf("{\"source\":\"%s\",\"scanFolder\":\"%s\",\"records\":%llu,\"files\":%llu,"
                "\"folders\":%llu,\"bytes\":%llu,\"damaged\":%llu,\"hidden\":%llu,\"categories\":{",
                JsonEscape(options.scan.source).c_str(),
                JsonEscape(session.scanFolder().string()).c_str(),
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(files),
                static_cast<unsigned long long>(folders), static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(damaged), static_cast<unsigned long long>(hidden));
    bool first = true;
    for (const char* name : kCategoryNames) {
      std::printf("%s\"%s\":%llu", first ? "" : ",", name,
                  static_cast<unsigned long long>(perCategory[name]));
      first = false;
    }
    std::printf("}}\n");
    return kExitOk;
  }
  std::printf("Scan log folder: %s\n", session.scanFolder().c_str());
  std::printf("Found %llu files (%s) in %llu folders\n", static_cast<unsigned long long>(files),
              FormatBytes(bytes).c_str(), static_cast<unsigned long long>(folders));
  for (const char* name : kCategoryNames)
    std::printf("  %-9s %llu\n", name, static_cast<unsigned long long>(perCategory[name]));
  std::printf("Damaged (content overwritten): %llu listed, %llu photos not shown\n",
              static_cast<unsigned long long>(damaged), static_cast<unsigned long long>(hidden));
  return kExitOk;
}

RegisterCommand reg{"scan", [](CLI::App& app) {
                      auto* sub = app.add_subcommand("scan", "Scan a disk, partition or image for deleted files");
                      auto o = std::make_shared<ScanCommandOptions>();
                      sub->add_option("SOURCE", o->scan.source,
                                      "image file, block device (/dev/sdb1) or disk:N")
                          ->required();
                      sub->add_flag("--deep", o->scan.deep, "deep scan (formatted or damaged volumes)");
                      sub->add_flag("--json", o->json, "print the summary as JSON");
                      sub->add_flag("--quiet,-q", o->scan.quiet, "no progress bar");
                      return std::function<int()>([o] { return RunScan(*o); });
                    }};

}  // namespace
}  // namespace qm::cli
