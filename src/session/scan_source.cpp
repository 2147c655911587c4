#include "session/scan_source.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "disk/partitions/image_partition.h"
#include "platform/disk_table.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "platform/file_handle.h"
#include "platform/sysfs_text.h"

namespace qm::session {

namespace fs = std::filesystem;

namespace {

int ResolveBlockDevice(const std::string& path, DiskTable& disks, ScanSource& target,
                       std::string& message) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(path, ec);
  const std::string name = canonical.filename().string();
  const fs::path sysDir = fs::path("/sys/class/block") / name;
  target.isBlockDevice = true;
  std::string diskPath = canonical.string();
  if (fs::exists(sysDir / "partition")) {
    // A partition: scan it through its disk, at its start.
    const fs::path parentDir = fs::canonical(sysDir, ec).parent_path();
    diskPath = "/dev/" + parentDir.filename().string();
    uint64_t start512 = 0, size512 = 0;
    if (!ReadUnsignedLine(sysDir / "start", start512) ||
        !ReadUnsignedLine(sysDir / "size", size512)) {
      message = "cannot read the partition's start and size from " + sysDir.string();
      return err::kNotReady;
    }
    target.devicePath = canonical.string();
    FileHandle disk;
    if (int rc = disk.OpenReadOnly(diskPath); rc != 0) {
      message = CannotOpenText(diskPath, rc);
      return rc;
    }
    DiskInfo info;
    if (int rc = QueryDiskInfo(disk, info); rc != 0) {
      message = "cannot query " + diskPath + ": " + ErrorText(rc);
      return rc;
    }
    target.sectorSize = info.sectorSize;
    const uint64_t per = info.sectorSize / 512 ? info.sectorSize / 512 : 1;
    target.startSector = start512 / per;
    target.sectorCount = size512 / per;
  } else {
    // A whole disk holding one file system (no partition table): the
    // volume is the whole disk.
    target.devicePath = canonical.string();
    target.wholeDisk = true;
    FileHandle disk;
    if (int rc = disk.OpenReadOnly(diskPath); rc != 0) {
      message = CannotOpenText(diskPath, rc);
      return rc;
    }
    DiskInfo info;
    if (QueryDiskInfo(disk, info) == 0) {
      target.sectorSize = info.sectorSize;
      target.sectorCount = info.lengthBytes / info.sectorSize;
    }
  }
  target.kind = ScanSource::Kind::kDisk;
  target.path = diskPath;
  target.driveIndex = disks.Add(diskPath);
  return err::kSuccess;
}

}  // namespace

std::string CannotOpenText(const std::string& path, int error) {
  std::string text = "cannot open " + path + ": " + ErrorText(error);
  if (error != err::kAccessDenied) return text;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    return text + "; check the file's permissions (ls -l " + path + "), or run the command with sudo";
  return text + "; reading a disk needs its owner's rights: run the command with sudo, or join "
                "the disk group (sudo usermod -aG disk $USER, then log in again)";
}

int ParseSource(const std::string& text, DiskTable& disks, ScanSource& target,
                std::string& message) {
  target = ScanSource{};
  target.text = text;
  if (text.rfind("disk:", 0) == 0) {
    uint64_t index = 0;
    if (!ParseDecimal(text.substr(5), index) || index >= disks.Size()) {
      message = "no disk " + text.substr(5) + " in the disk table (see 'quillmark-cli devices')";
      return err::kFileNotFound;
    }
    target.kind = ScanSource::Kind::kDisk;
    target.driveIndex = static_cast<int>(index);
    target.path = disks.PathOf(target.driveIndex);
    target.wholeDisk = true;
    FileHandle handle;
    if (int rc = handle.OpenReadOnly(target.path); rc != 0) {
      message = CannotOpenText(target.path, rc);
      return rc;
    }
    DiskInfo info;
    if (QueryDiskInfo(handle, info) == 0) {
      target.sectorSize = info.sectorSize;
      target.sectorCount = info.lengthBytes / info.sectorSize;
    }
    target.isBlockDevice = handle.IsBlockDevice();
    return err::kSuccess;
  }

  struct stat st {};
  // IMAGE@N: partition N of a partition table inside an image file.
  if (const size_t at = text.rfind('@');
      at != std::string::npos && at > 0 && ::stat(text.c_str(), &st) != 0) {
    uint64_t number = 0;
    const std::string image = text.substr(0, at);
    if (ParseDecimal(text.substr(at + 1), number) && number <= 1000000) {
      std::string reason;
      int rc = ResolveImagePartition(disks, image, static_cast<int>(number), target.driveIndex,
                                     target.startSector, target.sectorCount, &reason);
      if (rc != 0) {
        message = reason.empty() ? image + ": " + ErrorText(rc) : reason;
        return rc;
      }
      target.kind = ScanSource::Kind::kDisk;
      target.path = image;
      target.sectorSize = 512;
      return err::kSuccess;
    }
  }
  if (::stat(text.c_str(), &st) != 0) {
    int rc = LastError();
    message = CannotOpenText(text, rc);
    return rc;
  }
  if (S_ISDIR(st.st_mode)) {
    message = text + " is a folder, not a disk or an image file";
    return err::kDirectory;
  }
  if (S_ISBLK(st.st_mode)) return ResolveBlockDevice(text, disks, target, message);
  if (!S_ISREG(st.st_mode)) {
    message = text + " is neither a block device nor a regular file";
    return err::kInvalidParameter;
  }
  FileHandle handle;
  if (int rc = handle.OpenReadOnly(text); rc != 0) {
    message = CannotOpenText(text, rc);
    return rc;
  }
  if (st.st_size < 512) {
    message = text + " is " + std::to_string(st.st_size) + (st.st_size == 1 ? " byte" : " bytes") +
              " long: too short to hold a volume";
    return err::kInvalidData;
  }
  target.kind = ScanSource::Kind::kImage;
  target.path = text;
  target.wholeDisk = true;
  return err::kSuccess;
}

}  // namespace qm::session
