#include "engines/deep/fat/professional_fat_recovery.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engines/fat/fat_boot_sector.h"
#include "engines/volume_classifier.h"
#include "platform/errors.h"
#include "platform/filetime.h"
#include "results/categories.h"
#include "results/log_names.h"
#include "results/scan_log_store.h"

namespace qm {

namespace {

constexpr uint32_t kBootReadBytes = 4096;

bool HasSignature(const std::string& extension) {
  for (const SignatureEntry& entry : SignatureTable())
    if (entry.extension.size() == extension.size() &&
        std::equal(extension.begin(), extension.end(), entry.extension.begin(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; }))
      return true;
  return false;
}

bool IsVolumeLabel(const uint8_t* data, size_t length) {
  if (length < kFatEntryBytes || data[0] == 0 || data[0] == kFatDeletedMark) return false;
  const uint8_t attributes = data[11];
  return attributes != fatattr::kLongName && (attributes & fatattr::kVolumeLabel) &&
         !(attributes & fatattr::kDirectory);
}

}  // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery() = default;
CProfessionalFatRecovery::~CProfessionalFatRecovery() = default;

std::string CProfessionalFatRecovery::LogPrefix() const { return kFatDeepLogPrefix; }

int CProfessionalFatRecovery::OpenImage(const std::string& imagePath, uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  if (int rc = source_.OpenImageSource(imagePath); rc != 0) return rc;
  volumeStart_ = 0;
  volumeSectors_ = source_.totalSectors();
  volumeLetter_ = volumeLetter;
  open_ = true;
  return err::kSuccess;
}

int CProfessionalFatRecovery::OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
                                       uint16_t volumeLetter) {
  if (open_) return err::kSuccess;
  if (int rc = source_.OpenPhysicalDriveSource(Disks(), driveIndex); rc != 0) return rc;
  volumeStart_ = startSector;
  volumeSectors_ = sectorCount;
  volumeLetter_ = volumeLetter;
  open_ = true;
  return err::kSuccess;
}

int CProfessionalFatRecovery::BeginDeepScan(const std::string& resumeLogName) {
  if (!open_) return err::kInvalidHandle;
  geometries_.clear();
  sightings_.clear();
  pending_.clear();
  pendingPlaced_ = 0;
  fragments_.clear();
  unplaced_.clear();
  named_.clear();
  known_.clear();
  directoryClusters_.clear();
  openEnds_.clear();
  undecided_.clear();
  held_.clear();
  settled_.clear();
  shortNames_.clear();
  shortNameCount_ = 0;
  depths_.clear();
  current_.reset();
  droppedSectors_ = 0;
  writtenFolders_.clear();
  seeded_ = false;
  rootCluster_ = 2;
  ClearWarnings();
  signatureContext_.source = &source_;
  signatureContext_.sectorSize = bytesPerSector_;
  signatureContext_.endSector = volumeStart_ + volumeSectors_;
  NewLog();
  const int rc = OpenLog(resumeLogName.empty()
                             ? MakeLogBaseName(kFatDeepLogPrefix, volumeStart_, LocalNow())
                             : resumeLogName);
  if (rc != 0) return rc;
  SeedGeometryFromBootSector();
  if (!resumeLogName.empty()) TakeUpEarlierRecords();
  return err::kSuccess;
}

// A resumed scan (after a stop, or a crash that left no folder records)
// learns from the records already written: their layouts, the folders
// already written, and the directories of the files, whose folders are
// written at the end unless they already are.
void CProfessionalFatRecovery::TakeUpEarlierRecords() {
  const uint64_t count = log_->RecordCount();
  for (uint64_t i = 1; i <= count && i <= UINT32_MAX; ++i) {
    FoundFileRecord r;
    if (log_->ReadRecord(static_cast<uint32_t>(i), r) != 0) continue;
    if (r.isDirectory) {
      const uint32_t cluster = r.entryId;
      writtenFolders_.insert(cluster);
      continue;
    }
    const uint32_t clusterBytes = r.clusterBytes;
    if (clusterBytes == 0xFFFFFFFFu || clusterBytes == 0 || clusterBytes % bytesPerSector_ != 0 ||
        r.dataAreaSector > UINT32_MAX)
      continue;
    FatDeepGeometry g;
    g.sectorsPerCluster = clusterBytes / bytesPerSector_;
    g.dataStart = static_cast<uint32_t>(r.dataAreaSector);
    g.volumeStart = r.volumeStartSector;
    if (g.sectorsPerCluster > 128) continue;
    const GeometryIndex gi = AddGeometry(g);
    uint32_t directory = 0;
    if (gi == kNone || !geometries_[gi].ClusterStartingAt(r.anchorSector, directory)) continue;
    RegisterChain(directory, r.anchorSector, gi);
  }
}

