// CFastNtfsRecovery: the quick scan of an NTFS volume.
//
// Reads the live $MFT through its own run list, lists every deleted file
// record with the folder path its parent references give, and writes the
// results into a "Fast_" scan log. Content comes back from the file's
// record: resident data from the record itself, non-resident data through
// its runs (sparse runs as zeros, compressed units decoded). For the
// combined deep scan it also hands out the runs of free clusters from the
// volume's allocation bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "engines/extraction/content_reader.h"
#include "engines/extraction/file_extractor.h"
#include "engines/file_recovery_parse.h"
#include "engines/ntfs/ntfs_cluster_bitmap.h"
#include "engines/ntfs/ntfs_volume.h"
#include "engines/signatures/signature_catalogue.h"
#include "results/scan_log_store.h"

namespace qm {

class CFastNtfsRecovery : public IFileRecoveryParse,
                          private ContentReader,
                          private FolderLister {
 public:
  CFastNtfsRecovery();
  ~CFastNtfsRecovery() override;

  int OpenImage(const std::string& imagePath, uint16_t volumeLetter) override;
  int OpenDisk(int driveIndex, uint64_t startSector, uint64_t sectorCount,
               uint16_t volumeLetter) override;
  int SetCallbacks(ScanProgressFn scanProgress, FileProgressFn fileProgress, void* user,
                   int scale) override;
  int Scan(const char* scanLogName) override;
  int ListChildren(const FoundFileRecord* folder, uint32_t depth,
                   std::vector<FoundFileRecord>& out) override;
  int CountFiles(const FoundFileRecord* folder, uint32_t depth, uint32_t* count) override;
  uint64_t RecordCount() override;
  int GetFullPath(const FoundFileRecord& record, std::string& path) override;
  // Folder contents are found by the folder's own depth in the scanned tree,
  // so baseSeparators is not needed.
  int RecoverItem(const FoundFileRecord& record, const std::string& destination,
                  int baseSeparators) override;
  int NextFreeExtent(uint64_t* start, uint64_t* length) override;
  int SetListProgress(ListProgressFn callback, void* user) override;
  int ListByCategory(const std::string& filter, std::vector<FoundFileRecord>& out) override;
  int BuildClusterBitmap() override;
  int ExtractForPreview(const FoundFileRecord& record, std::string& outPath, uint8_t* buffer,
                        uint32_t* bufferSize, PreviewProgressFn progress, void* user) override;

  // Read access for tests and the deep scan.
  const ntfs::NtfsVolume& volume() const { return volume_; }
  const ScanLogStore* log() const { return log_.get(); }
  // Folder records read to follow parent chains in the last scan.
  uint64_t parentRecordReads() const { return parentRecordReads_; }

 private:
  int FinishOpen(int rc, uint64_t startSector, uint64_t sectorCount, uint32_t deviceSectorSize,
                 uint16_t volumeLetter);

  // ContentReader / FolderLister for the extractor.
  int ReadFileContent(const FoundFileRecord& record, const ContentSink& sink) override;
  int ListFolder(const FoundFileRecord& folder, uint32_t depth,
                 std::vector<FoundFileRecord>& out) override;
  int FolderDepth(const FoundFileRecord& folder, uint32_t& depth) override;

  bool open_ = false;
  uint16_t volumeLetter_ = 0;
  uint64_t volumeSectorCount_ = 0;
  SectorSource source_;
  ntfs::NtfsVolume volume_;
  ntfs::NtfsClusterBitmap bitmap_;
  std::unique_ptr<ScanLogStore> log_;
  SignatureScanContext signatureContext_;
  FileExtractor extractor_;
  uint64_t parentRecordReads_ = 0;

  ScanProgressFn scanProgress_ = nullptr;
  FileProgressFn fileProgress_ = nullptr;
  void* user_ = nullptr;
  int scale_ = 100;
  ListProgressFn listProgress_ = nullptr;
  void* listUser_ = nullptr;
};

}  // namespace qm
