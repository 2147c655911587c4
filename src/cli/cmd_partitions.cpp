// quillmark-cli partitions IMAGE: the partition table inside an image file.
// Each partition N can then be scanned as IMAGE@N.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "disk/partitions/partition_table.h"
#include "disk/sector_source.h"
#include "disk/volumes/file_system_probe.h"
#include "engines/volume_classifier.h"
#include "platform/errors.h"

namespace qm::cli {
namespace {

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

int RunPartitions(const std::string& image) {
  SectorSource source;
  if (int rc = source.OpenImageSource(image); rc != 0) {
    // Worded as the other commands word a folder given as the source.
    if (rc == err::kDirectory || std::filesystem::is_directory(image))
      std::fprintf(stderr, "quillmark-cli: %s is a folder, not a disk or an image file\n", image.c_str());
    else
      std::fprintf(stderr, "quillmark-cli: cannot open %s: %s\n", image.c_str(), ErrorText(rc).c_str());
    return kExitError;
  }
  PartitionTable table;
  std::string reason;
  if (int rc = ReadPartitionTable(source, table, reason); rc != 0) {
    std::fprintf(stderr, "quillmark-cli: %s: the partition table is not usable: %s\n", image.c_str(),
                 reason.empty() ? ErrorText(rc).c_str() : reason.c_str());
    return kExitError;
  }
  if (table.scheme == PartitionScheme::kNone) {
    FileSystemInfo whole;
    if (ProbeFileSystem(source.handle().fd(), 0, source.totalSectors() * table.sectorSize, whole)) {
      std::printf("%s holds no partition table: it is one %s volume%s%s%s, scanned whole.\n",
                  image.c_str(), whole.name.c_str(), whole.label.empty() ? "" : " (\"",
                  whole.label.c_str(), whole.label.empty() ? "" : "\")");
      return kExitOk;
    }
    // The start of a volume whose rest is missing (a fragment, a copy cut
    // short): named as probe names it, and said to be incomplete.
    std::vector<uint8_t> head(kClassifyBytes, 0);
    uint32_t got = 0;
    const uint64_t want = std::min<uint64_t>(kClassifyBytes / 512, std::max<uint64_t>(source.totalSectors(), 1));
    source.ReadSectors(static_cast<uint32_t>(want), head.data(), 0, 512, &got);
    if (const VolumeKind kind = ClassifyVolume(head.data(), uint64_t{got} * 512); got != 0 && kind != VolumeKind::kUnknown) {
      std::printf("%s holds no partition table: it begins as one %s volume, but the image ends "
                  "before the volume does, so its file system cannot be read whole.\n"
                  "A deep scan can still search what it holds for files by their content.\n",
                  image.c_str(), VolumeKindName(kind));
      return kExitOk;
    }
    std::printf("%s holds no partition table and no file system that could be recognised.\n"
                "A deep scan can still search it for files by their content.\n",
                image.c_str());
    return kExitError;
  }
  std::printf("%s: %s partition table, %llu sectors of %u bytes\n", image.c_str(),
              SchemeName(table.scheme), U(table.diskSectors), table.sectorSize);
  if (!table.note.empty()) std::printf("Note: %s\n", table.note.c_str());
  int unusable = 0;
  std::printf("%-4s %-12s %-12s %-12s %-10s %-8s %s\n", "#", "start", "sectors", "size", "type",
              "fs", "label / name");
  for (const PartitionEntry& e : table.entries) {
    FileSystemInfo fs;
    if (e.usable())
      ProbeFileSystem(source.handle().fd(), e.startSector * table.sectorSize,
                      e.sectorCount * table.sectorSize, fs);
    char type[48];
    if (table.scheme == PartitionScheme::kMbr)
      std::snprintf(type, sizeof type, "0x%02X%s", e.typeByte, e.logical ? " (logical)" : "");
    else
      std::snprintf(type, sizeof type, "%s", e.typeGuid.c_str());
    std::string names = fs.label;
    if (!e.name.empty()) names += (names.empty() ? "" : " / ") + e.name;
    std::printf("%-4d %-12llu %-12llu %-12s %-10s %-8s %s\n", e.number, U(e.startSector),
                U(e.sectorCount), FormatBytes(e.sectorCount * table.sectorSize).c_str(), type,
                fs.name.empty() ? "-" : fs.name.c_str(), names.c_str());
    if (!e.usable()) {
      ++unusable;
      std::printf("     cannot be used: %s\n", e.problem.c_str());
    }
  }
  if (unusable > 0 && static_cast<size_t>(unusable) == table.entries.size())
    std::printf("None of the partitions can be used (see above); a deep scan can still search "
                "the whole image for files by their content.\n");
  else if (unusable > 0)
    std::printf("%d of %zu partitions cannot be used (see above); the others can be scanned as "
                "%s@N.\n",
                unusable, table.entries.size(), image.c_str());
  return kExitOk;
}

static RegisterCommand reg{"partitions", [](CLI::App& app) {
  auto image = std::make_shared<std::string>();
  auto* sub = app.add_subcommand(
      "partitions", "List the partitions inside an image of a whole disk (scan one as IMAGE@N)");
  sub->add_option("IMAGE", *image, "image file of a whole disk")->required();
  return CommandRun([image](Services&) { return RunPartitions(*image); });
}};

}  // namespace
}  // namespace qm::cli
