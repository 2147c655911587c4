#include "app/session_scan_item.h"

#include "platform/errors.h"

namespace qm {

SessionScanItem::SessionScanItem(uint16_t key, std::string source, QString imagePath,
                                 ScanHistory& history, DiskTable& disks, size_t volumeIndex)
    : key_(key),
      source_(std::move(source)),
      imagePath_(std::move(imagePath)),
      volumeIndex_(volumeIndex),
      history_(history),
      disks_(disks) {}

std::string SessionScanItem::SourcePath() const {
  // The device the session resolved (a partition inside an image names its
  // image file); before it is opened, what the item was made with.
  if (session_ && !session_->source().path.empty()) {
    const session::ScanSource& source = session_->source();
    return source.devicePath.empty() ? source.path : source.devicePath;
  }
  return source_;
}

session::ScanVolume* SessionScanItem::Volume() const {
  if (!session_ || volumeIndex_ >= session_->volumes().size()) return nullptr;
  return &session_->volumes()[volumeIndex_];
}

IFileRecoveryParse* SessionScanItem::Engine() const {
  session::ScanVolume* volume = Volume();
  return volume != nullptr ? volume->engine.get() : nullptr;
}

std::string SessionScanItem::ScanFolder() const {
  session::ScanVolume* volume = Volume();
  return volume != nullptr ? volume->scanFolder.string() : std::string();
}

int SessionScanItem::Open(bool deep, std::string& message) {
  // The engine of an earlier scan goes first: its source and log close.
  session_.reset();
  auto session = std::make_unique<session::ScanSession>(history_, disks_);
  session->SetVolumeTag(key_);
  if (int rc = session->Open(source_, deep, message); rc != 0) return rc;
  if (volumeIndex_ >= session->volumes().size()) {
    message = "the volume asked for is no longer in " + source_;
    return err::kNotReady;
  }
  session_ = std::move(session);
  return 0;
}

bool SessionScanItem::CanResume() const {
  const session::ScanVolume* volume = Volume();
  return volume != nullptr && volume->earlier.known && volume->earlier.whyNot.empty();
}

void SessionScanItem::StartAfresh() {
  if (session::ScanVolume* volume = Volume()) volume->resume = false;
}

int SessionScanItem::Scan(ScanProgressFn progress, void* user, std::string& message) {
  if (!session_ || Volume() == nullptr) {
    message = "the volume is not open";
    return err::kInvalidHandle;
  }
  return session_->Scan(volumeIndex_, progress, user, message);
}

}  // namespace qm
