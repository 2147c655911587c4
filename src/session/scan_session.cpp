#include "session/scan_session.h"

#include <sys/stat.h>

#include "disk/partitions/image_partition.h"
#include "disk/partitions/partition_table.h"
#include "disk/sector_source.h"
#include "engines/engine_factory.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "platform/errors.h"
#include "platform/filetime.h"
#include "platform/sysfs_text.h"
#include "session/scan_folders.h"

namespace qm::session {

namespace fs = std::filesystem;

namespace {

std::string EngineName(const IFileRecoveryParse& engine) {
  if (dynamic_cast<const CFastFatRecovery*>(&engine)) return "FAT";
  if (dynamic_cast<const CFastNtfsRecovery*>(&engine)) return "NTFS";
  return "other";
}

// What sysfs says about the disk behind a device node: a disk swapped for
// another of the same size under the same name is then told apart.
std::string DeviceIdentity(const fs::path& device) {
  const fs::path sys = fs::path("/sys/class/block") / device.filename();
  std::string id;
  for (const char* file : {"wwid", "device/serial", "device/model", "loop/backing_file"}) {
    const std::string value = ReadFirstLine(sys / file);
    if (!value.empty()) id += (id.empty() ? "" : "|") + value;
  }
  return id;
}

std::string NoEngineText(const std::string& what, int error, bool deep) {
  if (deep)
    return "deep scans (formatted or damaged volumes, signature carving) are not available in "
           "this version; try a quick scan without --deep";
  if (error == err::kInvalidParameter)
    return what + " holds no FAT or NTFS file system that a quick scan can read (check with "
                  "'quillmark-cli probe' and 'quillmark-cli partitions')";
  if (error == err::kReadFault) return what + " could not be read: " + ErrorText(error);
  if (error == err::kAccessDenied) return CannotOpenText(what, error);
  return what + " cannot be opened as a volume: " + ErrorText(error);
}

}  // namespace

EngineContext ScanSession::Context(const fs::path& folder) const {
  EngineContext context;
  context.scanFolder = folder;
  context.diskTable = &disks_;
  context.history = &history_;
  return context;
}

ScanInfo ScanSession::IdentityOf(int partitionNumber, uint64_t start, uint64_t count,
                                 const IFileRecoveryParse& engine) const {
  ScanInfo info;
  info.source = source_.text;
  std::error_code ec;
  const fs::path canonical = fs::canonical(source_.path, ec);
  info.path = ec ? fs::absolute(source_.path, ec).string() : canonical.string();
  info.kind = partitionNumber > 0 ? "partition " + std::to_string(partitionNumber)
              : source_.kind == ScanSource::Kind::kImage ? "image"
              : source_.wholeDisk                        ? "disk"
                                                         : "partition";
  info.engine = EngineName(engine);
  info.startSector = start;
  info.sectorCount = count;
  struct stat st {};
  if (::stat(source_.path.c_str(), &st) == 0) {
    if (S_ISREG(st.st_mode)) {
      info.sourceBytes = static_cast<uint64_t>(st.st_size);
      info.imageTime = TimespecToFileTime(st.st_mtim);
    } else {
      FileHandle device;
      DiskInfo disk;
      if (device.OpenReadOnly(source_.path) == 0 && QueryDiskInfo(device, disk) == 0)
        info.sourceBytes = disk.lengthBytes;
      info.deviceId = DeviceIdentity(info.path);
    }
  }
  return info;
}

int ScanSession::Open(const std::string& text, bool deep, std::string& message) {
  volumes_.clear();
  notes_.clear();
  if (int rc = ParseSource(text, disks_, source_, message); rc != 0) return rc;
  int error = 0;
  const EngineContext context = Context({});
  auto engine = source_.kind == ScanSource::Kind::kImage
                    ? EngineFactory::CreateEngineForImage(source_.path, kSourceTag, deep, &error,
                                                          context)
                    : EngineFactory::CreateEngineForPartition(source_.driveIndex,
                                                              source_.startSector,
                                                              source_.sectorCount, kSourceTag,
                                                              deep, &error, context);
  if (engine) {
    ScanVolume volume;
    volume.info = IdentityOf(0, source_.startSector, source_.sectorCount, *engine);
    volume.engine = std::move(engine);
    volumes_.push_back(std::move(volume));
    return err::kSuccess;
  }
  // A whole disk seldom holds a file system itself: its partitions do.
  if (source_.wholeDisk && error == err::kInvalidParameter && !deep)
    return OpenPartitions(deep, error, message);
  message = NoEngineText(text, error, deep);
  return error != 0 ? error : err::kInvalidParameter;
}

int ScanSession::OpenPartitions(bool deep, int firstError, std::string& message) {
  PartitionTable table;
  std::string reason;
  int driveIndex = source_.driveIndex;
  int rc;
  if (source_.kind == ScanSource::Kind::kImage) {
    rc = ReadImagePartitionTable(source_.path, table, reason);
    if (rc == 0 && table.scheme != PartitionScheme::kNone)
      rc = AddPartitionedImage(disks_, source_.path, driveIndex, &reason);
  } else {
    SectorSource disk;
    rc = disk.OpenPhysicalDriveSource(disks_, driveIndex);
    if (rc == 0) rc = ReadPartitionTable(disk, table, reason);
  }
  if (rc != 0 || table.scheme == PartitionScheme::kNone || table.entries.empty()) {
    message = NoEngineText(source_.text, firstError, deep);
    if (!reason.empty()) message += "; its partition table cannot be used: " + reason;
    return firstError;
  }
  for (const PartitionEntry& entry : table.entries) {
    if (!entry.usable()) {
      notes_.push_back("partition " + std::to_string(entry.number) + " is skipped: " +
                       entry.problem);
      continue;
    }
    int error = 0;
    auto engine = EngineFactory::CreateEngineForPartition(driveIndex, entry.startSector,
                                                          entry.sectorCount, kSourceTag, deep,
                                                          &error, Context({}));
    if (!engine) {
      notes_.push_back(NoEngineText("partition " + std::to_string(entry.number), error, deep));
      continue;
    }
    ScanVolume volume;
    volume.partitionNumber = entry.number;
    volume.info = IdentityOf(entry.number, entry.startSector, entry.sectorCount, *engine);
    volume.engine = std::move(engine);
    volumes_.push_back(std::move(volume));
  }
  if (volumes_.empty()) {
    message = source_.text + " holds a partition table, but none of its partitions holds a FAT "
                             "or NTFS file system that a quick scan can read";
    return err::kInvalidParameter;
  }
  return err::kSuccess;
}

int ScanSession::Scan(size_t index, ScanProgressFn progress, void* user, std::string& message) {
  if (index >= volumes_.size()) return err::kInvalidParameter;
  ScanVolume& volume = volumes_[index];
  volume.scanFolder = history_.StartNewScanFolder();
  volume.info.started = LocalTimeText();
  volume.info.finished = false;
  volume.info.filesFound = 0;
  if (int rc = WriteScanInfo(volume.scanFolder, volume.info); rc != 0) {
    message = "cannot write into the scan folder " + volume.scanFolder.string() + ": " +
              ErrorText(rc);
    history_.ReleaseScanFolder();
    return rc;
  }
  IFileRecoveryParse& engine = *volume.engine;
  engine.SetContext(Context(volume.scanFolder));
  engine.SetCallbacks(progress, nullptr, user, 100);
  const int rc = engine.Scan(nullptr);
  engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  volume.warnings = engine.ScanWarnings();

  uint32_t files = 0;
  engine.CountFiles(nullptr, 0, &files);
  volume.info.filesFound = files;
  volume.info.finished = rc == 0;
  WriteScanInfo(volume.scanFolder, volume.info);
  if (rc != 0 && rc != err::kCancelled) {
    message = "the scan of " + source_.text +
              (volume.partitionNumber ? " (partition " + std::to_string(volume.partitionNumber) + ")"
                                      : std::string()) +
              " failed: " + ErrorText(rc);
    if (engine.RecordCount() == 0) history_.DeleteHistoryEntry(volume.scanFolder);
  }
  return rc;
}

int ScanSession::NewestScanOfSource(fs::path& folder, std::string& message) const {
  const auto scans = ListKeptScans(history_);
  for (auto scan = scans.rbegin(); scan != scans.rend(); ++scan) {
    if (!scan->hasInfo || FindLogIn(scan->folder).empty()) continue;
    std::string why;
    for (const ScanVolume& volume : volumes_) {
      if (scan->info.SameVolume(volume.info, why)) {
        folder = scan->folder;
        return err::kSuccess;
      }
    }
  }
  message = "there is no kept scan of " + source_.text + "; run 'quillmark-cli scan " +
            source_.text + "' first (see 'quillmark-cli logs')";
  return err::kFileNotFound;
}

int ScanSession::Reopen(const std::string& given, std::string& message) {
  fs::path folder;
  if (given == "last") {
    // The newest kept scan of this source, not of whatever was scanned last.
    if (int rc = NewestScanOfSource(folder, message); rc != 0) return rc;
  } else if (int rc = ResolveLogFolder(history_, given, folder, message); rc != 0) {
    return rc;
  }
  const fs::path log = FindLogIn(folder);
  if (log.empty()) {
    message = folder.string() + " holds no scan log";
    return err::kFileNotFound;
  }
  ScanInfo made;
  if (!ReadScanInfo(folder, made)) {
    message = "the scan log in " + folder.string() +
              " does not say which volume it was made for; scan the source again";
    return err::kInvalidData;
  }
  std::string why;
  auto match = volumes_.end();
  for (auto it = volumes_.begin(); it != volumes_.end(); ++it) {
    if (made.SameVolume(it->info, why)) {
      match = it;
      break;
    }
  }
  if (match == volumes_.end()) {
    message = "the scan log in " + folder.string() + " does not belong to " + source_.text +
              ": " + why + "; scan " + source_.text + " again instead";
    return err::kInvalidData;
  }
  ScanVolume volume = std::move(*match);
  volumes_.clear();
  volume.scanFolder = folder;
  volume.info = made;
  volume.engine->SetContext(Context(folder));
  if (int rc = volume.engine->Scan(log.c_str()); rc != 0) {
    message = "cannot open the scan log " + log.string() + ": " + ErrorText(rc);
    return rc;
  }
  volumes_.push_back(std::move(volume));
  return err::kSuccess;
}

}  // namespace qm::session
