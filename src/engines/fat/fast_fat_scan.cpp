// The quick scan's walk of the directory tree.
#include <algorithm>
#include <cstring>

#include "engines/fat/fast_fat_recovery.h"
#include "engines/fat/fat_directory_entry.h"
#include "engines/fat/fat_entry_names.h"
#include "engines/volume_warnings.h"
#include "platform/errors.h"
#include "platform/filetime.h"
#include "platform/text.h"
#include "results/categories.h"

namespace qm {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReportInterval = std::chrono::milliseconds(5000);
// A FAT directory holds at most 65,536 entries (2 MiB); a chain that goes
// on past that is damaged.
constexpr uint64_t kMaxDirectoryBytes = 65536 * kFatEntryBytes;
// FAT32 deletions may clear the high word of the first cluster; it is
// searched for among the first 257 values.
constexpr uint32_t kMaxGuessedHighWord = 256;

}  // namespace

int CFastFatRecovery::Scan(const char* scanLogName) {
  if (!open_) return err::kInvalidHandle;
  folders_.clear();
  foldersToWrite_.clear();
  markedToWrite_.clear();
  walked_.clear();
  queue_.clear();
  filesFound_ = 0;
  stopResult_ = 0;
  ClearWarnings();
  NoteVolumeDamage();
  NewLog();
  if (scanLogName != nullptr) return OpenLog(scanLogName);
  const std::string baseName = MakeLogBaseName("Fast_", volume_.partitionStart(), LocalNow());
  if (int rc = OpenLog(baseName); rc != 0) return rc;

  scanStarted_ = Clock::now();
  lastReport_ = scanStarted_;
  periodicStep_ = 0;
  skipped_.Clear();
  int result = ReportProgress(1, -1);
  if (result == 0) result = WalkAll();
  if (!skipped_.empty())
    AddWarning(skipped_.Sentence("directory block", "directory blocks"));
  const int flushed = log_->FlushScanLog();
  if (result == 0) result = flushed;
  return result;
}

// A damaged sub-folder is skipped and the walk goes on; a root directory that
// cannot be read means the volume could not be scanned at all, and the scan
// says so rather than report an empty volume.
int CFastFatRecovery::WalkAll() {
  if (volume_.rootClusterDamaged()) return err::kDiskCorrupt;
  int rootError = 0;
  queue_.push_back(RootId());
  while (!queue_.empty()) {
    const uint32_t folder = queue_.front();
    queue_.pop_front();
    if (walked_.insert(folder).second) {
      const int rc = WalkFolder(folder);
      if (folder == RootId() && rc > 0) rootError = rc;
    }
    if (stopResult_ != 0) return stopResult_;
    if (int rc = PeriodicProgress(); rc != 0) return rc;
  }
  if (int rc = ReportProgress(80, 10); rc != 0) return rc;
  if (int rc = WriteFolderRecords(); rc != 0) return rc;
  if (rootError != 0) {
    if (volume_.missingBytes() == 0)
      AddWarning(DamagedMetadataWarning("The root folder"));
    return rootError;
  }
  return ReportProgress(100, 0);
}

int CFastFatRecovery::ReportProgress(int step, int64_t secondsLeft) {
  if (scanProgress_ == nullptr) return 0;
  const uint64_t done = walked_.size();
  const uint64_t total = done + queue_.size();
  int rc = scanProgress_(user_, step, scale_, secondsLeft, done, total, filesFound_, 0);
  if (rc != 0) stopResult_ = rc;
  return rc;
}

// At most every 5 seconds: the step counts up by one per report (from 2, or
// from 21 when a deep scan drives this one at scale 9), and the time left
// is estimated from the folders walked against those known so far.
int CFastFatRecovery::PeriodicProgress() {
  const auto now = Clock::now();
  if (now - lastReport_ < kReportInterval) return 0;
  lastReport_ = now;
  ++periodicStep_;
  if (scale_ == 100) {
    const uint64_t done = walked_.size();
    const uint64_t left = queue_.size();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(now - scanStarted_).count();
    const int64_t estimate = done == 0 ? -1 : static_cast<int64_t>(elapsed * left / done);
    return ReportProgress(std::min(1 + periodicStep_, 79), estimate);
  }
  if (scale_ == 9) return ReportProgress(std::min(20 + periodicStep_, 99), -1);
  return 0;
}

