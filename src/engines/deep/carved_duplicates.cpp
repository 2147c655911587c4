#include "engines/deep/carved_duplicates.h"

#include <algorithm>

#include "engines/ntfs/ntfs_file_record.h"
#include "engines/ntfs/ntfs_run_list.h"

namespace qm {

namespace {

constexpr uint32_t kDataAttribute = 0x80;
// An MFT record is never larger than this; the record says its own size.
constexpr size_t kMaxRecordBytes = 4096;

bool NtfsDataStart(const FoundFileRecord& record, const SectorSource& source,
                   uint32_t sectorSize, uint64_t& sector) {
  if (record.clusterBytes == 0 || record.clusterBytes == 0xFFFFFFFFu || sectorSize == 0)
    return false;
  std::vector<uint8_t> bytes(kMaxRecordBytes, 0);
  uint32_t got = 0;
  source.ReadSectors(static_cast<uint32_t>(kMaxRecordBytes / sectorSize), bytes.data(),
                     record.anchorSector, sectorSize, &got);
  if (got == 0) return false;
  bytes.resize(size_t{got} * sectorSize);
  ntfs::RecordHeader header;
  if (!ntfs::ParseRecordHeader(bytes, header)) return false;
  if (header.bytesAllocated >= 512 && header.bytesAllocated < bytes.size())
    bytes.resize(header.bytesAllocated);
  bytes.resize(ntfs::ApplyFixups(bytes));
  ntfs::AttributeWalker walker(bytes);
  ntfs::Attribute attribute;
  while (walker.Next(attribute)) {
    if (attribute.type != kDataAttribute || attribute.nameLength != 0) continue;
    if (!attribute.nonResident) return false;  // the data lies in the record itself
    ntfs::NonResidentHeader nonResident;
    if (!ntfs::ReadNonResidentHeader(attribute, nonResident) || nonResident.lowestVcn != 0)
      continue;
    ntfs::RunList runs;
    ntfs::DecodeRunList(attribute, runs);
    if (runs.empty() || runs.front().sparse) return false;
    sector = runs.front().lcn * record.clusterBytes / sectorSize + record.volumeStartSector;
    return true;
  }
  return false;
}

}  // namespace

std::string LowerExtension(const FoundFileRecord& record) {
  const std::string name = record.Name();
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return ext;
}

bool CarvedDuplicates::DataStartSector(const FoundFileRecord& record, const SectorSource& source,
                                       uint32_t sectorSize, uint64_t& sector) {
  if (record.isDirectory) return false;
  switch (static_cast<EngineKind>(record.engineKind)) {
    case EngineKind::kNtfsQuick:
    case EngineKind::kNtfsDeep: return NtfsDataStart(record, source, sectorSize, sector);
    case EngineKind::kFatQuick:
    case EngineKind::kFatDeep: {
      if (sectorSize == 0 || record.clusterBytes == 0xFFFFFFFFu) return false;
      const uint64_t dataArea = record.volumeStartSector + record.dataAreaSector;
      if (record.entryId == 0) {
        // A file without a first cluster is indexed 32 sectors before the
        // data area, where no carved file of its kind starts.
        if (dataArea < 32) return false;
        sector = dataArea - 32;
        return true;
      }
      if (record.entryId < 2) return false;
      sector = dataArea + uint64_t{record.entryId - 2} * record.clusterBytes / sectorSize;
      return true;
    }
    default: return false;
  }
}

void CarvedDuplicates::Add(const FoundFileRecord& record, const SectorSource& source,
                           uint32_t sectorSize) {
  uint64_t sector = 0;
  if (!DataStartSector(record, source, sectorSize, sector)) return;
  bySector_[sector].push_back(LowerExtension(record));
}

bool CarvedDuplicates::IsDuplicate(const FoundFileRecord& carved) const {
  const uint64_t anchor = carved.anchorSector;
  const auto found = bySector_.find(anchor);
  if (found == bySector_.end()) return false;
  const std::string ext = LowerExtension(carved);
  for (const std::string& indexed : found->second) {
    if (indexed == ext) return true;
    if (ext == "jpg" && indexed == "thm") return true;
  }
  return false;
}

}  // namespace qm
