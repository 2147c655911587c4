// Shared test helpers: temporary folders, running Debian tools, and builders
// of real FAT and NTFS images made at test time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

namespace fs = std::filesystem;

// A fresh folder under the system temp dir, removed with everything in it on
// destruction. It also points QUILLMARK_DATA_DIR at <dir>/ScanLog so that no
// test ever touches $HOME.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// Runs a shell command; returns its exit status (-1 when it could not run).
// stdout and stderr are captured into `output` when given.
int Run(const std::string& command, std::string* output = nullptr);
// Quotes a string for the shell.
std::string Quote(const std::string& text);
// True when `tool` is on PATH (or in /sbin, /usr/sbin).
bool HaveTool(const std::string& tool);
// True when running as root with /dev/fuse present (ntfs-3g mounts work).
bool CanMountFuse();

// What this machine lacks for a test, worded as its skip message; empty when
// it has everything. The kinds every CI runner must have begin with a fixed
// tag, and scripts/skipped_tests.py fails a CI run (CI=true) in which a test
// skips with one of them; keep the tags as they are:
//   "needs ntfs-3g"       NTFS images made by mkntfs, written through ntfs-3g
//   "needs /dev/fuse"     sources that fail reads on purpose (FaultyDevice)
//   "needs loop devices"  images attached as block devices with losetup
// Other skips (an optional tool, a media back end) are listed, not failed.
inline constexpr char kNeedsNtfs3g[] = "needs ntfs-3g";
inline constexpr char kNeedsFuse[] = "needs /dev/fuse";
inline constexpr char kNeedsLoopDevices[] = "needs loop devices";
// Root, /dev/fuse, ntfs-3g and mkntfs: NTFS images are written through a mount.
std::string MissingNtfsMount();
// mkntfs alone: NTFS images that are only formatted, never mounted.
std::string MissingMkntfs();
// Root, losetup and a free loop device.
std::string MissingLoopDevices();

// Skips the running test with `missing` (a Missing...() above) unless it is
// empty.
#define QM_SKIP_IF_MISSING(missing)                           \
  do {                                                        \
    const std::string qm_missing_ = (missing);                \
    if (!qm_missing_.empty()) GTEST_SKIP() << qm_missing_;    \
  } while (0)

// Deterministic bytes for file contents (seeded).
std::string MakeContent(size_t bytes, uint32_t seed);
void WriteBytes(const fs::path& path, const std::string& bytes);
std::string ReadBytes(const fs::path& path);

// A FAT image built with mkfs.fat; files go in and are deleted with mtools,
// so deletions look exactly as a real driver leaves them.
class FatImageBuilder {
 public:
  // fatBits: 12, 16 or 32. sizeKiB: image size. sectorsPerCluster 0 lets
  // mkfs.fat choose.
  FatImageBuilder(fs::path image, int fatBits, uint64_t sizeKiB, int sectorsPerCluster = 0,
                  std::string label = "QMTEST");
  const fs::path& image() const { return image_; }
  // Each returns true on success; failures are reported with ADD_FAILURE.
  bool Create();
  bool MakeDir(const std::string& path);                     // "a/b" (created with parents)
  bool AddFile(const std::string& path, const std::string& content);
  bool AddHostFile(const std::string& path, const fs::path& hostFile);
  bool Delete(const std::string& path);                      // mdel
  bool DeleteTree(const std::string& path);                  // mdeltree
  bool ClearArchiveBit(const std::string& path);             // mattrib -a

 private:
  bool Mtools(const std::string& args);
  fs::path image_;
  int fatBits_;
  uint64_t sizeKiB_;
  int sectorsPerCluster_;
  std::string label_;
  fs::path scratch_;
};

// An NTFS image made with mkntfs; files are written and deleted through an
// ntfs-3g FUSE mount (needs root and /dev/fuse: check CanMountFuse()).
class NtfsImageBuilder {
 public:
  NtfsImageBuilder(fs::path image, uint64_t sizeMiB, std::string label = "QMTEST",
                   int clusterBytes = 4096);
  ~NtfsImageBuilder();
  const fs::path& image() const { return image_; }
  bool Create();
  bool Mount();
  bool Unmount();
  // The following need the image mounted; paths are relative to its root.
  fs::path MountPoint() const { return mountPoint_; }
  bool MakeDir(const std::string& path);
  bool AddFile(const std::string& path, const std::string& content);
  bool Delete(const std::string& path);       // a file, or a folder with everything in it

 private:
  fs::path image_;
  uint64_t sizeMiB_;
  std::string label_;
  int clusterBytes_;
  fs::path mountPoint_;
  bool mounted_ = false;
};

}  // namespace qm::test