int CFastFatRecovery::WalkFolder(uint32_t folderId) {
  const FatGeometry& g = volume_.geometry();
  const bool isRoot = folderId == RootId();
  bool inheritedDeleted = false;
  uint32_t depth = 0;
  if (!isRoot) {
    auto it = folders_.find(folderId);
    if (it == folders_.end()) return err::kSuccess;
    inheritedDeleted = it->second.record.isDeleted != 0;
    depth = it->second.depth;
  }
  LongNameCollector longName;
  std::vector<uint8_t> buffer;

  // The FAT12/16 root is one region between the FATs and cluster 2; every
  // other folder is a chain of clusters.
  if (!g.IsFat32() && isRoot) {
    buffer.resize(g.RootDirBytes());
    uint32_t got = 0;
    int rc = volume_.ReadBytes(g.RootDirOffset(), g.RootDirBytes(), buffer.data(), got);
    if (rc == err::kInvalidParameter) rc = err::kReadFault;  // the volume ends before its root
    // Unreadable sectors of the root cost only the entries in them.
    const uint32_t sectorSize = volume_.deviceSectorSize();
    const uint64_t rootSector = volume_.AbsoluteSector(g.RootDirOffset());
    std::vector<SectorRange> bad;
    if (rc == err::kReadFault && got < g.RootDirBytes() &&
        source_.ReadSectorsFilling((g.RootDirBytes() - got) / sectorSize, buffer.data() + got,
                                   rootSector + got / sectorSize, sectorSize, bad) == err::kReadFault) {
      got = g.RootDirBytes();
      rc = err::kSuccess;
      for (const SectorRange& r : bad) skipped_.Add(r.first, r.count);
    }
    size_t nextBad = 0;
    for (size_t off = 0; off + kFatEntryBytes <= got; off += kFatEntryBytes) {
      const uint64_t sector = rootSector + off / sectorSize;
      while (nextBad < bad.size() && bad[nextBad].first + bad[nextBad].count <= sector) ++nextBad;
      if (nextBad < bad.size() && bad[nextBad].first <= sector) {
        longName.Clear();
        continue;
      }
      if (buffer[off] == 0) break;
      HandleEntry(buffer.data() + off, got - off,
                  volume_.AbsoluteSector(g.RootDirOffset() + off), folderId, depth,
                  inheritedDeleted, longName);
      if (stopResult_ != 0) break;
    }
    return rc;
  }

  buffer.resize(g.clusterBytes);
  const uint64_t maxClusters = std::max<uint64_t>(1, kMaxDirectoryBytes / g.clusterBytes);
  uint32_t cluster = folderId;
  std::unordered_set<uint32_t> chain;
  for (uint64_t n = 0; n < maxClusters; ++n) {
    if (!g.IsDataCluster(cluster) || !chain.insert(cluster).second) break;
    uint32_t got = 0;
    if (int rc = volume_.ReadBytes(g.ClusterOffset(cluster), g.clusterBytes, buffer.data(), got);
        rc != 0) {
      if (rc != err::kReadFault) return rc == err::kInvalidParameter ? err::kReadFault : rc;  // past the end of the source
      // An unreadable cluster costs only the entries in it; the chain
      // comes from the FAT and goes on.
      skipped_.Add(volume_.AbsoluteSector(g.ClusterOffset(cluster)),
                   g.clusterBytes / volume_.deviceSectorSize());
      longName.Clear();
      uint32_t next = 0;
      if (!volume_.NextInChain(cluster, next) || next == cluster) break;
      cluster = next;
      continue;
    }
    const bool opensFolder = IsDotClusterStart(buffer.data(), buffer.data() + kFatEntryBytes);
    // A sub-folder starts with its "." and ".." entries; a cluster without
    // them is not (or no longer) this folder. Further on, a cluster that
    // starts a folder belongs to another one: a deleted folder's free
    // clusters run on into whatever was written after it.
    if (n == 0 && !isRoot && !opensFolder) return err::kSuccess;
    if (n > 0 && opensFolder) break;
    bool ended = false;
    for (size_t off = 0; off + kFatEntryBytes <= g.clusterBytes; off += kFatEntryBytes) {
      if (buffer[off] == 0) {
        ended = true;
        break;
      }
      HandleEntry(buffer.data() + off, g.clusterBytes - off,
                  volume_.AbsoluteSector(g.ClusterOffset(cluster) + off), folderId, depth,
                  inheritedDeleted, longName);
      if (stopResult_ != 0) return stopResult_;
    }
    if (ended) break;
    if (int rc = PeriodicProgress(); rc != 0) return rc;
    uint32_t next = 0;
    if (!volume_.NextInChain(cluster, next) || next == cluster) break;
    cluster = next;
  }
  return err::kSuccess;
}

