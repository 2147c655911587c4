#include "disk/partitions/partition_table.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "disk/partitions/gpt_table.h"
#include "disk/partitions/mbr_table.h"
#include "disk/sector_source.h"
#include "platform/errors.h"

namespace qm {

const char* SchemeName(PartitionScheme scheme) {
  switch (scheme) {
    case PartitionScheme::kMbr: return "MBR";
    case PartitionScheme::kGpt: return "GPT";
    case PartitionScheme::kNone: break;
  }
  return "none";
}

void MarkExtentProblems(std::vector<TableExtent>& extents, uint64_t firstUsable,
                        uint64_t lastUsable, uint64_t diskSectors) {
  for (TableExtent& e : extents) {
    if (!e.problem.empty()) continue;
    // Written so that no sum can wrap: start and count come from the table.
    if (e.count == 0) {
      e.problem = "it holds no sectors";
    } else if (e.start < diskSectors && e.count - 1 > diskSectors - 1 - e.start) {
      e.problem = "it runs past the end of the disk (it needs " + std::to_string(e.count) +
                  " sectors from sector " + std::to_string(e.start) + ", the disk has " +
                  std::to_string(diskSectors) + ")";
    } else if (e.start < firstUsable || e.start > lastUsable ||
               e.count - 1 > lastUsable - e.start) {
      e.problem = "it lies outside the usable sectors " + std::to_string(firstUsable) + "-" +
                  std::to_string(lastUsable);
    }
  }
  std::vector<size_t> order;
  for (size_t i = 0; i < extents.size(); ++i)
    if (extents[i].problem.empty()) order.push_back(i);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return extents[a].start < extents[b].start; });
  // Neither of two overlapping extents can be trusted to hold what it
  // claims: both are marked. `reach` is the sound extent that ends last.
  size_t reach = SIZE_MAX;
  std::vector<std::string> overlaps(extents.size());
  for (size_t i : order) {
    if (reach != SIZE_MAX) {
      const TableExtent& before = extents[reach];
      if (extents[i].start <= before.start + before.count - 1) {
        overlaps[i] = "it overlaps " + before.what;
        if (overlaps[reach].empty()) overlaps[reach] = "it overlaps " + extents[i].what;
      }
      if (extents[i].start + extents[i].count <= before.start + before.count) continue;
    }
    reach = i;
  }
  for (size_t i = 0; i < extents.size(); ++i)
    if (!overlaps[i].empty()) extents[i].problem = overlaps[i];
}

int ReadPartitionTable(const SectorSource& source, PartitionTable& table, std::string& reason) {
  table = PartitionTable{};
  reason.clear();
  table.sectorSize = source.info().sectorSize;
  table.diskSectors = source.totalSectors();
  if (table.sectorSize < 512 || table.diskSectors == 0) return err::kSuccess;

  std::vector<uint8_t> sector0(table.sectorSize);
  uint32_t got = 0;
  if (int rc = source.ReadSectors(1, sector0.data(), 0, table.sectorSize, &got); rc != 0)
    return rc;

  int rc = err::kSuccess;
  switch (ClassifySectorZero(sector0.data(), sector0.size())) {
    case SectorZeroKind::kNoTable:
      return err::kSuccess;
    case SectorZeroKind::kMbr:
      table.scheme = PartitionScheme::kMbr;
      ParseMbr(source, sector0.data(), table);
      break;
    case SectorZeroKind::kProtectiveMbr:
      table.scheme = PartitionScheme::kGpt;
      rc = ParseGpt(source, table, reason);
      break;
  }
  if (rc != 0) {
    table.entries.clear();
    table.note.clear();
    return rc;
  }
  std::sort(table.entries.begin(), table.entries.end(),
            [](const PartitionEntry& a, const PartitionEntry& b) { return a.number < b.number; });
  return err::kSuccess;
}

int ReadImagePartitionTable(const std::string& imagePath, PartitionTable& table,
                            std::string& reason) {
  SectorSource source;
  if (int rc = source.OpenImageSource(imagePath); rc != 0) {
    table = PartitionTable{};
    reason = ErrorText(rc);
    return rc;
  }
  return ReadPartitionTable(source, table, reason);
}

}  // namespace qm
