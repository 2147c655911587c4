// Partitions inside image files: "IMAGE@N" on the command line.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

class DiskTable;

// Reads the partition table of `image`, adds the image to `table` (an image
// already there keeps its index) and gives the place of partition `number`
// (the number `quillmark-cli partitions` shows) as a disk index with start
// and sector count, ready for OpenDisk. Returns 0; 2/3/5 when the image
// cannot be opened; 13 when its table has no usable header or the entry of
// that number cannot be used (the reason says why); 87 when it holds no
// partition table or no partition of that number. `reason` (optional) gets
// a sentence for the user on failure.
int ResolveImagePartition(DiskTable& table, const std::string& image, int number,
                          int& driveIndex, uint64_t& startSector, uint64_t& sectorCount,
                          std::string* reason = nullptr);
// Adds an image of a whole disk to `table` so that its partitions are
// enumerated and scanned like a real disk's. Returns 0 with its index; 87
// when the image holds no partition table (an image of a single volume
// stays a plain image and is not added); 13 when the table is inconsistent;
// or the error of opening it. `reason` as above.
int AddPartitionedImage(DiskTable& table, const std::string& image, int& driveIndex,
                        std::string* reason = nullptr);

}  // namespace qm
