// quillmark-cli image SOURCE --out FILE.img: copy a disk, a partition or a
// range of sectors into a raw image file.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/command_registry.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/scan_target.h"
#include "disk/drive_copier.h"
#include "platform/errors.h"

namespace qm::cli {
namespace {

struct ImageOptions {
  std::string source;
  std::string out;
  uint64_t start = 0;
  uint64_t count = 0;
  bool force = false;
  bool quiet = false;
};

struct CopyContext {
  ProgressLine* line;
  uint32_t sectorSize;
};

int OnCopyProgress(void* user, int percent, uint64_t done, uint64_t total, int64_t secondsLeft) {
  auto* context = static_cast<CopyContext*>(user);
  if (Interrupted()) return err::kCancelled;
  context->line->Update(percent, secondsLeft,
                        std::to_string(done) + "/" + std::to_string(total) + " sectors");
  return 0;
}

std::string SectorsText(uint64_t sectors, uint32_t sectorSize) {
  return std::to_string(sectors) + (sectors == 1 ? " sector" : " sectors") + " of " +
         std::to_string(sectorSize) + " bytes (" + FormatBytes(sectors * sectorSize) + ")";
}

void ReportRangeBeyondEnd(const ImageOptions& options, uint64_t sectors, uint32_t sectorSize) {
  std::string range = "--start " + std::to_string(options.start);
  if (options.count != 0) range += " --count " + std::to_string(options.count);
  std::fprintf(stderr,
               "quillmark-cli: the range asked for (%s) reaches past the end of %s, which holds "
               "%s. Choose a range inside it.\n",
               range.c_str(), options.source.c_str(), SectorsText(sectors, sectorSize).c_str());
}

// Sector numbers are whole numbers from 0; "-5" must not wrap around to a
// huge number.
const CLI::Validator kSectorNumber(
    [](std::string& text) -> std::string {
      if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return "'" + text + "' is not a sector number (a whole number, 0 or more)";
      return {};
    },
    "SECTORS");

// Sector numbers are given from the start of SOURCE, as --start takes them.
void ReportUnreadable(const DriveCopyJob& job, uint64_t sourceStart, const std::string& source) {
  uint64_t total = 0;
  for (const SectorRange& r : job.unreadable) total += r.count;
  std::fprintf(stderr,
               "quillmark-cli: %s of %s could not be read and %s written as zeros; the image is "
               "complete otherwise. Unreadable:\n",
               SectorsText(total, job.sectorSize).c_str(), source.c_str(),
               total == 1 ? "is" : "are");
  // A disk failing all over could give millions of ranges.
  constexpr size_t kListed = 100;
  for (size_t i = 0; i < job.unreadable.size() && i < kListed; ++i) {
    const SectorRange r{job.unreadable[i].first - sourceStart, job.unreadable[i].count};
    if (r.count == 1)
      std::fprintf(stderr, "  sector %llu\n", static_cast<unsigned long long>(r.first));
    else
      std::fprintf(stderr, "  sectors %llu-%llu\n", static_cast<unsigned long long>(r.first),
                   static_cast<unsigned long long>(r.first + r.count - 1));
  }
  if (job.unreadable.size() > kListed)
    std::fprintf(stderr, "  and %zu more ranges\n", job.unreadable.size() - kListed);
}

int RunImage(const ImageOptions& options, Services& services) {
  ScanTarget target;
  std::string message;
  if (session::ParseSource(options.source, services.disks, target, message) != 0) {
    std::fprintf(stderr, "quillmark-cli: %s\n", message.c_str());
    return kExitError;
  }
  std::error_code ec;
  const auto outParent = std::filesystem::absolute(options.out, ec).parent_path();
  if (!std::filesystem::is_directory(outParent, ec)) {
    std::fprintf(stderr, "quillmark-cli: %s: No such file or directory. Create the folder first.\n",
                 outParent.c_str());
    return kExitError;
  }
  // Copying a source onto itself would destroy what is being rescued.
  for (const std::string& source : {target.path, target.devicePath}) {
    if (!source.empty() && std::filesystem::equivalent(options.out, source, ec)) {
      std::fprintf(stderr,
                   "quillmark-cli: %s is the source itself; write the image to another file, "
                   "preferably on another disk.\n",
                   options.out.c_str());
      return kExitError;
    }
  }
  // --start and --count are relative to the partition when SOURCE is one.
  const uint64_t start = target.startSector + options.start;
  uint64_t count = options.count;
  if (target.sectorCount != 0 && (options.start >= target.sectorCount ||
                                  count > target.sectorCount - options.start)) {
    ReportRangeBeyondEnd(options, target.sectorCount, target.sectorSize);
    return kExitError;
  }
  if (count == 0 && target.sectorCount != 0) count = target.sectorCount - options.start;

  ProgressLine line(options.quiet);
  CopyContext context{&line, target.sectorSize};
  DriveCopyJob job;
  job.progress = OnCopyProgress;
  job.replaceExisting = options.force;
  const int rc = target.kind == ScanTarget::Kind::kImage
                     ? CopySourceToFile(job, target.path, start, count, options.out, &context)
                     : CopyDriveToFile(job, services.disks, target.driveIndex, start, count,
                                       options.out, &context);
  line.Finish();
  if (rc == err::kCancelled) {
    std::fprintf(stderr, "quillmark-cli: cancelled; %s is incomplete\n", options.out.c_str());
    return kExitCancelled;
  }
  if (rc == err::kAlreadyExists) {
    std::fprintf(stderr,
                 "quillmark-cli: %s already exists and was left alone. Choose another file name, "
                 "or pass --force to overwrite it.\n",
                 options.out.c_str());
    return kExitError;
  }
  if (rc == err::kInvalidParameter && job.sourceBytes != 0 &&
      (start >= job.sourceBytes / job.sectorSize ||
       job.sectorCount > job.sourceBytes / job.sectorSize - start)) {
    ReportRangeBeyondEnd(options, job.sourceBytes / job.sectorSize, job.sectorSize);
    return kExitError;
  }
  if (rc == err::kReadFault && !job.unreadable.empty()) {
    std::printf("Copied %s to %s\n", SectorsText(job.sectorCount, job.sectorSize).c_str(),
                options.out.c_str());
    ReportUnreadable(job, target.startSector, options.source);
    return kExitError;
  }
  if (rc != 0) {
    std::fprintf(stderr, "quillmark-cli: copying %s failed: %s\n", options.source.c_str(),
                 ErrorText(rc).c_str());
    return kExitError;
  }
  std::printf("Copied %s to %s\n", SectorsText(job.sectorCount, job.sectorSize).c_str(),
              options.out.c_str());
  return kExitOk;
}

RegisterCommand reg{"image", [](CLI::App& app) {
                      auto* sub = app.add_subcommand(
                          "image", "Copy a disk, partition or image sector by sector into an image file");
                      auto options = std::make_shared<ImageOptions>();
                      sub->add_option("SOURCE", options->source,
                                      "image file, block device (/dev/sdb, /dev/sdb1) or disk:N")
                          ->required();
                      sub->add_option("--out,-o", options->out, "image file to write")->required();
                      sub->add_option("--start", options->start,
                                      "first sector to copy (relative to the partition)")
                          ->check(kSectorNumber);
                      sub->add_option("--count", options->count, "sectors to copy (0: to the end)")
                          ->check(kSectorNumber);
                      sub->add_flag("--force", options->force,
                                    "overwrite the image file when it already exists");
                      sub->add_flag("--quiet,-q", options->quiet, "no progress line");
                      return CommandRun(
                          [options](Services& services) { return RunImage(*options, services); });
                    }};

}  // namespace
}  // namespace qm::cli