void CProfessionalFatRecovery::SeedGeometryFromBootSector() {
  std::vector<uint8_t> boot(kBootReadBytes, 0);
  uint32_t got = 0;
  source_.ReadSectors(kBootReadBytes / bytesPerSector_, boot.data(), volumeStart_, bytesPerSector_,
                      &got);
  if (got == 0) return;
  FatGeometry parsed;
  bool rootDamaged = false;
  if (!IsFatBootSector(boot.data(), bytesPerSector_) ||
      ParseFatBootSector(boot.data(), size_t{got} * bytesPerSector_, parsed, &rootDamaged) != 0 ||
      parsed.bytesPerSector != bytesPerSector_)
    return;
  FatDeepGeometry g;
  g.sectorsPerCluster = parsed.sectorsPerCluster;
  g.dataStart = parsed.dataStart;
  g.volumeStart = volumeStart_;
  rootCluster_ = parsed.IsFat32() ? parsed.rootCluster : 0;
  geometries_.push_back(g);
  seeded_ = true;
  haveFat_ = fat_.IsOpen() || fat_.Open(source_, volumeStart_, volumeSectors_) == 0;
}

CProfessionalFatRecovery::GeometryIndex CProfessionalFatRecovery::GeometryFor(
    uint32_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < geometries_.size(); ++i) {
    uint64_t at = 0;
    if (geometries_[i].ClusterSector(cluster, at) && at == sector) return static_cast<int>(i);
  }
  return kNone;
}

CProfessionalFatRecovery::GeometryIndex CProfessionalFatRecovery::AddGeometry(
    const FatDeepGeometry& g) {
  for (size_t i = 0; i < geometries_.size(); ++i)
    if (geometries_[i] == g) return static_cast<int>(i);
  if (geometries_.size() >= limits_.geometries) return kNone;
  geometries_.push_back(g);
  return static_cast<int>(geometries_.size() - 1);
}

// The layout whose data area begins closest below the sector. The boot
// sector's own layout is passed over when others were found: the sectors
// that it could not place belong to an older volume.
CProfessionalFatRecovery::GeometryIndex CProfessionalFatRecovery::NearestGeometry(
    uint64_t sector) const {
  if (geometries_.empty()) return kNone;
  GeometryIndex best = kNone;
  const size_t first = seeded_ && geometries_.size() >= 2 ? 1 : 0;
  for (size_t i = first; i < geometries_.size(); ++i) {
    const uint64_t area = geometries_[i].DataArea();
    if (area > sector) continue;
    if (best == kNone || area > geometries_[best].DataArea()) best = static_cast<int>(i);
  }
  return best == kNone ? 0 : best;
}

// A sector that begins a cluster under some layout. The layouts found from
// old folders come before the boot sector's own: a volume formatted with
// another cluster size has its old directory sectors on cluster
// boundaries of both, and the folders of the volume as it stands are read
// by its quick scan.
bool CProfessionalFatRecovery::PlaceSector(uint64_t sector, ClusterContext& context) const {
  const size_t count = geometries_.size();
  const size_t first = seeded_ && count >= 2 ? 1 : 0;
  for (size_t n = 0; n < count; ++n) {
    const size_t i = (first + n) % count;
    uint32_t cluster = 0;
    if (!geometries_[i].ClusterStartingAt(sector, cluster)) continue;
    context = {static_cast<int>(i), cluster, sector};
    return true;
  }
  return false;
}

