// Before an engine reads a partition raw, whatever the kernel still holds in
// its caches for that volume must be on the disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace qm {

// Finds the partition of `diskPath` that starts at `startSector` (in the
// disk's logical sectors; 0 means the whole disk), calls syncfs on its file
// system when it is mounted and fsync on the partition device. Best effort:
// returns true when something was flushed. `sysRoot` and `mountInfo` let tests
// stand in a fake tree.
bool FlushVolumeAt(const std::string& diskPath, uint64_t startSector, uint32_t sectorSize,
                   const std::filesystem::path& sysRoot = "/",
                   const std::filesystem::path& mountInfo = "/proc/self/mountinfo");

}  // namespace qm
