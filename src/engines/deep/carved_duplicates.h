// Carved files that a file-system engine found already.
//
// A deleted JPEG listed by the NTFS or FAT engine under its own name is
// usually carved too, as "<sector>.jpg", from the same first sector. The
// listings keep the named one: a carved record is a duplicate when a
// file-system record's data starts at the carved record's sector with the
// same extension (without regard to case), or when a carved "jpg" starts
// where a "thm" file does (a camera's thumbnail file is a JPEG).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "disk/sector_source.h"
#include "results/found_file_record.h"

namespace qm {

class CarvedDuplicates {
 public:
  // Indexes a file-system record by where its data starts; records whose
  // start cannot be told (resident NTFS data, folders) are left out.
  // `source` is read for NTFS records, whose data runs are in the MFT
  // record at anchorSector.
  void Add(const FoundFileRecord& record, const SectorSource& source, uint32_t sectorSize);
  bool IsDuplicate(const FoundFileRecord& carved) const;
  size_t size() const { return bySector_.size(); }

  // Absolute sector where the record's data starts; false when unknown.
  static bool DataStartSector(const FoundFileRecord& record, const SectorSource& source,
                              uint32_t sectorSize, uint64_t& sector);

 private:
  std::unordered_map<uint64_t, std::vector<std::string>> bySector_;
};

// Lower-cased extension of a record's name without the dot; empty when none.
std::string LowerExtension(const FoundFileRecord& record);

}  // namespace qm