bool CProfessionalFatRecovery::ReadClusterStart(const FatDeepGeometry& g, uint32_t cluster,
                                                std::vector<uint8_t>& out) const {
  uint64_t sector = 0;
  if (!g.ClusterSector(cluster, sector) || sector >= volumeStart_ + volumeSectors_) return false;
  out.assign(bytesPerSector_, 0);
  uint32_t got = 0;
  return source_.ReadSectors(1, out.data(), sector, bytesPerSector_, &got) == 0 && got == 1;
}

// The directory that holds `cluster`: its ".." entry, or the root when the
// cluster does not open a sub-directory or its ".." says root.
bool CProfessionalFatRecovery::FindParentCluster(uint32_t cluster, const FatDeepGeometry& g,
                                                 uint32_t& parent) const {
  std::vector<uint8_t> sector;
  if (cluster == 0 || !ReadClusterStart(g, cluster, sector)) return false;
  parent = rootCluster_;
  if (!IsVolumeLabel(sector.data(), sector.size()) && StartsWithDots(sector.data(), sector.size())) {
    const uint32_t up = FirstCluster(ReadFatDirEntry(sector.data() + kFatEntryBytes));
    if (up != 0) parent = up;
  }
  return true;
}

// Directories between `cluster` and the root, itself included, following
// ".." entries; a chain that loops ends where it meets itself.
uint32_t CProfessionalFatRecovery::CountDirectoryDepth(uint32_t cluster, const FatDeepGeometry& g) {
  const GeometryIndex gi = static_cast<int>(&g - geometries_.data());
  if (auto it = depths_.find({gi, cluster}); it != depths_.end()) return it->second;
  std::set<uint32_t> visited;
  uint32_t depth = 0;
  uint32_t c = cluster;
  std::vector<uint8_t> sector;
  while (c != 0 && c != rootCluster_ && visited.insert(c).second) {
    if (auto it = depths_.find({gi, c}); it != depths_.end()) {
      depth += it->second;
      break;
    }
    if (!ReadClusterStart(g, c, sector)) {
      ++depth;
      break;
    }
    if (IsVolumeLabel(sector.data(), sector.size())) break;
    ++depth;
    if (!StartsWithDots(sector.data(), sector.size())) break;
    c = FirstCluster(ReadFatDirEntry(sector.data() + kFatEntryBytes));
  }
  if (depths_.size() < limits_.pendingFiles) depths_[{gi, cluster}] = depth;
  return depth;
}

// FAT32 deletions may clear the high word of the first cluster; the first of
// 257 candidates whose cluster looks right is taken.
uint32_t CProfessionalFatRecovery::GuessHighWord(const FatDirEntry& e, const std::string& name,
                                                 bool directory, const FatDeepGeometry& g) {
  const uint32_t cluster = FirstCluster(e);
  if (!IsDeletedEntry(e) || e.firstClusterHigh != 0 || e.firstClusterLow < 2) return cluster;
  const std::string ext = ExtensionOf(name);
  if (!directory && ext.empty()) return cluster;
  std::vector<uint8_t> sector;
  for (uint32_t high = 0; high <= 256; ++high) {
    const uint32_t candidate = high << 16 | e.firstClusterLow;
    if (!ReadClusterStart(g, candidate, sector)) break;
    if (directory) {
      if (StartsWithDots(sector.data(), sector.size())) return candidate;
      continue;
    }
    g.ClusterSector(candidate, signatureContext_.startSector);
    signatureContext_.currentSector = signatureContext_.startSector;
    if (CheckContentByExtension(sector.data(), sector.size(), ext, signatureContext_) == 1)
      return candidate;
  }
  return cluster;
}

// Most files of a volume (text, data) have an extension that promises no
// signature; their first sector is not read, which on a volume of many small
// files saves one random read per file.
uint32_t CProfessionalFatRecovery::ContentOk(const FoundFileRecord& record,
                                             const FatDeepGeometry& g) {
  const std::string ext = ExtensionOf(record.Name());
  if (ext.empty() || record.fileSize == 0 || !HasSignature(ext)) return 1;
  std::vector<uint8_t> sector;
  if (!ReadClusterStart(g, record.entryId, sector)) return 1;
  g.ClusterSector(record.entryId, signatureContext_.startSector);
  signatureContext_.currentSector = signatureContext_.startSector;
  return CheckContentByExtension(sector.data(), sector.size(), ext, signatureContext_) == 1 ? 1 : 0;
}

