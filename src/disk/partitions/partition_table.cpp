#include "disk/partitions/partition_table.h"

#include <algorithm>
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

int CheckExtents(std::vector<TableExtent> extents, uint64_t firstUsable, uint64_t lastUsable,
                 std::string& reason) {
  for (const auto& e : extents) {
    // Written so that no sum can wrap: start and count come from the table.
    if (e.count == 0 || e.start < firstUsable || e.start > lastUsable ||
        e.count - 1 > lastUsable - e.start) {
      reason = e.what + " lies outside the usable sectors " + std::to_string(firstUsable) + "-" +
               std::to_string(lastUsable);
      return err::kInvalidData;
    }
  }
  std::sort(extents.begin(), extents.end(),
            [](const TableExtent& a, const TableExtent& b) { return a.start < b.start; });
  for (size_t i = 1; i < extents.size(); ++i) {
    const TableExtent& before = extents[i - 1];
    if (extents[i].start <= before.start + before.count - 1) {
      reason = before.what + " overlaps " + extents[i].what;
      return err::kInvalidData;
    }
  }
  return err::kSuccess;
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
      rc = ParseMbr(source, sector0.data(), table.entries, reason);
      break;
    case SectorZeroKind::kProtectiveMbr:
      table.scheme = PartitionScheme::kGpt;
      rc = ParseGpt(source, table, reason);
      break;
  }
  if (rc != 0) {
    table.entries.clear();
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
