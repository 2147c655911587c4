// An EXT volume in quick mode. No quick engine reads EXT: this one opens the
// drive so the volume can be listed and a deep scan offered. What needs the
// file system (a scan, the map of free clusters, copying or previewing a
// file) answers err::kNotSupported, so that no caller takes an empty result
// for a scan that found nothing; the browsing calls find an empty log.
#pragma once

#include "disk/sector_source.h"
#include "engines/file_recovery_parse.h"

namespace qm {

class CFastExtRecovery : public IFileRecoveryParse {
 public:
  int OpenImage(const std::string&, uint16_t) override { return 0; }
  int OpenDisk(int driveIndex, uint64_t, uint64_t, uint16_t) override {
    return source_.OpenPhysicalDriveSource(Disks(), driveIndex);
  }
  int SetCallbacks(ScanProgressFn, FileProgressFn, void*, int) override { return 0; }
  int Scan(const char*) override { return err::kNotSupported; }
  int ListChildren(const FoundFileRecord*, uint32_t, std::vector<FoundFileRecord>&) override {
    return 0;
  }
  int CountFiles(const FoundFileRecord*, uint32_t, uint32_t*) override { return 0; }
  uint64_t RecordCount() override { return 0; }
  int GetFullPath(const FoundFileRecord&, std::string&) override { return 0; }
  int RecoverItem(const FoundFileRecord&, const std::string&, int) override {
    return err::kNotSupported;
  }
  int NextFreeExtent(uint64_t*, uint64_t*) override { return err::kNotSupported; }
  int SetListProgress(ListProgressFn, void*) override { return 0; }
  int ListByCategory(const std::string&, std::vector<FoundFileRecord>&) override { return 0; }
  int BuildClusterBitmap() override { return err::kNotSupported; }
  int ExtractForPreview(const FoundFileRecord&, std::string&, uint8_t*, uint32_t*,
                        PreviewProgressFn, void*) override {
    return err::kNotSupported;
  }

 private:
  SectorSource source_;
};

}  // namespace qm
