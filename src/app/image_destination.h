// Whether a disk image may be written where the user chose: not onto what
// is being copied, not past the file-size limit of a FAT destination, and
// not without room for it.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qm {

struct DestinationFacts {
  bool onSource = false;   // the folder lies on the volume (or disk) being copied
  std::string fileSystem;  // "FAT32", "FAT" (12 or 16) or anything else
  std::optional<uint64_t> freeBytes;  // unknown when it cannot be asked
};

// What is known about the folder of `imagePath`. `sourceDevice` is the
// block device being copied; `wholeDisk` says it is a disk rather than one
// of its volumes, for which any folder on that disk counts as on it.
DestinationFacts InspectDestination(const std::filesystem::path& imagePath, const std::string& sourceDevice,
                                    bool wholeDisk);

// The "Messages" key of the first check the destination fails, or an empty
// text when an image of `sourceBytes` may be written there.
QString RefuseImageDestination(uint64_t sourceBytes, const DestinationFacts& facts);

// The file name (without ".img") offered for an image of the volume at
// `devicePath`: "sdb1" for /dev/sdb1, "card-partition2" for the second
// partition inside the image card.dd ("…/card.dd@2"), "card-copy" for the
// volume that is the whole of card.img.
QString ProposedImageName(const std::string& devicePath);

}  // namespace qm
