// CProfessionalFatRecovery: the FAT side of the deep scan.
//
// It walks no file system. The combined pass hands it, in sector order, the
// sectors that open a sub-directory (they start with "." and "..") and the
// sectors that look like blocks of directory entries. From the first kind it
// learns the cluster layout of volumes that once lived on the disk, even
// formatted ones; with a layout it turns every file entry into a record,
// files each under the cluster of its directory, and at the end writes the
// directories themselves, named by their parent's entry or "LostFolder<n>"
// when no entry names them any more.
//
// Memory stays bounded on a disk full of directory-like sectors: sectors
// that no layout places yet, and files waiting for a layout, are kept only
// up to a cap; past it they are placed with the best layout known (or, with
// none at all, written without one) instead of being held.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "disk/sector_source.h"
#include "engines/deep/deep_file_system_engine.h"
#include "engines/deep/fat/fat_deep_geometry.h"
#include "engines/fat/fat_directory_entry.h"
#include "engines/fat/fat_volume.h"
#include "engines/signatures/signature_catalogue.h"

namespace qm {

class CProfessionalFatRecovery : public DeepFileSystemEngine {
 public:
  // Caps on what is held between sectors; tests lower them.
  struct Limits {
    size_t unplacedSectors = 16384;  // 8 MiB of 512-byte sectors
    size_t pendingFiles = 65536;
    size_t sightings = 1024;
    size_t geometries = 64;
  };

  CProfessionalFatRecovery();
  ~CProfessionalFatRecovery() override;

  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;

  int BeginDeepScan(const std::string& resumeLogName) override;
  void OnDotClusterSector(const uint8_t* data, size_t bytes, uint64_t sector) override;
  void OnDirectorySector(const uint8_t* data, size_t bytes, uint64_t sector) override;
  int FinishDeepScan() override;
  int FlushLog() override;
  uint32_t EngineKind() const override { return 3; }
  std::string LogPrefix() const override;
  const SectorSource& ContentSource() const override { return source_; }
  uint32_t RootId() const override { return rootCluster_; }

  void SetLimits(const Limits& limits) { limits_ = limits; }
  const std::vector<FatDeepGeometry>& geometries() const { return geometries_; }
  // What is held between sectors: files waiting for a layout, sectors kept.
  size_t pendingFiles() const { return pending_.size(); }
  size_t keptSectors() const { return unplaced_.size(); }

 private:
  using GeometryIndex = int;  // into geometries_; -1: none
  static constexpr GeometryIndex kNone = -1;

  struct PendingFile {
    FoundFileRecord record;
    uint32_t directory = 0;
    bool placed = false;
    int geometry = -1;  // the layout it was parsed with, when held back with one
  };
  // A later cluster of a folder that several folders' last clusters fit.
  struct Undecided {
    GeometryIndex geometry = kNone;
    uint32_t lowest = 0;  // the lowest first cluster its entries name
    std::vector<uint64_t> earlierNames;  // short names its folder must hold
  };
  // The open end of a parsed block: a long-name chain cut by the block's end.
  struct NameFragment {
    uint8_t checksum = 0;
    GeometryIndex geometry = kNone;
    uint32_t directory = 0;
    uint64_t sector = 0;
    std::vector<uint8_t> bytes;
  };
  // The entry that names a sub-directory.
  struct NamedDirectory {
    std::string name;
    uint64_t creationTime = 0, accessTime = 0, writeTime = 0;
    bool deleted = false;
    uint32_t parent = 0;
    GeometryIndex geometry = kNone;
    uint64_t sector = 0;
  };
  struct KnownDirectory {
    GeometryIndex geometry = kNone;
    uint64_t sector = 0;
  };
  // What a directory cluster tells about its place in its folder's chain:
  // the folder it was filed under, the highest first cluster its entries
  // name (clusters are handed out in rising order on a card written from
  // empty), whether every entry slot is used (only a full cluster has a
  // next one) and whether its next one is known.
  struct DirectoryCluster {
    uint32_t directory = 0;
    uint32_t highestFirst = 0;
    bool full = false;
    bool continued = false;
  };
  struct ClusterContext {
    GeometryIndex geometry = kNone;
    uint32_t cluster = 0;
    uint64_t sector = 0;  // the cluster's first sector
  };

  // Geometry (fat_deep_geometry use).
  void SeedGeometryFromBootSector();
  GeometryIndex GeometryFor(uint32_t cluster, uint64_t sector) const;
  GeometryIndex AddGeometry(const FatDeepGeometry& g);
  GeometryIndex NearestGeometry(uint64_t sector) const;
  bool PlaceSector(uint64_t sector, ClusterContext& context) const;