void CProfessionalFatRecovery::FillRecord(FoundFileRecord& r, const FatDirEntry& e,
                                          const std::string& name, uint64_t sector,
                                          GeometryIndex g) const {
  std::memset(&r, 0, sizeof r);
  r.volumeLetter = volumeLetter_;
  r.engineKind = EngineKind();
  r.isDeleted = IsDeletedEntry(e) ? 1 : 0;
  r.contentOk = 1;
  r.entryId = FirstCluster(e);
  const FatEntryTimes times = EntryTimes(e);
  r.creationTime = times.created;
  r.accessTime = times.accessed;
  r.writeTime = times.written;
  r.fileSize = e.fileSize;
  r.anchorSector = sector;
  r.clusterBytes = 0xFFFFFFFFu;
  if (g != kNone) {
    const FatDeepGeometry& geometry = geometries_[g];
    r.clusterBytes = bytesPerSector_ * geometry.sectorsPerCluster;
    r.dataAreaSector = geometry.dataStart;
    r.volumeStartSector = geometry.volumeStart;
  }
  r.SetName(name);
}

int CProfessionalFatRecovery::FlushLog() {
  if (!log_ || !log_->IsOpen()) return err::kSuccess;
  // Files held back are written before the log is, so that a scan resumed
  // after a crash past this point misses none of them.
  SettleUndecided();
  return log_->FlushScanLog();
}

int CProfessionalFatRecovery::FinishDeepScan() {
  if (!log_ || !log_->IsOpen()) return err::kSuccess;
  PlaceUnplaced(unplaced_.size());
  current_.reset();
  PlacePending();
  ForcePending(pending_.size());
  pending_.clear();
  SettleUndecided();
  held_ = std::vector<PendingFile>();
  WriteDirectories();
  fragments_.clear();
  directoryClusters_.clear();
  openEnds_.clear();
  shortNames_.clear();
  shortNameCount_ = 0;
  settled_.clear();
  if (droppedSectors_ > 0)
    AddWarning(std::to_string(droppedSectors_) +
               " directory sectors could not be placed on any volume layout and were left out.");
  return log_->FlushScanLog();
}

// Directories met while filing files: each under the entry that names it, or
// as "LostFolder<cluster>" when no entry does.
void CProfessionalFatRecovery::WriteDirectories() {
  for (const auto& [cluster, place] : known_) {
    if (!writtenFolders_.insert(cluster).second) continue;
    FoundFileRecord r;
    std::memset(&r, 0, sizeof r);
    r.volumeLetter = volumeLetter_;
    r.engineKind = EngineKind();
    r.isDirectory = 1;
    r.contentOk = 1;
    r.entryId = cluster;
    r.clusterBytes = 0xFFFFFFFFu;
    r.anchorSector = place.sector;
    uint32_t parent = rootCluster_;
    GeometryIndex g = place.geometry;
    auto named = named_.find(cluster);
    if (named != named_.end()) {
      const NamedDirectory& n = named->second;
      if (n.geometry != kNone) g = n.geometry;
      parent = n.parent;
      r.isDeleted = n.deleted ? 1 : 0;
      r.creationTime = n.creationTime;
      r.accessTime = n.accessTime;
      r.writeTime = n.writeTime;
      r.anchorSector = n.sector;
      r.SetName(n.name);
    } else {
      r.SetName("LostFolder" + std::to_string(cluster));
    }
    if (g == kNone) {
      // No layout: the folder is kept, at the top, for the files filed in it.
      parent = rootCluster_;
      FoundFileRecord* slot = log_->ReserveRecord();
      if (slot == nullptr) return;
      r.recordIndex = static_cast<uint32_t>(log_->RecordCount());
      *slot = r;
      log_->AddRelation(DirectoryKey(0, parent), r.recordIndex, cluster, r.name);
      continue;
    }
    const FatDeepGeometry& geometry = geometries_[g];
    // The folder's files were filed at the depth its ".." chain gives, so
    // the folder goes one level up along that same chain: under the
    // directory its own ".." names, not under the one whose entry named it
    // (that entry may lie in a later cluster of the parent, which is a lost
    // folder of its own). A first cluster that opens no directory puts the
    // folder in the root, where its files were counted from.
    const uint32_t ownDepth = CountDirectoryDepth(cluster, geometry);
    uint32_t depth = 0;
    parent = rootCluster_;
    if (ownDepth >= 2 && FindParentCluster(cluster, geometry, parent) && parent != cluster &&
        parent != rootCluster_)
      depth = ownDepth - 1;
    else
      parent = rootCluster_;
    r.dataAreaSector = geometry.dataStart;
    r.volumeStartSector = geometry.volumeStart;
    FoundFileRecord* slot = log_->ReserveRecord();
    if (slot == nullptr) return;
    r.recordIndex = static_cast<uint32_t>(log_->RecordCount());
    *slot = r;
    log_->AddRelation(DirectoryKey(depth, parent), r.recordIndex, cluster, r.name);
  }
  known_.clear();
  named_.clear();
}

