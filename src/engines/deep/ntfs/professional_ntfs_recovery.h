// CProfessionalNtfsRecovery: the NTFS part of the deep scan.
//
// Lists files from MFT file records found anywhere on the volume, in use or
// deleted, on a volume that was formatted since or whose boot sector and
// $MFT are gone. The combined deep pass hands over every sector that starts
// a file record; each becomes a found file at once, written to a
// "Pro_Ntfs_" scan log. Its folder comes from the parent reference of its
// $FILE_NAME: the parent's record is located through the MFT the record
// belongs to (the boot sector's, or an older one whose record 0 the pass
// met), or, without one, as a neighbour in a contiguous MFT. Each folder met
// on the way to the root is written to the log once, as soon as its place is
// known, so that a scan that is stopped or dies keeps its folders too; a
// parent whose record no longer holds a folder becomes "LostFolder<n>" in
// the root.
// Content is read back through the record's resident data or runs, with
// the quick scan's decoding of sparse and compressed data.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "disk/sector_source.h"
#include "engines/deep/deep_file_system_engine.h"
#include "engines/deep/ntfs/ntfs_record_locator.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_file_name.h"
#include "engines/signatures/signature_catalogue.h"
#include "results/log_names.h"

namespace qm {

class CProfessionalNtfsRecovery : public DeepFileSystemEngine {
 public:
  // Folders whose depth is remembered; past it, files whose folder is not
  // yet known are listed in the root. Each takes some 40 bytes.
  static constexpr size_t kMaxFolders = 1 << 20;
  // MFTs told apart by the sector of their record 0.
  static constexpr size_t kMaxMftCopies = 256;
  // Parent chains deeper than this are cut.
  static constexpr size_t kMaxDepth = 4096;

  CProfessionalNtfsRecovery();
  ~CProfessionalNtfsRecovery() override;

  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;

  int BeginDeepScan(const std::string& resumeLogName) override;
  void OnFileRecord(const uint8_t* record, size_t bytes, uint64_t sector) override;
  int FinishDeepScan() override;
  int FlushLog() override;
  uint32_t EngineKind() const override {
    return static_cast<uint32_t>(qm::EngineKind::kNtfsDeep);
  }
  std::string LogPrefix() const override { return kNtfsDeepLogPrefix; }
  const SectorSource& ContentSource() const override { return source_; }
  uint32_t RootId() const override { return 5; }

  // For tests: the cluster size the engine works with now, and the MFTs
  // it knows (by the sector of their record 0).
  int32_t sectorsPerCluster() const { return sectorsPerCluster_; }
  size_t mftCopies() const { return mftCopies_.size(); }

 private:
  struct MftCopy {
    std::shared_ptr<const ntfs::RunList> runs;
    std::shared_ptr<const ntfs::MftRunMap> map;
    uint64_t volumeStart = 0;
    int32_t sectorsPerCluster = 0;
  };
  // A folder met on a parent chain.
  struct Folder {
    uint32_t number = 0;
    bool lost = true;
    uint32_t parent = 0;
    uint32_t depth = 0;  // of the folder itself: 0 in the root
    uint64_t sector = 0;
    uint64_t volumeStart = 0;
    int32_t sectorsPerCluster = 0;
    uint64_t created = 0, modified = 0, accessed = 0;
    std::string name;
  };

  int FinishOpen(int rc, uint64_t startSector, uint64_t sectorCount, uint16_t volumeLetter);
  ntfs::NtfsGeometry GeometryFor(uint64_t volumeStart, int32_t sectorsPerCluster) const;
  void EnterBootSectorMft();
  // `sectorsPerCluster` 0: taken from the record, else the current value.
  void EnterMftCopy(uint64_t sector, ntfs::Bytes record, int32_t sectorsPerCluster);
  ntfs::RecordLocator LocatorFor(uint32_t number, uint64_t sector) const;
  // Reads and fixes up the record at `sector`; false when it is not one.
  bool ReadRecord(uint64_t sector, std::vector<uint8_t>& record) const;
  // Depth of a file whose $FILE_NAME names `parent`, noting every folder
  // on the way to the root; none when no more folders can be remembered.
  std::optional<uint32_t> DepthUnder(uint32_t parent, const ntfs::RecordLocator& locator);
  uint32_t CheckContent(ntfs::Bytes record, const std::string& name, uint64_t volumeStart,
                        int32_t sectorsPerCluster);
  void WriteFolder(const Folder& f);
  void Append(const FoundFileRecord& r, uint64_t key, const char* name);

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override;

  SectorSource source_;
  uint16_t volumeLetter_ = 0;
  uint64_t volumeStart_ = 0;
  uint64_t volumeSectors_ = 0;
  uint32_t bytesPerSector_ = 512;
  int32_t sectorsPerRecord_ = 2;
  uint32_t recordSize_ = 1024;
  int32_t sectorsPerCluster_ = 8;
  std::map<uint64_t, MftCopy> mftCopies_;
  // Depth of every folder written (0 in the root), by record number.
  std::unordered_map<uint32_t, uint32_t> folderDepths_;
  // Folders in the log, those of an interrupted run included.
  std::unordered_set<uint32_t> written_;
  bool scanning_ = false;
  // File records of the pass whose update sequence showed a torn write.
  uint64_t tornRecords_ = 0;
  SignatureScanContext signatures_;
  std::vector<uint8_t> work_;
};

}  // namespace qm
