// The deep FAT engine's handling of directory sectors: placing them on a
// layout, parsing their entries, joining long names cut by a sector's end,
// and filing what it finds under directory clusters.
#include <algorithm>
#include <cstring>
#include <set>

#include "engines/deep/fat/professional_fat_recovery.h"
#include "engines/fat/fat_entry_names.h"
#include "platform/errors.h"
#include "results/scan_log_store.h"

namespace qm {

namespace {

constexpr uint32_t kRootSectors = 32;
constexpr size_t kMaxOpenFragments = 16;
// Files of undecided clusters held back, at most (about half a MiB).
constexpr size_t kMaxHeldFiles = 1024;
// The first byte of a deleted directory entry, long-name pieces included.
constexpr uint8_t kDeletedMark = 0xE5;
// A chain of ".." links longer than this is damaged.
constexpr size_t kMaxChain = 4096;

}  // namespace

void CProfessionalFatRecovery::OnDotClusterSector(const uint8_t* data, size_t bytes,
                                                  uint64_t sector) {
  if (!log_ || !log_->IsOpen() || !StartsWithDots(data, bytes)) return;
  const uint32_t cluster = FirstCluster(ReadFatDirEntry(data));
  GeometryIndex g = GeometryFor(cluster, sector);
  if (g == kNone) {
    for (const auto& [c2, s2] : sightings_) {
      FatDeepGeometry solved;
      if (SolveFatGeometry(cluster, sector, c2, s2, volumeStart_, solved)) {
        AddGeometry(solved);
        break;
      }
    }
    if (sightings_.size() < limits_.sightings) sightings_.emplace_back(cluster, sector);
    g = GeometryFor(cluster, sector);
    if (g != kNone) {
      PlacePending();
      // The sectors kept for want of a layout lie before this one: parsed
      // now, the long names they leave open can still be joined to what
      // follows.
      PlaceUnplaced(unplaced_.size());
    }
  }
  if (g != kNone) current_ = ClusterContext{g, cluster, sector};
  else current_.reset();
  if (auto fragment = ParseBlock(data, bytes, sector, g, cluster)) KeepFragment(std::move(*fragment));
  if (current_) NoteDirectoryCluster(data, bytes, sector, *current_);
}

void CProfessionalFatRecovery::OnDirectorySector(const uint8_t* data, size_t bytes,
                                                 uint64_t sector) {
  if (!log_ || !log_->IsOpen() || bytes < kFatEntryBytes) return;
  for (auto it = fragments_.rbegin(); it != fragments_.rend(); ++it) {
    if (!ContinuesFragment(*it, data, sector)) continue;
    NameFragment fragment = std::move(*it);
    fragments_.erase(std::next(it).base());
    // The rest of this cluster belongs to the fragment's directory too.
    uint32_t cluster = 0;
    if (fragment.geometry != kNone &&
        geometries_[fragment.geometry].ClusterStartingAt(sector, cluster)) {
      current_ = ClusterContext{fragment.geometry, fragment.directory, sector};
      if (cluster != fragment.directory) ContinueChain(fragment.geometry, fragment.directory, cluster);
    }
    JoinAndParse(std::move(fragment), data, bytes);
    if (current_) NoteDirectoryCluster(data, bytes, sector, *current_);
    return;
  }
  if (current_ && sector >= current_->sector) {
    const uint32_t span = current_->cluster == 0 && current_->sector + kRootSectors ==
                                                        geometries_[current_->geometry].DataArea()
                              ? kRootSectors
                              : geometries_[current_->geometry].sectorsPerCluster;
    if (sector - current_->sector < span) {
      if (auto f = ParseBlock(data, bytes, current_->sector, current_->geometry, current_->cluster))
        KeepFragment(std::move(*f));
      if (current_) NoteDirectoryCluster(data, bytes, sector, *current_);
      return;
    }
  }
  ClusterContext context;
  if (PlaceSector(sector, context)) {
    const uint32_t cluster = context.cluster;
    ResolveDirectory(data, bytes, context.geometry, context.cluster);
    if (context.cluster != cluster) ContinueChain(context.geometry, context.cluster, cluster);
    else JoinContinuation(data, bytes, context.geometry, context.cluster);
    current_ = context;
    if (auto f = ParseBlock(data, bytes, sector, context.geometry, context.cluster))
      KeepFragment(std::move(*f));
    if (current_) NoteDirectoryCluster(data, bytes, sector, *current_);
    return;
  }
  KeepUnplaced(data, bytes, sector);
}

// The directory a block belongs to, when the cluster it lies in is not the
// directory's first: a sub-directory listed in it names it in its "..".
void CProfessionalFatRecovery::ResolveDirectory(const uint8_t* data, size_t length,
                                                GeometryIndex g, uint32_t& directory) {
  const FatDirEntry first = ReadFatDirEntry(data);
  if (IsLabelEntry(first)) {
    directory = rootCluster_;
    return;
  }
  if (StartsWithDots(data, length)) {
    directory = FirstCluster(first);
    return;
  }
  if (g == kNone || directory == 0 || directory == rootCluster_) return;
  const FatDeepGeometry& geometry = geometries_[g];
  std::vector<uint8_t> sector;
  if (ReadClusterStart(geometry, directory, sector) && StartsWithDots(sector.data(), sector.size()))
    return;
  for (size_t off = 0; off + kFatEntryBytes <= length; off += kFatEntryBytes) {
    if (data[off] == 0) break;
    if (!IsDirectoryEntry(data + off, length - off)) continue;
    const FatDirEntry e = ReadFatDirEntry(data + off);
    if (IsLongNameEntry(e) || !(e.attributes & fatattr::kDirectory) || IsDotEntryName(e)) continue;
    const uint32_t child = GuessHighWord(e, ShortEntryName(e), true, geometry);
    if (child < 2 || child == directory || !ReadClusterStart(geometry, child, sector) ||
        !StartsWithDots(sector.data(), sector.size()))
      continue;
    const uint32_t up = FirstCluster(ReadFatDirEntry(sector.data() + kFatEntryBytes));
    directory = up == 0 ? rootCluster_ : up;
    return;
  }
}

std::optional<CProfessionalFatRecovery::NameFragment> CProfessionalFatRecovery::ParseBlock(
    const uint8_t* data, size_t length, uint64_t sector, GeometryIndex g, uint32_t directory) {
  if (IsLiveDirectory(g, directory)) return std::nullopt;
  std::u16string units;
  int pieces = 0;
  int expected = 0;  // pieces the chain's first entry announces
  uint8_t checksum = 0;
  size_t chainStart = 0;
  bool open = false;
  size_t off = 0;
  for (; off + kFatEntryBytes <= length; off += kFatEntryBytes) {
    const uint8_t* p = data + off;
    if (p[0] == 0) break;
    if (!IsDirectoryEntry(p, length - off)) {
      open = false;
      continue;
    }
    const FatDirEntry e = ReadFatDirEntry(p);
    if (IsLongNameEntry(e)) {
      const FatLongNameEntry piece = ReadFatLongNameEntry(p);
      // A deletion overwrites every piece's order number with 0xE5, whose
      // 0x40 bit is no "last piece" mark: the pieces of a deleted name are
      // held together by their checksum alone.
      const bool startsChain = piece.sequence != kDeletedMark && (piece.sequence & 0x40);
      if (!open || startsChain || piece.checksum != checksum) {
        units.clear();
        pieces = 0;
        // A chain met from its middle (its start lay in another cluster)
        // gives no name of its own; it is kept only to be joined.
        expected = startsChain ? (piece.sequence & 0x3F) : -1;
        checksum = piece.checksum;
        chainStart = off;
        open = true;
      }
      if (pieces >= kMaxLongNamePieces) return std::nullopt;
      char16_t text[kLongNamePieceUnits];
      LongNamePieceUnits(piece, text);
      units.insert(0, text, kLongNamePieceUnits);
      ++pieces;
      continue;
    }
    std::string name;
    // A deletion marks the short name's first byte, so the chain's checksum
    // no longer fits it; the chain right before it is still its name.
    if (open && (IsDeletedEntry(e) || (pieces == expected && ShortNameChecksum(e.name) == checksum)))
      name = LongEntryName(units);
    open = false;
    if (IsDotEntryName(e) || IsLabelEntry(e)) continue;
    if (name.empty()) name = ShortEntryName(e);
    if (e.attributes & fatattr::kDirectory) AddDirectoryEntry(e, name, sector, g, directory);
    else if (e.attributes & fatattr::kArchive) AddFileEntry(e, name, sector, g, directory);
  }
  if (!open || off + kFatEntryBytes <= length) return std::nullopt;
  NameFragment fragment;
  fragment.checksum = checksum;
  fragment.geometry = g;
  fragment.directory = directory;
  fragment.sector = sector;
  fragment.bytes.assign(data + chainStart, data + length);
  return fragment;
}

bool CProfessionalFatRecovery::ContinuesFragment(const NameFragment& f, const uint8_t* data,
                                                 uint64_t sector) const {
  const uint64_t reach = f.geometry == kNone ? kRootSectors
                                             : std::max<uint64_t>(kRootSectors,
                                                                  geometries_[f.geometry].sectorsPerCluster);
  if (sector <= f.sector) return false;
  // A directory's next cluster may lie anywhere after it; a name's checksum
  // links the pieces wherever they are. A deleted short entry has lost that
  // link and is joined only close by.
  const FatDirEntry e = ReadFatDirEntry(data);
  if (IsLongNameEntry(e))
    return (e.name[0] == kDeletedMark || !(e.name[0] & 0x40)) &&
           ReadFatLongNameEntry(data).checksum == f.checksum;
  if (IsDeletedEntry(e)) return sector - f.sector <= reach;
  return e.name[0] != 0 && ShortNameChecksum(e.name) == f.checksum;
}

void CProfessionalFatRecovery::JoinAndParse(NameFragment f, const uint8_t* data, size_t length) {
  std::vector<uint8_t> joined = std::move(f.bytes);
  joined.insert(joined.end(), data, data + length);
  if (auto rest = ParseBlock(joined.data(), joined.size(), f.sector, f.geometry, f.directory)) {
    // Only the chain's own bytes are carried on, so a name spread over many
    // sectors costs no more than its 20 entries.
    KeepFragment(std::move(*rest));
  }
}

void CProfessionalFatRecovery::KeepFragment(NameFragment f) {
  if (f.bytes.size() > (kMaxLongNamePieces + 1) * kFatEntryBytes) return;
  fragments_.push_back(std::move(f));
  if (fragments_.size() > kMaxOpenFragments) fragments_.pop_front();
}

void CProfessionalFatRecovery::AddDirectoryEntry(const FatDirEntry& e, std::string name,
                                                 uint64_t sector, GeometryIndex g,
                                                 uint32_t directory) {
  const uint32_t cluster = g == kNone ? FirstCluster(e) : GuessHighWord(e, name, true, geometries_[g]);
  if (cluster < 2 || cluster == directory) return;
  const bool deleted = IsDeletedEntry(e);
  auto it = named_.find(cluster);
  // A cluster named by a live entry keeps that name: a stale deleted entry
  // pointing at the same cluster is an older folder that lived there.
  if (it != named_.end() && !it->second.deleted && deleted) return;
  if (it == named_.end() && named_.size() >= limits_.pendingFiles * 4) return;
  NamedDirectory n;
  n.name = std::move(name);
  const FatEntryTimes times = EntryTimes(e);
  n.creationTime = times.created;
  n.accessTime = times.accessed;
  n.writeTime = times.written;
  n.deleted = deleted;
  n.parent = directory;
  n.geometry = g;
  n.sector = sector;
  named_[cluster] = std::move(n);
}

void CProfessionalFatRecovery::AddFileEntry(const FatDirEntry& e, std::string name, uint64_t sector,
                                            GeometryIndex g, uint32_t directory) {
  FoundFileRecord record;
  FillRecord(record, e, name, sector, g);
  if (g != kNone) {
    record.entryId = GuessHighWord(e, name, false, geometries_[g]);
    if (undecided_.count(directory)) {
      if (held_.size() < kMaxHeldFiles) {
        if (held_.capacity() == 0) held_.reserve(kMaxHeldFiles);
        held_.push_back(PendingFile{record, directory, false, g});
        return;
      }
      // Memory stays bounded: what is held is settled with what is known.
      SettleUndecided();
    }
    directory = SettledFolder(directory);
    WriteFile(record, g, directory);
    RegisterChain(directory, sector, g);
    return;
  }
  pending_.push_back(PendingFile{record, directory, false});
  known_.try_emplace(directory, KnownDirectory{kNone, sector});
  if (pending_.size() - pendingPlaced_ >= limits_.pendingFiles)
    ForcePending(std::max<size_t>(1, limits_.pendingFiles / 2));
}

void CProfessionalFatRecovery::WriteFile(FoundFileRecord record, GeometryIndex g,
                                         uint32_t directory) {
  uint32_t depth = 1;
  if (g != kNone) {
    const FatDeepGeometry& geometry = geometries_[g];
    record.clusterBytes = bytesPerSector_ * geometry.sectorsPerCluster;
    record.dataAreaSector = geometry.dataStart;
    record.volumeStartSector = geometry.volumeStart;
    depth = CountDirectoryDepth(directory, geometry);
    record.contentOk = ContentOk(record, geometry);
  } else if (directory == rootCluster_) {
    depth = 0;
  }
  FoundFileRecord* slot = log_->ReserveRecord();
  if (slot == nullptr) return;
  record.recordIndex = static_cast<uint32_t>(log_->RecordCount());
  *slot = record;
  log_->AddRelation(DirectoryKey(depth, directory), record.recordIndex, record.entryId, nullptr);
}

// Every directory between `directory` and the root is noted, so that the
// folders a file lies in are written at the end, named or lost.
void CProfessionalFatRecovery::RegisterChain(uint32_t directory, uint64_t sector, GeometryIndex g) {
  std::set<uint32_t> seen;
  uint32_t c = directory;
  while (c >= 2 && c != rootCluster_ && seen.size() < kMaxChain && seen.insert(c).second) {
    auto [it, inserted] = known_.try_emplace(c, KnownDirectory{g, sector});
    if (!inserted) {
      if (it->second.geometry != kNone || g == kNone) break;
      it->second = KnownDirectory{g, sector};
    }
    if (g == kNone) break;
    // Up along ".." as the depths are counted, so that every folder on the
    // way is written where the listing looks for it.
    uint32_t parent = 0;
    if (!FindParentCluster(c, geometries_[g], parent) || parent == c) break;
    if (!geometries_[g].ClusterSector(parent, sector)) break;
    c = parent;
  }
}

void CProfessionalFatRecovery::KeepUnplaced(const uint8_t* data, size_t length, uint64_t sector) {
  if (unplaced_.size() >= limits_.unplacedSectors) {
    if (geometries_.empty()) {
      unplaced_.erase(unplaced_.begin());
      ++droppedSectors_;
    } else {
      PlaceUnplaced(std::max<size_t>(1, limits_.unplacedSectors / 2));
    }
  }
  unplaced_.emplace(sector, std::vector<uint8_t>(data, data + length));
}

// The oldest `count` kept sectors, parsed with the best layout there is.
void CProfessionalFatRecovery::PlaceUnplaced(size_t count) {
  std::optional<ClusterContext> last;
  while (count-- > 0 && !unplaced_.empty()) {
    auto node = unplaced_.extract(unplaced_.begin());
    const uint64_t sector = node.key();
    const std::vector<uint8_t>& bytes = node.mapped();
    bool joined = false;
    for (auto it = fragments_.rbegin(); it != fragments_.rend(); ++it) {
      if (!ContinuesFragment(*it, bytes.data(), sector)) continue;
      NameFragment fragment = std::move(*it);
      fragments_.erase(std::next(it).base());
      JoinAndParse(std::move(fragment), bytes.data(), bytes.size());
      joined = true;
      break;
    }
    if (joined) continue;
    ClusterContext context;
    if (PlaceSector(sector, context)) {
      ResolveDirectory(bytes.data(), bytes.size(), context.geometry, context.cluster);
      last = context;
    } else if (last && sector > last->sector &&
               sector - last->sector < geometries_[last->geometry].sectorsPerCluster) {
      // The rest of the cluster whose first sector was placed.
      context = *last;
    } else {
      const GeometryIndex g = NearestGeometry(sector);
      uint32_t cluster = 0;
      uint64_t first = 0;
      if (g == kNone || !geometries_[g].ClusterHolding(sector, cluster, first)) {
        ++droppedSectors_;
        continue;
      }
      context = {g, cluster, first};
      ResolveDirectory(bytes.data(), bytes.size(), g, context.cluster);
    }
    if (auto f = ParseBlock(bytes.data(), bytes.size(), context.sector, context.geometry,
                            context.cluster))
      KeepFragment(std::move(*f));
    NoteDirectoryCluster(bytes.data(), bytes.size(), sector, context);
  }
}

// Files parsed before any layout fitted their directory, now placed by every
// layout under which their directory begins where it was found.
void CProfessionalFatRecovery::PlacePending() {
  for (size_t gi = 0; gi < geometries_.size(); ++gi) {
    for (PendingFile& p : pending_) {
      if (p.placed) continue;
      uint64_t at = 0;
      if (!geometries_[gi].ClusterSector(p.directory, at) || at != p.record.anchorSector) continue;
      p.placed = true;
      ++pendingPlaced_;
      WriteFile(p.record, static_cast<int>(gi), p.directory);
      RegisterChain(p.directory, p.record.anchorSector, static_cast<int>(gi));
    }
  }
  std::erase_if(pending_, [](const PendingFile& p) { return p.placed; });
  pendingPlaced_ = 0;
}

// Writes the oldest `count` waiting files with the nearest layout, or with
// none when no layout is known at all: their names are kept either way.
void CProfessionalFatRecovery::ForcePending(size_t count) {
  for (PendingFile& p : pending_) {
    if (count == 0) break;
    if (p.placed) continue;
    --count;
    p.placed = true;
    const GeometryIndex g = NearestGeometry(p.record.anchorSector);
    WriteFile(p.record, g, p.directory);
    if (g != kNone) RegisterChain(p.directory, p.record.anchorSector, g);
  }
  std::erase_if(pending_, [](const PendingFile& p) { return p.placed; });
  pendingPlaced_ = 0;
}

// A directory of the volume as it stands now: the quick scan walks it and
// files what was deleted in it, so it is not filed twice.
bool CProfessionalFatRecovery::IsLiveDirectory(GeometryIndex g, uint32_t directory) const {
  if (!haveFat_ || !seeded_ || g != 0 || fat_.rootClusterDamaged()) return false;
  const FatGeometry& live = fat_.geometry();
  if (directory == 0) return !live.IsFat32();
  uint32_t entry = 0;
  return live.IsDataCluster(directory) && fat_.Entry(directory, entry) == 0 && entry != 0;
}

}  // namespace qm