bool CProfessionalFatRecovery::FollowsSurvivingFat(const FoundFileRecord& record) const {
  if (!haveFat_) return false;
  const FatGeometry& g = fat_.geometry();
  if (record.dataAreaSector != g.dataStart || record.volumeStartSector != volumeStart_ ||
      record.clusterBytes != g.clusterBytes || !g.IsDataCluster(record.entryId))
    return false;
  uint32_t entry = 0;
  return fat_.Entry(record.entryId, entry) == 0 && entry != 0;
}

// A file's bytes: along its chain when the volume's FAT still holds one for
// it, else as consecutive clusters from its first one (a formatted volume's
// FAT is empty, and most files were written in one piece).
int CProfessionalFatRecovery::ReadFileContent(const FoundFileRecord& record,
                                              const ContentSink& sink) {
  if (!open_) return err::kInvalidHandle;
  uint64_t remaining = record.fileSize;
  if (remaining == 0) return err::kSuccess;
  if (record.clusterBytes == 0xFFFFFFFFu || record.clusterBytes == 0 ||
      record.clusterBytes % bytesPerSector_ != 0)
    return err::kInvalidData;
  if (record.clusterBytes > kMaxClusterBytes) return err::kWriteFault;
  if (record.entryId < 2) return err::kInvalidData;
  FatDeepGeometry g;
  g.sectorsPerCluster = record.clusterBytes / bytesPerSector_;
  g.volumeStart = record.volumeStartSector;
  if (record.dataAreaSector > UINT32_MAX) return err::kInvalidData;
  g.dataStart = static_cast<uint32_t>(record.dataAreaSector);
  const bool chained = FollowsSurvivingFat(record);

  std::vector<uint8_t> buffer(record.clusterBytes);
  uint32_t cluster = record.entryId;
  while (remaining > 0) {
    uint64_t sector = 0;
    if (!g.ClusterSector(cluster, sector)) return err::kInvalidData;
    const uint32_t wanted = static_cast<uint32_t>(
        std::min<uint64_t>(g.sectorsPerCluster, (remaining + bytesPerSector_ - 1) / bytesPerSector_));
    uint32_t got = 0;
    const int rc = source_.ReadSectors(wanted, buffer.data(), sector, bytesPerSector_, &got);
    const uint64_t use = std::min<uint64_t>(uint64_t{got} * bytesPerSector_, remaining);
    if (use > 0) {
      if (int stop = sink(buffer.data(), static_cast<size_t>(use)); stop != 0) return stop;
      remaining -= use;
    }
    if (remaining == 0) break;
    if (rc != 0) return rc == err::kInvalidParameter ? err::kHandleEof : rc;
    if (got == 0) return err::kReadFault;
    if (chained) {
      uint32_t next = 0;
      if (fat_.Entry(cluster, next) != 0 || !fat_.geometry().IsDataCluster(next))
        return err::kHandleEof;
      cluster = next;
    } else {
      if (cluster == UINT32_MAX) return err::kHandleEof;
      ++cluster;
    }
  }
  return err::kSuccess;
}

}  // namespace qm
