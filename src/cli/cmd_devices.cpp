// quillmark-cli devices [--json]: the disks of the disk table with the
// volumes, unallocated gaps and empty disks that can be scanned.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "cli/scan_session.h"
#include "disk/volumes/volume_enumerator.h"
#include "platform/errors.h"

namespace qm::cli {
namespace {

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

const char* KindName(VolumeRecord::Kind kind) {
  switch (kind) {
    case VolumeRecord::Kind::kGap: return "unallocated";
    case VolumeRecord::Kind::kEmptyDisk: return "empty-disk";
    case VolumeRecord::Kind::kUnreadableDisk: return "unreadable";
    case VolumeRecord::Kind::kVolume: break;
  }
  return "volume";
}

// A byte count, or null where nothing reported it.
std::string KnownBytes(bool known, uint64_t bytes) { return known ? std::to_string(bytes) : "null"; }

void PrintText(const VolumeEnumerator& e) {
  if (e.disks().empty()) std::printf("No disks found.\n");
  for (const auto& [number, disk] : e.disks()) {
    std::printf("Disk %d: %s", number, disk.path.c_str());
    if (!disk.model.empty()) std::printf("  \"%s\"", disk.model.c_str());
    if (disk.sectors > 0)
      std::printf("  %s (%llu sectors of %u bytes)", FormatBytes(disk.sectors * disk.sectorSize).c_str(),
                  U(disk.sectors), disk.sectorSize);
    else if (disk.openError == 0)
      std::printf("  no medium");
    std::printf("  %s\n", disk.isImage ? "image" : disk.removable ? "removable" : "fixed");
    if (disk.openError != 0) {
      const std::string hint = DiskOpenHint(disk.openError);
      std::printf("  cannot be read: %s%s%s\n", ErrorText(disk.openError).c_str(),
                  hint.empty() ? "" : "; ", hint.c_str());
    }
    if (!disk.tableProblem.empty())
      std::printf("  partition table not used: %s\n", disk.tableProblem.c_str());
    const auto it = e.volumes().find(number);
    if (it == e.volumes().end()) continue;
    for (const VolumeRecord& r : it->second) {
      std::printf("  #%-3u %-22s start %-12llu sectors %-12llu", r.letter,
                  r.kind == VolumeRecord::Kind::kVolume ? r.devicePath.c_str() : KindName(r.kind),
                  U(r.startSector), U(r.sectorCount));
      if (r.kind == VolumeRecord::Kind::kVolume) {
        std::printf(" %-6s", r.fileSystemName.empty() ? "-" : r.fileSystemName.c_str());
        if (!r.label.empty()) std::printf(" \"%s\"", r.label.c_str());
        std::printf(" %s", r.mountPoint.empty() ? "(not mounted)" : r.mountPoint.c_str());
      }
      if (r.usageKnown)
        std::printf("  total %s  used %s  free %s\n", FormatBytes(r.totalBytes).c_str(),
                    FormatBytes(r.usedBytes).c_str(), FormatBytes(r.freeBytes).c_str());
      else
        std::printf("  total %s\n", FormatBytes(r.totalBytes).c_str());
    }
  }
}

void PrintJson(const VolumeEnumerator& e) {
  std::printf("{\"disks\":[");
  bool firstDisk = true;
  for (const auto& [number, disk] : e.disks()) {
    std::printf("%s\n{\"number\":%d,\"path\":\"%s\",\"model\":\"%s\",\"sectorSize\":%u,"
                "\"sectors\":%llu,\"sizeBytes\":%llu,\"removable\":%s,\"image\":%s,"
                "\"tableProblem\":\"%s\",\"readError\":\"%s\",\"volumes\":[",
                firstDisk ? "" : ",", number, JsonEscape(disk.path).c_str(),
                JsonEscape(disk.model).c_str(), disk.sectorSize, U(disk.sectors),
                U(disk.sectors * disk.sectorSize), disk.removable ? "true" : "false",
                disk.isImage ? "true" : "false", JsonEscape(disk.tableProblem).c_str(),
                disk.openError ? JsonEscape(ErrorText(disk.openError)).c_str() : "");
    firstDisk = false;
    bool firstVolume = true;
    if (const auto it = e.volumes().find(number); it != e.volumes().end()) {
      for (const VolumeRecord& r : it->second) {
        std::printf("%s\n {\"tag\":%u,\"kind\":\"%s\",\"device\":\"%s\",\"partition\":%d,"
                    "\"typeCode\":%u,\"startSector\":%llu,\"sectorCount\":%llu,"
                    "\"fileSystem\":\"%s\",\"label\":\"%s\",\"uuid\":\"%s\",\"mountPoint\":\"%s\","
                    "\"totalBytes\":%llu,\"usedBytes\":%s,\"freeBytes\":%s}",
                    firstVolume ? "" : ",", r.letter, KindName(r.kind),
                    JsonEscape(r.devicePath).c_str(), r.partitionNumber, r.typeCode,
                    U(r.startSector), U(r.sectorCount), JsonEscape(r.fileSystemName).c_str(),
                    JsonEscape(r.label).c_str(), JsonEscape(r.uuid).c_str(),
                    JsonEscape(r.mountPoint).c_str(), U(r.totalBytes),
                    KnownBytes(r.usageKnown, r.usedBytes).c_str(),
                    KnownBytes(r.usageKnown, r.freeBytes).c_str());
        firstVolume = false;
      }
    }
    std::printf("]}");
  }
  std::printf("\n]}\n");
}

struct Options {
  bool json = false;
};

static RegisterCommand reg{"devices", [](CLI::App& app) {
  auto options = std::make_shared<Options>();
  auto* sub = app.add_subcommand(
      "devices", "List disks with their volumes, unallocated gaps and empty disks");
  sub->add_flag("--json", options->json, "print one JSON document");
  return CommandRun([options](Services& services) {
    VolumeEnumerator enumerator(services.disks);
    if (enumerator.EnumerateVolumes() == 0) {
      std::fprintf(stderr, "quillmark-cli: cannot read the mount table (/proc/self/mountinfo)\n");
      return kExitError;
    }
    if (options->json)
      PrintJson(enumerator);
    else
      PrintText(enumerator);
    return kExitOk;
  });
}};

}  // namespace
}  // namespace qm::cli