namespace {
// The entry test wants the archive or folder attribute on every file, but
// backup tools and some cameras clear the archive bit; such a file is still
// a file. It passes when it would pass with the bit set.
bool IsFileWithoutArchiveBit(const uint8_t* entry, size_t available) {
  if (available < kFatEntryBytes) return false;
  const uint8_t attributes = entry[11];
  if (attributes & (fatattr::kArchive | fatattr::kDirectory | fatattr::kVolumeLabel | 0xC0))
    return false;
  uint8_t withArchive[kFatEntryBytes];
  std::memcpy(withArchive, entry, kFatEntryBytes);
  withArchive[11] = static_cast<uint8_t>(attributes | fatattr::kArchive);
  return IsDirectoryEntry(withArchive, kFatEntryBytes);
}
}  // namespace

void CFastFatRecovery::HandleEntry(const uint8_t* entry, size_t available, uint64_t anchorSector,
                                   uint32_t folderId, uint32_t depth, bool inheritedDeleted,
                                   LongNameCollector& longName) {
  if (!IsDirectoryEntry(entry, available) && !IsFileWithoutArchiveBit(entry, available)) {
    longName.Clear();
    return;
  }
  const FatDirEntry e = ReadFatDirEntry(entry);
  if (IsLongNameEntry(e)) {
    // Pieces are stored last first, so each one read goes in front of those
    // collected. A legal name has at most 20; more means the run of pieces
    // is damaged, and only the newest are kept.
    if (longName.pieces == kMaxLongNamePieces) longName.Clear();
    char16_t units[kLongNamePieceUnits];
    LongNamePieceUnits(ReadFatLongNameEntry(entry), units);
    longName.units.insert(0, units, kLongNamePieceUnits);
    ++longName.pieces;
    return;
  }
  std::string name;
  if (longName.pieces > 0) name = LongEntryName(longName.units);
  longName.Clear();
  if (IsDotEntryName(e)) return;
  const bool deleted = IsDeletedEntry(e);
  if (name.empty()) name = ShortEntryName(e);
  if (e.attributes & fatattr::kDirectory) {
    AddFolder(e, name, anchorSector, folderId, depth, deleted || inheritedDeleted);
  } else if (!(e.attributes & fatattr::kVolumeLabel) && (deleted || inheritedDeleted)) {
    // Any deleted file counts, archive bit or not.
    AddFile(e, name, anchorSector, folderId, depth);
  }
}

void CFastFatRecovery::FillCommon(FoundFileRecord& r, const FatDirEntry& e,
                                  uint64_t anchorSector) const {
  r.volumeLetter = volumeLetter_;
  r.engineKind = static_cast<uint32_t>(EngineKind::kFatQuick);
  r.clusterBytes = volume_.geometry().clusterBytes;
  // The record is packed: times are decoded into locals, then stored.
  const FatEntryTimes times = EntryTimes(e);
  r.creationTime = times.created;
  r.accessTime = times.accessed;
  r.writeTime = times.written;
  r.dataAreaSector = volume_.geometry().dataStart;
  r.anchorSector = anchorSector;
  r.volumeStartSector = volume_.partitionStart();
}

void CFastFatRecovery::AddFolder(const FatDirEntry& e, const std::string& name,
                                 uint64_t anchorSector, uint32_t folderId, uint32_t depth,
                                 bool deleted) {
  const uint32_t cluster = EntryFirstCluster(e, name, true);
  if (!volume_.geometry().IsDataCluster(cluster) || cluster == folderId || cluster == RootId())
    return;
  // A folder already walked keeps the record it was walked with: replacing
  // it could make a folder its own ancestor on a damaged volume.
  if (walked_.count(cluster)) return;
  FolderInfo info;
  std::memset(&info.record, 0, sizeof info.record);
  FillCommon(info.record, e, anchorSector);
  info.record.isDirectory = 1;
  info.record.isDeleted = deleted ? 1 : 0;
  info.record.contentOk = 1;
  info.record.entryId = cluster;
  info.record.SetName(name);
  info.parent = folderId;
  info.depth = depth + 1;
  auto [it, inserted] = folders_.try_emplace(cluster, info);
  if (inserted) {
    queue_.push_back(cluster);
  } else if (!(it->second.record.isDeleted == 0 && deleted)) {
    // A cluster reused by a live folder is that folder's: a stale deleted
    // entry never takes it over, or live files would be reported.
    it->second = info;
  }
}

