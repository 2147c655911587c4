// NtfsVolume: record and attribute reads on an opened NTFS volume.
//
// Holds the geometry and the run list of the $MFT itself, through which MFT
// record numbers become disk sectors. Every read goes through the
// SectorSource; every structure read is bounds-checked against the record it
// lies in, so a damaged or hostile volume ends a lookup with a code instead
// of a crash.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "disk/sector_source.h"
#include "engines/ntfs/ntfs_file_record.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_mft_run_map.h"
#include "engines/ntfs/ntfs_run_list.h"

namespace qm::ntfs {

// Where a file's unnamed data stream lives.
struct DataStream {
  bool resident = false;
  std::vector<uint8_t> residentBytes;
  RunList runs;
  uint64_t dataSize = 0;
  uint64_t initializedSize = 0;
  uint16_t flags = 0;           // compressed / encrypted / sparse
  uint8_t compressionUnit = 0;  // log2 of clusters per compression unit
};

// The absolute sector of sector `index` of the $MFT's data, or none when the
// runs do not reach it (or it lies in a sparse run). A sector that is exactly
// the first after a run belongs to the next run. `leftInRun` receives the
// sectors from `index` to the end of its run (0 when no run holds it).
std::optional<uint64_t> MftSectorOf(uint64_t index, const RunList& mftRuns, const NtfsGeometry& g,
                                    uint64_t* leftInRun = nullptr);
// The absolute first sector of MFT record `number`.
std::optional<uint64_t> RecordNumberToSector(uint64_t number, const RunList& mftRuns,
                                             const NtfsGeometry& g);

class NtfsVolume {
 public:
  // The attribute list of a file holds at most this many bytes here; real
  // lists stay far below it.
  static constexpr uint64_t kMaxAttributeListBytes = 256 * 1024;

  NtfsVolume() = default;
  NtfsVolume(const SectorSource* source, const NtfsGeometry& geometry);

  const NtfsGeometry& geometry() const { return geometry_; }

  // The size the boot sector declares and the size the source holds are
  // kept apart (as The Sleuth Kit's last_block and last_block_act): the
  // volume's structures are checked against the declared size, but every
  // allocation and read is cut to what the source holds, so a boot sector
  // or run list that claims terabytes costs nothing on a small image.
  // Clusters the boot sector declares (its total sectors, backup boot sector
  // included).
  uint64_t DeclaredClusters() const;
  // Sectors of the volume that the source holds, counted from its start.
  uint64_t PresentSectors() const { return presentSectors_; }
  // Clusters that begin inside the source, never more than declared.
  uint64_t PresentClusters() const;
  // Cuts the present sectors to a partition's own length.
  void LimitPresentSectors(uint64_t sectors) { presentSectors_ = std::min(presentSectors_, sectors); }

  const RunList& mftRuns() const { return mftRuns_; }
  void SetMftRuns(RunList runs) {
    mftRuns_ = std::move(runs);
    mftMap_ = MftRunMap(mftRuns_, geometry_);
  }
  const SectorSource* source() const { return source_; }

  // Decodes the $MFT's own data runs from record 0 at mftStartSector,
  // following its attribute list when the $MFT is fragmented beyond one
  // record. Runs past the volume's cluster count are cut off. 0 or a code.
  int LoadMftRuns();
  // The $MFT's run list pointed past the end of the volume and was cut
  // there by the last LoadMftRuns.
  bool mftRunsCut() const { return mftRunsCut_; }
  // Records the $MFT's runs map; 0 without runs.
  uint64_t MftRecordCount() const;

  // Reads one record (recordSize bytes) at `sector` and applies its fixups.
  // A record torn by an interrupted write comes back cut to its sound blocks
  // (shorter than recordSize); one whose first block is torn is no record.
  // 0, kNoFileRecord, or the read's error.
  int ReadFileRecord(uint64_t sector, std::vector<uint8_t>& record) const;
  // Same by record number, mapping every sector through the $MFT runs (a
  // record may straddle two runs on volumes with 512-byte clusters).
  // kAttributeNotFound when the runs do not reach the record.
  int ReadMftRecord(uint64_t number, std::vector<uint8_t>& record) const;
  // The record's bytes as they lie on disk, fixups not applied: for a caller
  // that checks them itself. 0, kAttributeNotFound or the read's error.
  int ReadMftRecordBytes(uint64_t number, std::vector<uint8_t>& record) const;
  std::optional<uint64_t> RecordNumberToSector(uint64_t number) const;
  // As the free MftSectorOf, through this volume's $MFT runs.
  std::optional<uint64_t> MftSectorOf(uint64_t index, uint64_t* leftInRun = nullptr) const {
    return mftMap_.SectorOf(index, leftInRun);
  }

  // Runs of the record's first non-resident attribute of `type` (for $DATA:
  // the unnamed stream), with every extent that its attribute list names
  // joined in order. 0, kNoFileRecord, kAttributeNotFound or a read error.
  int FindAttributeRuns(uint64_t recordSector, uint32_t type, RunList& out) const;
  int FindAttributeRunsInRecord(Bytes record, uint32_t type, RunList& out) const;
  // Collects, in VCN order, the runs of every extent of the unnamed
  // attribute `type` that the attribute list names. Extents held by the
  // record itself are taken from it; the others are read from their extension
  // records. Collection stops at the first extent that is missing, unreadable
  // or does not continue where the previous one ended. `first` receives the
  // header of the extent at VCN 0. Returns the clusters collected.
  uint64_t FollowAttributeList(Bytes record, const Attribute& list, uint32_t type, RunList& out,
                               NonResidentHeader* first = nullptr, uint16_t* firstFlags = nullptr) const;

  // The resident data of the record's unnamed $DATA. 0; kNoResidentData when
  // the record is not a file record, has no $DATA or a non-resident one; 87
  // when the value does not lie inside the record; or a read error.
  int ReadResidentData(uint64_t recordSector, std::vector<uint8_t>& data) const;
  // The size of the record's unnamed $DATA. 0; 87 without one;
  // kNoFileRecord; or a read error.
  int ReadDataSize(uint64_t recordSector, uint64_t& size) const;
  // Locates the unnamed $DATA of a fixed-up record. 0 or kAttributeNotFound.
  int LocateData(Bytes record, DataStream& out) const;

  // Reads the first `byteCount` bytes mapped by `runs` into `out`, which
  // never grows past the bytes the source holds. Sparse runs, and clusters
  // past the end of the source, read as zeros. 0 or a read error.
  int ReadRunBytes(const RunList& runs, uint64_t byteCount, std::vector<uint8_t>& out) const;

 private:
  const SectorSource* source_ = nullptr;
  NtfsGeometry geometry_;
  RunList mftRuns_;
  MftRunMap mftMap_;
  bool mftRunsCut_ = false;
  uint64_t presentSectors_ = 0;
};

}  // namespace qm::ntfs
