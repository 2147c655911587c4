#include "session/scan_session.h"

#include <sys/stat.h>

#include <algorithm>

#include "disk/partitions/image_partition.h"
#include "disk/partitions/partition_table.h"
#include "disk/sector_source.h"
#include "engines/deep/professional_recovery.h"
#include "engines/engine_factory.h"
#include "engines/fast_ext_recovery.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "engines/volume_warnings.h"
#include "platform/errors.h"
#include "platform/filetime.h"
#include "platform/sysfs_text.h"
#include "session/scan_folders.h"
#include "session/scan_lock.h"

namespace qm::session {

namespace fs = std::filesystem;

namespace {

std::string EngineName(const IFileRecoveryParse& engine) {
  if (dynamic_cast<const CProfessionalRecovery*>(&engine)) return kDeepEngine;
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

// The quick engine of a file system that no quick scan reads (EXT) only
// opens the volume; its Scan would fail with err::kNotSupported. It is
// refused as the volume is opened, where the user can be told what to do
// instead, and the other partitions of a disk are still scanned.
std::unique_ptr<IFileRecoveryParse> RefuseUnscannable(std::unique_ptr<IFileRecoveryParse> engine,
                                                      int& error, bool& deepOnly) {
  deepOnly = dynamic_cast<const CFastExtRecovery*>(engine.get()) != nullptr;
  if (!deepOnly) return engine;
  error = err::kNotSupported;
  return nullptr;
}

std::string NoEngineText(const std::string& what, int error, bool deep, bool deepOnly = false) {
  if (deepOnly)
    return what + " holds an EXT file system, which a quick scan cannot read (" +
           ErrorText(error) + "): it can only be deep-scanned, which searches it for files by "
           "their content";
  if (deep && error == err::kInvalidParameter)
    return what + " cannot be opened for a deep scan: it is empty or too small to hold a file";
  if (error == err::kInvalidParameter)
    return what + " holds no FAT or NTFS file system that a quick scan can read (check with "
                  "'quillmark-cli probe' and 'quillmark-cli partitions'; a deep scan with "
                  "--deep searches it for files by their content)";
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

CProfessionalRecovery* DeepEngineOf(const ScanVolume& volume) {
  return dynamic_cast<CProfessionalRecovery*>(volume.engine.get());
}

std::unique_ptr<IFileRecoveryParse> ScanSession::CreateEngine(const ScanVolume& volume,
                                                              bool deep, int* error) const {
  if (volume.driveIndex < 0)
    return EngineFactory::CreateEngineForImage(source_.path, volumeTag_, deep, error,
                                               Context({}));
  return EngineFactory::CreateEngineForPartition(volume.driveIndex, volume.info.startSector,
                                                 volume.info.sectorCount, volumeTag_, deep,
                                                 error, Context({}));
}

int ScanSession::AddVolume(int partitionNumber, int driveIndex, uint64_t start, uint64_t count,
                           std::unique_ptr<IFileRecoveryParse> engine) {
  ScanVolume volume;
  volume.partitionNumber = partitionNumber;
  volume.driveIndex = driveIndex;
  volume.info = IdentityOf(partitionNumber, start, count, *engine);
  volume.engine = std::move(engine);
  if (CProfessionalRecovery* deep = DeepEngineOf(volume)) {
    volume.sectorSize = deep->sectorSize();
    if (deep->ResumeAvailable()) {
      const HistoryEntry& entry = deep->ResumeEntry();
      EarlierDeepScan& earlier = volume.earlier;
      earlier.known = true;
      earlier.folder = entry.Folder();
      earlier.position = {entry.extentStart, entry.extentLength, entry.extentDone,
                          entry.totalDone, entry.filesFound};
      ScanInfo made;
      if (ReadScanInfo(earlier.folder, made)) {
        earlier.sectorsTotal = made.sectorsTotal;
        earlier.wholeVolume = made.wholeVolume;
        // The index knows a disk only by its place in the disk table: the
        // logs of another disk found there must not be continued here.
        std::string why;
        if (!made.SameVolume(volume.info, why)) {
          volume.resume = false;
          earlier.whyNot = "it was made for another volume (" + why + ")";
        }
      }
      std::error_code ec;
      if (!fs::is_directory(earlier.folder, ec)) {
        volume.resume = false;
        earlier.whyNot = "its folder is gone";
      }
    }
  }
  volumes_.push_back(std::move(volume));
  return err::kSuccess;
}

int ScanSession::Open(const std::string& text, bool deep, std::string& message) {
  volumes_.clear();
  notes_.clear();
  if (int rc = ParseSource(text, disks_, source_, message); rc != 0) return rc;
  // A deep engine opens any source, so a whole disk is split by its
  // partition table before it would be taken as one volume.
  if (deep && source_.wholeDisk) {
    PartitionTable table;
    std::string reason;
    int driveIndex = source_.driveIndex;
    if (ReadTable(table, driveIndex, reason) == 0 && table.scheme != PartitionScheme::kNone) {
      if (std::any_of(table.entries.begin(), table.entries.end(),
                      [](const PartitionEntry& e) { return e.usable(); }))
        return OpenPartitions(deep, err::kInvalidParameter, message);
      notes_.push_back("no partition in the partition table of " + text +
                       " can be used; the whole disk is scanned as one volume");
    } else if (!reason.empty()) {
      notes_.push_back("the partition table of " + text + " cannot be used (" + reason +
                       "); the whole disk is scanned as one volume");
    }
  }
  int error = 0;
  bool deepOnly = false;
  const EngineContext context = Context({});
  const bool image = source_.kind == ScanSource::Kind::kImage;
  auto engine = RefuseUnscannable(
      image ? EngineFactory::CreateEngineForImage(source_.path, volumeTag_, deep, &error, context)
            : EngineFactory::CreateEngineForPartition(source_.driveIndex, source_.startSector,
                                                      source_.sectorCount, volumeTag_, deep,
                                                      &error, context),
      error, deepOnly);
  if (engine)
    return AddVolume(0, image ? -1 : source_.driveIndex, source_.startSector,
                     source_.sectorCount, std::move(engine));
  // A whole disk seldom holds a file system itself: its partitions do.
  if (source_.wholeDisk && error == err::kInvalidParameter && !deep)
    return OpenPartitions(deep, error, message);
  message = NoEngineText(text, error, deep, deepOnly);
  return error != 0 ? error : err::kInvalidParameter;
}

int ScanSession::ReadTable(PartitionTable& table, int& driveIndex, std::string& reason) {
  if (source_.kind == ScanSource::Kind::kImage) {
    int rc = ReadImagePartitionTable(source_.path, table, reason);
    if (rc == 0 && table.scheme != PartitionScheme::kNone)
      rc = AddPartitionedImage(disks_, source_.path, driveIndex, &reason);
    return rc;
  }
  SectorSource disk;
  int rc = disk.OpenPhysicalDriveSource(disks_, driveIndex);
  if (rc == 0) rc = ReadPartitionTable(disk, table, reason);
  return rc;
}

int ScanSession::OpenPartitions(bool deep, int firstError, std::string& message) {
  PartitionTable table;
  std::string reason;
  int driveIndex = source_.driveIndex;
  const int rc = ReadTable(table, driveIndex, reason);
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
    bool deepOnly = false;
    auto engine = RefuseUnscannable(
        EngineFactory::CreateEngineForPartition(driveIndex, entry.startSector, entry.sectorCount,
                                                volumeTag_, deep, &error, Context({})),
        error, deepOnly);
    if (!engine) {
      notes_.push_back(NoEngineText("partition " + std::to_string(entry.number), error, deep,
                                    deepOnly));
      continue;
    }
    AddVolume(entry.number, driveIndex, entry.startSector, entry.sectorCount, std::move(engine));
  }
  if (volumes_.empty()) {
    message = deep ? source_.text + " holds a partition table, but none of its partitions can "
                                    "be opened (see the notes above)"
                   : source_.text + " holds a partition table, but none of its partitions "
                                    "holds a FAT or NTFS file system that a quick scan can read";
    return err::kInvalidParameter;
  }
  return err::kSuccess;
}

namespace {

// Between the engine and the caller's callback: keeps the deep pass's
// position in scan.info, so that `logs` can tell how far a scan got even
// when the process dies before the end.
struct ProgressRelay {
  ScanProgressFn forward = nullptr;
  void* user = nullptr;
  ScanVolume* volume = nullptr;
  std::chrono::steady_clock::time_point lastWrite{};

  static int Call(void* self, int step, int scale, int64_t secondsLeft, uint64_t done,
                  uint64_t total, uint64_t found, int extra) {
    auto* relay = static_cast<ProgressRelay*>(self);
    ScanVolume& volume = *relay->volume;
    if (scale == kDeepPassScale && DeepEngineOf(volume) && total != 0) {
      const bool firstOfPass = volume.info.sectorsTotal != total;
      volume.info.sectorsDone = done;
      volume.info.sectorsTotal = total;
      volume.info.filesFound = found;
      const auto now = std::chrono::steady_clock::now();
      if (firstOfPass || now - relay->lastWrite >= std::chrono::seconds(30)) {
        WriteScanInfo(volume.scanFolder, volume.info);
        relay->lastWrite = now;
      }
    }
    return relay->forward ? relay->forward(relay->user, step, scale, secondsLeft, done, total,
                                           found, extra)
                          : 0;
  }
};

}  // namespace

int ScanSession::StartFolder(ScanVolume& volume, bool resuming, std::string& message) {
  if (resuming) {
    volume.scanFolder = volume.earlier.folder;
    // The earlier scan's record is updated, not replaced: it keeps its
    // start time and says when it was resumed.
    ScanInfo kept;
    std::string why;
    if (ReadScanInfo(volume.scanFolder, kept) && kept.SameVolume(volume.info, why)) {
      kept.source = volume.info.source;
      kept.wholeVolume = volume.info.wholeVolume;
      volume.info = kept;
    } else {
      volume.info.started = LocalTimeText();
    }
    volume.info.engine = kDeepEngine;
    volume.info.resumed = LocalTimeText();
    if (volume.info.sectorsDone < volume.earlier.position.totalDone)
      volume.info.sectorsDone = volume.earlier.position.totalDone;
  } else {
    if (volume.earlier.known) {
      // The index keeps one deep scan per volume: starting afresh drops the
      // earlier one, or its entry would go on pointing at the old folder.
      history_.DeleteHistoryEntry(volume.earlier.folder);
    }
    volume.scanFolder = history_.StartNewScanFolder();
    volume.info.started = LocalTimeText();
    volume.info.resumed.clear();
    volume.info.sectorsDone = 0;
    volume.info.sectorsTotal = 0;
  }
  volume.info.finished = false;
  if (int rc = WriteScanInfo(volume.scanFolder, volume.info); rc != 0) {
    message = "cannot write into the scan folder " + volume.scanFolder.string() + ": " +
              ErrorText(rc) + "; check that the folder can be written";
    if (!resuming) history_.ReleaseScanFolder();
    return rc;
  }
  return err::kSuccess;
}

int ScanSession::Scan(size_t index, ScanProgressFn progress, void* user, std::string& message) {
  if (index >= volumes_.size()) return err::kInvalidParameter;
  ScanVolume& volume = volumes_[index];
  CProfessionalRecovery* deep = DeepEngineOf(volume);
  const bool resuming =
      deep && volume.earlier.known && volume.resume && volume.earlier.whyNot.empty();
  if (deep) {
    // A resumed pass goes on over the ranges it started with.
    volume.info.wholeVolume = resuming ? volume.earlier.wholeVolume : wholeVolume_;
    deep->SetWholeVolume(volume.info.wholeVolume);
    if (saveInterval_.count() > 0) deep->SetSaveInterval(saveInterval_);
    deep->SetResume(resuming);
  }
  const std::string volumeText =
      source_.text + (volume.partitionNumber
                          ? " (partition " + std::to_string(volume.partitionNumber) + ")"
                          : std::string());
  auto busyText = [&](const fs::path& folder) {
    return "a deep scan of " + volumeText + " is running into " + folder.string() +
           " in another process; wait for it to end, or stop it with Ctrl-C and run this again";
  };
  // Neither resuming nor replacing a scan that another process is running.
  if (deep && volume.earlier.known && ScanFolderInUse(volume.earlier.folder)) {
    message = busyText(volume.earlier.folder);
    return err::kBusy;
  }
  if (int rc = StartFolder(volume, resuming, message); rc != 0) return rc;
  volume.earlier = {};
  ScanFolderLock lock;
  if (int rc = lock.Acquire(volume.scanFolder); rc != 0) {
    message = rc == err::kBusy ? busyText(volume.scanFolder)
                               : "cannot lock the scan folder " + volume.scanFolder.string() +
                                     ": " + ErrorText(rc) + "; check that it can be written";
    return rc;
  }

  IFileRecoveryParse& engine = *volume.engine;
  engine.SetContext(Context(volume.scanFolder));
  ProgressRelay relay{progress, user, &volume, std::chrono::steady_clock::now()};
  engine.SetCallbacks(&ProgressRelay::Call, nullptr, &relay, 100);
  const int rc = engine.Scan(nullptr);
  engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
  volume.warnings = engine.ScanWarnings();

  uint32_t files = 0;
  engine.CountFiles(nullptr, 0, &files);
  volume.info.filesFound = files;
  volume.info.finished = rc == 0;
  if (deep) {
    const ResumePoint position = deep->Position();
    volume.info.sectorsDone = position.totalDone;
    if (rc == 0 && volume.info.sectorsTotal < position.totalDone)
      volume.info.sectorsTotal = position.totalDone;
  }
  WriteScanInfo(volume.scanFolder, volume.info);
  if (rc != 0 && rc != err::kCancelled) {
    message = "the scan of " + volumeText + " failed: " + ErrorText(rc);
    // A read past the end of an image cut short is no fault of the disk.
    const bool cutShort = std::any_of(volume.warnings.begin(), volume.warnings.end(),
                                      [](const std::string& w) { return IsVolumeCutShortWarning(w); });
    if (cutShort && (rc == err::kReadFault || rc == err::kHandleEof || rc == err::kCrc)) {
      message = "the scan of " + volumeText + " failed: the image ends before the volume does, and " +
                "the part the quick scan needs to read its folders is missing. A deep scan (--deep) " +
                "searches what the image holds for files by their content";
    }
    lock.Release();
    if (engine.RecordCount() == 0 && !resuming) history_.DeleteHistoryEntry(volume.scanFolder);
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
  // A deep scan's folder is read by the deep engine, whichever was asked for:
  // its four logs only make sense merged.
  if (made.deep() != (DeepEngineOf(volume) != nullptr)) {
    int error = 0;
    auto engine = CreateEngine(volume, made.deep(), &error);
    if (!engine) {
      message = "cannot open " + source_.text + " to read the " +
                (made.deep() ? "deep" : "quick") + " scan in " + folder.string() + ": " +
                ErrorText(error != 0 ? error : err::kInvalidParameter);
      return error != 0 ? error : err::kInvalidParameter;
    }
    volume.engine = std::move(engine);
  }
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
