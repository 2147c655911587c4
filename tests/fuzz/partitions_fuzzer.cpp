// The MBR and GPT readers over a mutated disk image: sector 0, the chain of
// extended boot records, the primary and backup GPT headers and their entry
// arrays. Every entry they accept as usable must lie on the disk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "disk/partitions/partition_table.h"
#include "fuzz_workspace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::fuzz::ClearAfterInput clear;
  const std::string image = qm::fuzz::FuzzWorkspace::Get().WriteImage(data, size);
  qm::PartitionTable table;
  std::string reason;
  if (qm::ReadImagePartitionTable(image, table, reason) != 0) return 0;
  for (const qm::PartitionEntry& e : table.entries) {
    if (!e.usable()) continue;
    if (e.sectorCount == 0 || e.startSector >= table.diskSectors ||
        e.sectorCount > table.diskSectors - e.startSector) {
      std::abort();
    }
  }
  qm::SchemeName(table.scheme);
  return 0;
}