void CFastFatRecovery::AddFile(const FatDirEntry& e, const std::string& name,
                               uint64_t anchorSector, uint32_t folderId, uint32_t depth) {
  FoundFileRecord* r = log_->ReserveRecord();
  if (r == nullptr) return;
  FillCommon(*r, e, anchorSector);
  r->isDirectory = 0;
  r->isDeleted = 1;  // the walk files only deleted entries and what deleted folders hold
  r->entryId = EntryFirstCluster(e, name, false);
  r->fileSize = e.fileSize;
  r->SetName(name);
  r->recordIndex = static_cast<uint32_t>(log_->RecordCount());
  r->contentOk = ContentOk(r->entryId, ExtensionOf(name));
  log_->AddRelation(DirectoryKey(depth, folderId), r->recordIndex, r->entryId, nullptr);
  ++filesFound_;
  MarkPathToWrite(folderId);
}

void CFastFatRecovery::MarkPathToWrite(uint32_t folderId) {
  // Parent links always point at folders walked earlier, so this ends at the
  // root; the set stops it at the first folder already marked.
  uint32_t id = folderId;
  while (id != RootId() && markedToWrite_.insert(id).second) {
    auto it = folders_.find(id);
    if (it == folders_.end()) break;
    foldersToWrite_.push_back(id);
    id = it->second.parent;
  }
}

int CFastFatRecovery::WriteFolderRecords() {
  for (uint32_t id : foldersToWrite_) {
    auto it = folders_.find(id);
    if (it == folders_.end()) continue;
    FoundFileRecord* r = log_->ReserveRecord();
    if (r == nullptr) return err::kNotEnoughMemory;
    *r = it->second.record;
    r->recordIndex = static_cast<uint32_t>(log_->RecordCount());
    const FolderInfo& info = it->second;
    log_->AddRelation(DirectoryKey(info.depth - 1, info.parent), r->recordIndex, id,
                      info.record.name);
  }
  return err::kSuccess;
}

bool CFastFatRecovery::ReadClusterStart(uint32_t cluster, std::vector<uint8_t>& sector) {
  const FatGeometry& g = volume_.geometry();
  if (!g.IsDataCluster(cluster)) return false;
  sector.resize(g.bytesPerSector);
  uint32_t got = 0;
  return volume_.ReadBytes(g.ClusterOffset(cluster), g.bytesPerSector, sector.data(), got) == 0 &&
         got == g.bytesPerSector;
}

// FAT12/16 entries hold a 16-bit cluster. FAT32 keeps the high word at 20,
// which some drivers clear when they delete: for a deleted entry with high
// word 0 the first plausible value is searched for, a folder's by its "."
// and ".." entries, a file's by the signature its extension calls for.
uint32_t CFastFatRecovery::EntryFirstCluster(const FatDirEntry& e, const std::string& name,
                                             bool directory) {
  const FatGeometry& g = volume_.geometry();
  if (!g.IsFat32()) return e.firstClusterLow;
  const uint32_t cluster = FirstCluster(e);
  if (!IsDeletedEntry(e) || e.firstClusterHigh != 0 || e.firstClusterLow == 0) return cluster;
  const std::string ext = ExtensionOf(name);
  if (!directory && ext.empty()) return cluster;
  std::vector<uint8_t> sector;
  for (uint32_t high = 0; high <= kMaxGuessedHighWord; ++high) {
    const uint32_t candidate = high << 16 | e.firstClusterLow;
    if (!g.IsDataCluster(candidate) || !ReadClusterStart(candidate, sector)) break;
    if (directory) {
      if (IsDotClusterStart(sector.data(), sector.data() + kFatEntryBytes)) return candidate;
    } else {
      signatureContext_.startSector = volume_.AbsoluteSector(g.ClusterOffset(candidate));
      signatureContext_.currentSector = signatureContext_.startSector;
      if (CheckContentByExtension(sector.data(), sector.size(), ext, signatureContext_) == 1)
        return candidate;
    }
  }
  return cluster;
}

int CFastFatRecovery::ContentOk(uint32_t cluster, const std::string& extension) {
  if (extension.empty()) return 1;
  std::vector<uint8_t> sector;
  if (!ReadClusterStart(cluster, sector)) return 1;
  signatureContext_.startSector = volume_.AbsoluteSector(volume_.geometry().ClusterOffset(cluster));
  signatureContext_.currentSector = signatureContext_.startSector;
  return CheckContentByExtension(sector.data(), sector.size(), extension, signatureContext_) == 1
             ? 1
             : 0;
}

}  // namespace qm
