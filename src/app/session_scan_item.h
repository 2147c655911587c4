// A scan item backed by the core's scan session: a partition device, an
// image file or a partition inside an image, scanned into the kept scans
// under the ScanLog folder like the terminal tool does.
#pragma once

#include <memory>
#include <string>

#include "app/scan_item.h"
#include "session/scan_session.h"

namespace qm {

class SessionScanItem : public ScanItem {
 public:
  // `source` as the session accepts it: /dev/sdb1, an image path, IMAGE@N.
  // `volumeIndex` picks one volume when the source holds several.
  // `history` and `disks` are the application's, made at start-up.
  SessionScanItem(uint16_t key, std::string source, QString imagePath, ScanHistory& history,
                  DiskTable& disks, size_t volumeIndex = 0);

  uint16_t Key() const override { return key_; }
  QString ImagePath() const override { return imagePath_; }
  std::string SourcePath() const override;
  IFileRecoveryParse* Engine() const override;
  std::string ScanFolder() const override;

  int Open(bool deep, std::string& message) override;
  bool CanResume() const override;
  void StartAfresh() override;
  void SetWholeVolume(bool whole) override {
    if (session_) session_->SetWholeVolume(whole);
  }
  int Scan(ScanProgressFn progress, void* user, std::string& message) override;
  void Close() override { session_.reset(); }

  session::ScanVolume* Volume() const;

 private:
  uint16_t key_;
  std::string source_;
  QString imagePath_;
  size_t volumeIndex_;
  ScanHistory& history_;
  DiskTable& disks_;
  std::unique_ptr<session::ScanSession> session_;
};

}  // namespace qm
