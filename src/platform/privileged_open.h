// A second way in to a block device that open(2) refused.
//
// A desktop session may be allowed to read a disk through the system's disk
// service although the user is not in the `disk` group. The program that
// can ask that service installs an opener here; FileHandle::OpenReadOnly
// turns to it only for a block device that open(2) refused with EACCES or
// EPERM, and keeps the descriptor only when it is read-only and really is
// that device. Without an opener (the terminal tool) nothing changes.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace qm {

// Opens `devicePath` read-only by other means; on success returns 0 and
// sets `fd` to a descriptor the caller then owns, else returns an error code.
// Called from whichever thread opens the device.
using PrivilegedOpener = std::function<int(const std::string& devicePath, int& fd)>;

// Installs the process-wide opener (an empty one removes it). Thread-safe;
// an open already running keeps the opener it started with.
void SetPrivilegedOpener(PrivilegedOpener opener);

// After open(2) of `path` failed with `openErrno`: asks the opener when
// that is warranted and checks what it returns. True when `fd` now holds a
// read-only descriptor of the device `path` names.
bool OpenThroughPrivilegedOpener(const std::filesystem::path& path, int openErrno, int& fd);

namespace testing {
// Makes FileHandle::OpenReadOnly treat the regular file at `path` as a
// block device that open(2) refused with EACCES, so that the opener's path
// can be driven where no unreadable device exists (tests run as root). An
// empty path ends it.
void SimulateRefusedDevice(const std::filesystem::path& path);
bool IsSimulatedRefusedDevice(const std::filesystem::path& path);
}  // namespace testing

}  // namespace qm
