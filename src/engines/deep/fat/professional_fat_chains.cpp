// The deep FAT engine's joining of a folder's later clusters: a folder
// that grew past one cluster goes on in a cluster that opens no folder.
// What each directory cluster tells (the folder it was filed under, the
// files it names, whether it is full) decides which folder grew into it, at
// once when one fits, else when the scan's evidence is in.
#include <algorithm>
#include <cstring>

#include "engines/deep/fat/professional_fat_recovery.h"
#include "engines/fat/fat_entry_names.h"

namespace qm {

namespace {

// Names noted per undecided cluster, and undecided clusters, at most: each
// settling round looks at every one of them.
constexpr size_t kMaxEarlierNames = 256;
constexpr size_t kMaxUndecided = 64;

}  // namespace

// What the sector, parsed in `at` (its directory and the first sector of
// its cluster), adds to what is known of the directory cluster holding it.
void CProfessionalFatRecovery::NoteDirectoryCluster(const uint8_t* data, size_t length,
                                                    uint64_t sector, const ClusterContext& at) {
  if (at.geometry == kNone || length < kFatEntryBytes) return;
  const FatDeepGeometry& g = geometries_[at.geometry];
  uint32_t cluster = 0;
  uint64_t first = 0;
  if (!g.ClusterHolding(sector, cluster, first) || first != at.sector) return;
  const std::pair key{at.geometry, cluster};
  auto it = directoryClusters_.find(key);
  if (it == directoryClusters_.end()) {
    if (directoryClusters_.size() >= limits_.pendingFiles * 4) return;
    it = directoryClusters_.emplace(key, DirectoryCluster{}).first;
  }
  DirectoryCluster& d = it->second;
  d.directory = at.cluster;
  std::vector<uint64_t>* names = nullptr;
  for (size_t off = 0; off + kFatEntryBytes <= length; off += kFatEntryBytes) {
    if (data[off] == 0) break;
    const FatDirEntry e = ReadFatDirEntry(data + off);
    if (IsLongNameEntry(e) || IsDotEntryName(e) || IsLabelEntry(e)) continue;
    if (!IsDeletedEntry(e) && shortNameCount_ < limits_.pendingFiles * 4) {
      if (names == nullptr) names = &shortNames_[d.directory];
      names->push_back(ShortNameKey(e));
      ++shortNameCount_;
      NoteEarlierName(e, d.directory);
    }
    d.highestFirst = std::max(d.highestFirst, FirstCluster(e));
  }
  if (sector + 1 == first + g.sectorsPerCluster) {
    d.full = data[length - kFatEntryBytes] != 0;
    if (d.full && !d.continued) openEnds_.insert(key);
  }
}

// A short name made from a long one ends in "~N"; "~2" and up were given
// because the name with the number below it was taken in the same folder.
// For a cluster whose folder is not yet known, that name is noted: the
// folder holding it is the one this cluster grew from.
void CProfessionalFatRecovery::NoteEarlierName(const FatDirEntry& e, uint32_t directory) {
  auto u = undecided_.find(directory);
  if (u == undecided_.end() || u->second.earlierNames.size() >= kMaxEarlierNames) return;
  for (int i = 7; i >= 1; --i) {
    if (e.name[i] == ' ') continue;
    if (e.name[i] < '2' || e.name[i] > '9' || e.name[i - 1] != '~') return;
    FatDirEntry earlier = e;
    --earlier.name[i];
    u->second.earlierNames.push_back(ShortNameKey(earlier));
    return;
  }
}

// Every full cluster of `directory` before `cluster` has a next one: the
// chain goes on at least as far as `cluster`.
void CProfessionalFatRecovery::ContinueChain(GeometryIndex g, uint32_t directory, uint32_t cluster) {
  for (auto it = openEnds_.lower_bound({g, 0}); it != openEnds_.end() && it->first == g &&
                                                it->second < cluster;) {
    DirectoryCluster& d = directoryClusters_[*it];
    if (d.directory != directory) {
      ++it;
      continue;
    }
    d.continued = true;
    it = openEnds_.erase(it);
  }
}

// A directory cluster that opens no folder and that no entry ties to one:
// a folder's later cluster. On a card written from empty, clusters are
// handed out in rising order: the folder grew into this cluster once its
// last cluster was full, so every file named there had been given a
// cluster before any file named here (the file whose entry made it grow
// may lie just before or just after it). When exactly one folder's last
// cluster fits, the cluster is that folder's; the newest file before it
// says nothing more, as files of other folders may have come in between.
bool CProfessionalFatRecovery::JoinContinuation(const uint8_t* data, size_t length,
                                                GeometryIndex g, uint32_t& directory) {
  const uint32_t cluster = directory;
  if (g == kNone || cluster < 2 || cluster == rootCluster_ || StartsWithDots(data, length))
    return false;
  uint32_t lowest = UINT32_MAX;
  for (size_t off = 0; off + kFatEntryBytes <= length; off += kFatEntryBytes) {
    if (data[off] == 0) break;
    const FatDirEntry e = ReadFatDirEntry(data + off);
    if (IsLabelEntry(e)) return false;
    // A deletion may have cleared the high word of a FAT32 first cluster.
    if (IsLongNameEntry(e) || IsDotEntryName(e) || IsDeletedEntry(e)) continue;
    const uint32_t c = FirstCluster(e);
    if (c >= 2) lowest = std::min(lowest, c);
  }
  if (lowest == UINT32_MAX) return false;
  int fits = 0;
  std::pair<GeometryIndex, uint32_t> fit{};
  for (auto it = openEnds_.lower_bound({g, 0}); it != openEnds_.end() && it->first == g &&
                                                it->second < cluster;
       ++it) {
    const DirectoryCluster& d = directoryClusters_[*it];
    if (d.highestFirst >= cluster || d.highestFirst >= lowest) continue;
    ++fits;
    fit = *it;
  }
  if (fits != 1) {
    // Several folders fit: a later cluster of one of them may still show
    // where it went on, so the files of this one wait for the end.
    if (fits > 1 && undecided_.size() < kMaxUndecided)
      undecided_.try_emplace(cluster, Undecided{g, lowest, {}});
    return false;
  }
  directory = directoryClusters_[fit].directory;
  ContinueChain(g, directory, cluster);
  return true;
}

// The names of a folder, sorted and without repeats, for the look-ups of
// the settling rounds (noting them while the pass runs costs an append).
const std::vector<uint64_t>* CProfessionalFatRecovery::SortedNames(uint32_t directory) {
  const auto it = shortNames_.find(directory);
  if (it == shortNames_.end()) return nullptr;
  std::vector<uint64_t>& names = it->second;
  if (!std::is_sorted(names.begin(), names.end())) {
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
  }
  return &names;
}

bool CProfessionalFatRecovery::HoldsAnyName(uint32_t directory, const std::vector<uint64_t>& keys) {
  const std::vector<uint64_t>* names = SortedNames(directory);
  return names != nullptr && std::any_of(keys.begin(), keys.end(), [&](uint64_t k) {
           return std::binary_search(names->begin(), names->end(), k);
         });
}

// The folder a settled cluster was found to belong to, followed through
// clusters settled onto clusters settled later; itself when not settled.
uint32_t CProfessionalFatRecovery::SettledFolder(uint32_t directory) const {
  for (size_t n = 0; n < 64; ++n) {
    const auto it = settled_.find(directory);
    if (it == settled_.end()) break;
    directory = it->second;
  }
  return directory;
}

uint64_t CProfessionalFatRecovery::ShortNameKey(const FatDirEntry& e) {
  uint64_t key = 0;
  for (int i = 0; i < 11; ++i) key = key * 1099511628211ull ^ (i < 8 ? e.name[i] : e.ext[i - 8]);
  return key;
}

bool CProfessionalFatRecovery::ShareShortName(uint32_t a, uint32_t b) {
  const std::vector<uint64_t>* first = SortedNames(a);
  const std::vector<uint64_t>* second = SortedNames(b);
  if (first == nullptr || second == nullptr) return false;
  for (auto i = first->begin(), j = second->begin(); i != first->end() && j != second->end();) {
    if (*i == *j) return true;
    if (*i < *j) ++i;
    else ++j;
  }
  return false;
}

// The later clusters whose folder was unclear, tried again now that more
// chains have gone on elsewhere; their waiting files are written either
// way, under the folder found or as a lost folder of their own.
void CProfessionalFatRecovery::SettleUndecided() {
  // The folders whose last cluster fits `cluster`, and those of them that
  // hold a name its own names were made to differ from.
  struct Fits {
    int count = 0, named = 0;
    uint32_t only = 0, onlyNamed = 0;
  };
  auto fitsOf = [&](uint32_t cluster, const Undecided& u) {
    Fits f;
    for (auto it = openEnds_.lower_bound({u.geometry, 0});
         it != openEnds_.end() && it->first == u.geometry && it->second < cluster; ++it) {
      const DirectoryCluster& d = directoryClusters_[*it];
      if (d.highestFirst >= cluster || d.highestFirst >= u.lowest || d.directory == cluster) continue;
      // Short names are unique within a folder: one that both hold rules
      // the folder out.
      if (ShareShortName(cluster, d.directory)) continue;
      ++f.count;
      f.only = d.directory;
      if (HoldsAnyName(d.directory, u.earlierNames)) {
        ++f.named;
        f.onlyNamed = d.directory;
      }
    }
    return f;
  };
  auto settle = [&](std::map<uint32_t, Undecided>::iterator u, uint32_t directory) {
    const uint32_t cluster = u->first;
    ContinueChain(u->second.geometry, directory, cluster);
    for (auto& [key, d] : directoryClusters_)
      if (d.directory == cluster) d.directory = directory;
    if (auto names = shortNames_.extract(cluster)) {
      std::vector<uint64_t>& into = shortNames_[directory];
      into.insert(into.end(), names.mapped().begin(), names.mapped().end());
    }
    settled_[cluster] = directory;
    return undecided_.erase(u);
  };
  // The surest first: clusters only one folder fits, again and again as
  // each settled one closes a folder's end; then, when none is left, the
  // lowest cluster a name ties to one folder, and round again.
  for (bool named = true; named;) {
    for (bool again = true; again;) {
      again = false;
      for (auto u = undecided_.begin(); u != undecided_.end();) {
        const Fits f = fitsOf(u->first, u->second);
        if (f.count != 1) {
          ++u;
          continue;
        }
        u = settle(u, f.only);
        again = true;
      }
    }
    named = false;
    for (auto u = undecided_.begin(); u != undecided_.end() && !named; ++u) {
      const Fits f = fitsOf(u->first, u->second);
      if (f.named != 1) continue;
      settle(u, f.onlyNamed);
      named = true;
    }
  }
  undecided_.clear();
  std::vector<PendingFile> held;
  held.swap(held_);
  for (PendingFile& p : held) {
    const uint32_t directory = SettledFolder(p.directory);
    const GeometryIndex g = static_cast<GeometryIndex>(p.geometry);
    WriteFile(p.record, g, directory);
    RegisterChain(directory, p.record.anchorSector, g);
  }
  // The room stays for the next files held: a file held costs no allocation.
  held.clear();
  held_.swap(held);
}

}  // namespace qm
