// quillmark-cli probe SOURCE: which file system starts at the source, and how big it is.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "cli/command_registry.h"
#include "cli/progress_line.h"
#include "cli/scan_target.h"
#include "cli/terminal_text.h"
#include "disk/sector_source.h"
#include "engines/volume_classifier.h"
#include "platform/byte_order.h"
#include "platform/errors.h"

namespace qm::cli {
namespace {

int RunProbe(const std::string& sourceText, Services& services) {
  ScanTarget target;
  std::string message;
  if (session::ParseSource(sourceText, services.disks, target, message) != 0) {
    std::fprintf(stderr, "quillmark-cli: %s\n", message.c_str());
    return kExitError;
  }
  SectorSource source;
  int rc = target.kind == ScanTarget::Kind::kImage
               ? source.OpenImageSource(target.path)
               : source.OpenPhysicalDriveSource(services.disks, target.driveIndex);
  if (rc != 0) {
    const std::string hint = target.kind == ScanTarget::Kind::kImage ? "" : DiskOpenHint(rc);
    std::fprintf(stderr, "quillmark-cli: cannot open %s: %s%s%s\n", target.path.c_str(),
                 ErrorText(rc).c_str(), hint.empty() ? "" : "; ", hint.c_str());
    return kExitError;
  }
  const uint32_t sectorSize = target.kind == ScanTarget::Kind::kImage ? 512 : target.sectorSize;
  uint64_t sectors = target.sectorCount;
  if (sectors == 0) sectors = source.totalSectors() - std::min(source.totalSectors(), target.startSector);

  std::vector<uint8_t> head(kClassifyBytes, 0);
  const uint64_t want = std::min<uint64_t>(kClassifyBytes / sectorSize, sectors);
  uint32_t got = 0;
  rc = source.ReadSectors(static_cast<uint32_t>(want), head.data(), target.startSector, sectorSize,
                          &got);
  if (got == 0) {
    std::fprintf(stderr, "quillmark-cli: cannot read the start of %s: %s\n", sourceText.c_str(),
                 ErrorText(rc ? rc : err::kReadFault).c_str());
    return kExitError;
  }
  const VolumeKind kind = ClassifyVolume(head.data(), uint64_t{got} * sectorSize);
  const uint64_t bytes = sectors * sectorSize;
  std::printf("Source: %s\n", sourceText.c_str());
  if (target.kind == ScanTarget::Kind::kDisk)
    std::printf("Disk: %s (drive %d), start sector %llu\n", target.path.c_str(), target.driveIndex,
                static_cast<unsigned long long>(target.startSector));
  std::printf("File system: %s\n", VolumeKindName(kind));
  if (kind == VolumeKind::kUnknown && IsBitLockerVolume(head.data(), uint64_t{got} * sectorSize))
    std::printf("Note: the volume is BitLocker-encrypted; only a deep scan can look at it.\n");
  // FAT allows logical sectors of up to 32 KiB; the quick scan reads up to 4 KiB.
  const bool fat = kind == VolumeKind::kFat12_16 || kind == VolumeKind::kFat32;
  if (const uint16_t fatSector = Le16(head.data() + 11); fat && fatSector > 4096)
    std::printf("Note: the volume uses sectors of %u bytes; a quick scan reads FAT volumes with "
                "sectors of up to 4096 bytes.\n",
                fatSector);
  // An image file need not be a whole number of sectors: its exact length is
  // what the user compares with the original.
  std::error_code error;
  const uint64_t fileBytes = target.kind == ScanTarget::Kind::kImage
                                 ? std::filesystem::file_size(target.path, error)
                                 : bytes;
  const uint64_t exact = error ? bytes : fileBytes;
  std::printf("Size: %llu bytes (%s), %s of %u bytes", static_cast<unsigned long long>(exact),
              FormatBytes(exact).c_str(), CountOf(sectors, "sector", "sectors").c_str(),
              sectorSize);
  if (exact > bytes)
    std::printf(" and %llu bytes more (not a whole sector)",
                static_cast<unsigned long long>(exact - bytes));
  std::printf("\n");
  return kExitOk;
}

RegisterCommand reg{"probe", [](CLI::App& app) {
                      auto* sub = app.add_subcommand(
                          "probe", "Show the file system at the start of a disk, partition or image");
                      auto source = std::make_shared<std::string>();
                      sub->add_option("SOURCE", *source,
                                      "image file, block device (/dev/sdb, /dev/sdb1) or disk:N")
                          ->required();
                      return CommandRun(
                          [source](Services& services) { return RunProbe(*source, services); });
                    }};

}  // namespace
}  // namespace qm::cli