  // Parsing (professional_fat_parse.cpp).
  std::optional<NameFragment> ParseBlock(const uint8_t* data, size_t length, uint64_t sector,
                                         GeometryIndex g, uint32_t directory);
  void ResolveDirectory(const uint8_t* data, size_t length, GeometryIndex g, uint32_t& directory);
  void AddFileEntry(const FatDirEntry& e, std::string name, uint64_t sector, GeometryIndex g,
                    uint32_t directory);
  void AddDirectoryEntry(const FatDirEntry& e, std::string name, uint64_t sector, GeometryIndex g,
                         uint32_t directory);
  void WriteFile(FoundFileRecord record, GeometryIndex g, uint32_t directory);
  bool IsLiveDirectory(GeometryIndex g, uint32_t directory) const;
  void RegisterChain(uint32_t directory, uint64_t sector, GeometryIndex g);
  bool ContinuesFragment(const NameFragment& f, const uint8_t* data, uint64_t sector) const;
  void JoinAndParse(NameFragment f, const uint8_t* data, size_t length);
  void KeepFragment(NameFragment f);
  void NoteDirectoryCluster(const uint8_t* data, size_t length, uint64_t sector,
                            const ClusterContext& at);
  bool JoinContinuation(const uint8_t* data, size_t length, GeometryIndex g, uint32_t& directory);
  void ContinueChain(GeometryIndex g, uint32_t directory, uint32_t cluster);
  void SettleUndecided();
  static uint64_t ShortNameKey(const FatDirEntry& e);
  const std::vector<uint64_t>* SortedNames(uint32_t directory);
  uint32_t SettledFolder(uint32_t directory) const;
  bool ShareShortName(uint32_t a, uint32_t b);
  bool HoldsAnyName(uint32_t directory, const std::vector<uint64_t>& keys);
  void NoteEarlierName(const FatDirEntry& e, uint32_t directory);
  void KeepUnplaced(const uint8_t* data, size_t length, uint64_t sector);
  void PlaceUnplaced(size_t count);
  void PlacePending();
  void ForcePending(size_t count);

  // Reads on the volume (professional_fat_recovery.cpp).
  bool ReadClusterStart(const FatDeepGeometry& g, uint32_t cluster, std::vector<uint8_t>& out) const;
  bool FindParentCluster(uint32_t cluster, const FatDeepGeometry& g, uint32_t& parent) const;
  uint32_t CountDirectoryDepth(uint32_t cluster, const FatDeepGeometry& g);
  uint32_t GuessHighWord(const FatDirEntry& e, const std::string& name, bool directory,
                         const FatDeepGeometry& g);
  uint32_t ContentOk(const FoundFileRecord& record, const FatDeepGeometry& g);
  void FillRecord(FoundFileRecord& r, const FatDirEntry& e, const std::string& name,
                  uint64_t sector, GeometryIndex g) const;
  void WriteDirectories();
  void TakeUpEarlierRecords();

  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override;
  bool FollowsSurvivingFat(const FoundFileRecord& record) const;

  Limits limits_;
  SectorSource source_;
  uint64_t volumeStart_ = 0;
  uint64_t volumeSectors_ = 0;
  uint16_t volumeLetter_ = 0;  // the caller's tag for records, not a drive letter
  uint32_t bytesPerSector_ = 512;
  // The volume's FAT as the boot sector finds it, when one is there: a file
  // under that layout whose first cluster is still chained follows its chain.
  FatVolume fat_;
  bool haveFat_ = false;
  SignatureScanContext signatureContext_;

  std::vector<FatDeepGeometry> geometries_;
  bool seeded_ = false;
  uint32_t rootCluster_ = 2;
  std::vector<std::pair<uint32_t, uint64_t>> sightings_;
  std::vector<PendingFile> pending_;
  size_t pendingPlaced_ = 0;
  std::deque<NameFragment> fragments_;
  std::map<uint64_t, std::vector<uint8_t>> unplaced_;
  std::unordered_map<uint32_t, NamedDirectory> named_;
  std::map<uint32_t, KnownDirectory> known_;
  // Directory clusters by (layout, cluster), and the full ones no later
  // cluster has been joined to yet.
  std::map<std::pair<GeometryIndex, uint32_t>, DirectoryCluster> directoryClusters_;
  std::set<std::pair<GeometryIndex, uint32_t>> openEnds_;
  std::map<uint32_t, Undecided> undecided_;
  std::vector<PendingFile> held_;  // files of undecided clusters
  std::unordered_map<uint32_t, uint32_t> settled_;  // settled cluster -> its folder
  // The live short names seen in each folder, to tell folders apart.
  std::unordered_map<uint32_t, std::vector<uint64_t>> shortNames_;
  size_t shortNameCount_ = 0;
  // Depth of a directory cluster under a geometry, counted once.
  std::map<std::pair<GeometryIndex, uint32_t>, uint32_t> depths_;
  std::optional<ClusterContext> current_;
  // Folders already in the log (a resumed scan does not write them twice).
  std::unordered_set<uint32_t> writtenFolders_;
  uint64_t droppedSectors_ = 0;
};

}  // namespace qm
