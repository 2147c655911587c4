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

int RunImage(const ImageOptions& options) {
  ScanTarget target;
  std::string message;
  if (ParseSource(options.source, target, message) != 0) {
    std::fprintf(stderr, "quillmark-cli: %s\n", message.c_str());
    return kExitError;
  }
  std::error_code ec;
  const auto outParent = std::filesystem::absolute(options.out, ec).parent_path();
  if (!std::filesystem::is_directory(outParent, ec)) {
    std::fprintf(stderr, "quillmark-cli: the folder %s does not exist\n", outParent.c_str());
    return kExitError;
  }
  // --start and --count are relative to the partition when SOURCE is one.
  const uint64_t start = target.startSector + options.start;
  uint64_t count = options.count;
  if (count == 0 && target.sectorCount != 0) {
    if (options.start >= target.sectorCount) {
      std::fprintf(stderr, "quillmark-cli: --start lies beyond the end of %s\n",
                   options.source.c_str());
      return kExitError;
    }
    count = target.sectorCount - options.start;
  }
  if (target.sectorCount != 0 && (options.start > target.sectorCount ||
                                count > target.sectorCount - options.start)) {
    std::fprintf(stderr, "quillmark-cli: the range lies beyond the end of %s\n",
                 options.source.c_str());
    return kExitError;
  }

  ProgressLine line(options.quiet);
  CopyContext context{&line, target.sectorSize};
  DriveCopyJob job;
  job.progress = OnCopyProgress;
  const int rc = target.kind == ScanTarget::Kind::kImage
                     ? CopySourceToFile(job, target.path, start, count, options.out, &context)
                     : CopyDriveToFile(job, target.driveIndex, start, count, options.out, &context);
  line.Finish();
  if (rc == err::kCancelled) {
    std::fprintf(stderr, "quillmark-cli: cancelled; %s is incomplete\n", options.out.c_str());
    return kExitCancelled;
  }
  if (rc != 0) {
    std::fprintf(stderr, "quillmark-cli: copying %s failed: %s\n", options.source.c_str(),
                 ErrorText(rc).c_str());
    return kExitError;
  }
  const uint64_t bytes = job.sectorCount * job.sectorSize;
  std::printf("Copied %llu sectors of %u bytes (%s) to %s\n",
              static_cast<unsigned long long>(job.sectorCount), job.sectorSize,
              FormatBytes(bytes).c_str(), options.out.c_str());
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
                                      "first sector to copy (relative to the partition)");
                      sub->add_option("--count", options->count, "sectors to copy (0: to the end)");
                      sub->add_flag("--quiet,-q", options->quiet, "no progress line");
                      return std::function<int()>([options] { return RunImage(*options); });
                    }};

}  // namespace
}  // namespace qm::cli
