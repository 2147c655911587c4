// A deep scan runs for hours and can be resumed by a later process, so two
// processes must never write into the same scan folder: the one scanning
// holds an advisory lock on "scan.lock" in it. The kernel drops the lock when
// the process ends, however it ends, so a crashed scan is free to resume.
#pragma once

#include <filesystem>

namespace qm::session {

inline constexpr const char* kScanLockName = "scan.lock";

class ScanFolderLock {
 public:
  ScanFolderLock() = default;
  ~ScanFolderLock();
  ScanFolderLock(const ScanFolderLock&) = delete;
  ScanFolderLock& operator=(const ScanFolderLock&) = delete;

  // Takes the lock of `folder` without waiting. 0; err::kBusy when another
  // process holds it; or why the lock file cannot be made.
  int Acquire(const std::filesystem::path& folder);
  void Release();

 private:
  int fd_ = -1;
};

// True when a process is scanning into `folder` now.
bool ScanFolderInUse(const std::filesystem::path& folder);

}  // namespace qm::session
