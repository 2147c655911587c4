#include "engines/ntfs/ntfs_mft_run_map.h"

#include <algorithm>

namespace qm::ntfs {

namespace {

uint64_t SaturatingMul(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

}  // namespace

MftRunMap::MftRunMap(const RunList& runs, const NtfsGeometry& g) {
  const uint64_t spc = static_cast<uint32_t>(g.sectorsPerCluster);
  uint64_t start = 0;
  pieces_.reserve(runs.size());
  for (const DataRun& run : runs) {
    const uint64_t sectors = SaturatingMul(run.clusterCount, spc);
    if (sectors == 0) continue;
    if (sectors > UINT64_MAX - start) break;
    Piece piece;
    piece.sectors = sectors;
    piece.end = start + sectors;
    if (!run.sparse) {
      const uint64_t base = SaturatingMul(run.lcn, spc);
      // The whole run must be addressable for any sector of it to be.
      if (base <= UINT64_MAX - g.volumeStartSector &&
          sectors <= UINT64_MAX - g.volumeStartSector - base) {
        piece.diskStart = g.volumeStartSector + base;
        piece.mapped = true;
      }
    }
    pieces_.push_back(piece);
    start = piece.end;
  }
}

std::optional<uint64_t> MftRunMap::SectorOf(uint64_t index, uint64_t* leftInRun) const {
  if (leftInRun) *leftInRun = 0;
  // The first run that ends after `index` holds it: a sector exactly at a
  // run's end belongs to the next run.
  const auto it = std::upper_bound(pieces_.begin(), pieces_.end(), index,
                                   [](uint64_t i, const Piece& p) { return i < p.end; });
  if (it == pieces_.end()) return std::nullopt;
  const uint64_t offset = index - (it->end - it->sectors);
  if (leftInRun) *leftInRun = it->sectors - offset;
  if (!it->mapped) return std::nullopt;
  return it->diskStart + offset;
}

}  // namespace qm::ntfs
