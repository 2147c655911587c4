#include "engines/deep/ntfs/ntfs_cluster_size.h"

#include "engines/ntfs/ntfs_file_record.h"
#include "engines/ntfs/ntfs_run_list.h"

namespace qm::ntfs {

int32_t GuessSectorsPerCluster(uint64_t sectors, uint32_t bytesPerSector) {
  if (bytesPerSector == 0) return 8;
  const double k = bytesPerSector / 512.0;
  const double mib = static_cast<double>(sectors) * bytesPerSector / 1048576.0;
  if (mib > 7 * k && mib <= 512 * k) return 1;
  if (mib > 512 * k && mib <= 1024 * k) return 2;
  if (mib > 1024 * k && mib <= 2048 * k) return 4;
  return 8;
}

std::optional<int32_t> SectorsPerClusterFromRecord(Bytes record, uint32_t bytesPerSector) {
  if (bytesPerSector == 0) return std::nullopt;
  AttributeWalker walker(record);
  Attribute a;
  while (walker.Next(a)) {
    if (a.type == kAttrAttributeList) return std::nullopt;
    if (a.type != kAttrData || a.nameLength != 0) continue;
    if (!a.nonResident) return std::nullopt;
    NonResidentHeader header;
    if (!ReadNonResidentHeader(a, header) || header.lowestVcn != 0) return std::nullopt;
    RunList runs;
    const uint64_t clusters = DecodeRunList(a, runs);
    if (clusters == 0) return std::nullopt;
    const uint64_t spc = header.allocatedSize / bytesPerSector / clusters;
    if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return std::nullopt;
    if (spc * clusters * bytesPerSector != header.allocatedSize) return std::nullopt;
    return static_cast<int32_t>(spc);
  }
  return std::nullopt;
}

}  // namespace qm::ntfs
