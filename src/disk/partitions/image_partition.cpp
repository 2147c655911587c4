#include "disk/partitions/image_partition.h"

#include "disk/partitions/partition_table.h"
#include "platform/disk_table.h"
#include "platform/errors.h"

namespace qm {

namespace {
// The partition table of a whole-disk image; an image of a single volume has
// none and is refused (87), since it is scanned whole.
int ReadTableOfImage(const std::string& image, PartitionTable& parts, std::string& why) {
  int rc = ReadImagePartitionTable(image, parts, why);
  if (rc == 0 && parts.scheme == PartitionScheme::kNone) {
    why = "the image holds no partition table (an image of a single volume is scanned whole)";
    rc = err::kInvalidParameter;
  }
  return rc;
}
}  // namespace

int ResolveImagePartition(DiskTable& table, const std::string& image, int number,
                          int& driveIndex, uint64_t& startSector, uint64_t& sectorCount,
                          std::string* reason) {
  driveIndex = -1;
  startSector = 0;
  sectorCount = 0;
  PartitionTable parts;
  std::string why;
  int rc = ReadTableOfImage(image, parts, why);
  if (rc == 0) {
    rc = err::kInvalidParameter;
    why = "the image has no partition " + std::to_string(number);
    for (const auto& entry : parts.entries) {
      if (entry.number != number) continue;
      if (!entry.usable()) {
        rc = err::kInvalidData;
        why = "partition " + std::to_string(number) + " cannot be used: " + entry.problem;
        break;
      }
      startSector = entry.startSector;
      sectorCount = entry.sectorCount;
      rc = err::kSuccess;
      break;
    }
  }
  if (rc != 0) {
    if (reason) *reason = image + ": " + why;
    return rc;
  }
  driveIndex = table.Add(image);
  return err::kSuccess;
}

int AddPartitionedImage(DiskTable& table, const std::string& image, int& driveIndex,
                        std::string* reason) {
  driveIndex = -1;
  PartitionTable parts;
  std::string why;
  int rc = ReadTableOfImage(image, parts, why);
  if (rc != 0) {
    if (reason) *reason = image + ": " + why;
    return rc;
  }
  driveIndex = table.Add(image);
  return err::kSuccess;
}


}  // namespace qm
