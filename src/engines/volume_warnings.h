// Sentences that tell the user what a scan found damaged and what to do
// about it, shared by the engines so that the same fault reads the same way
// on every file system.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

// "16.0 MiB", "300 KiB", "512 bytes": binary units, one decimal from MiB up.
std::string ByteSizeText(uint64_t bytes);

// The volume's own size runs past the end of the image or partition read.
std::string VolumeCutShortWarning(uint64_t declaredBytes, uint64_t presentBytes);
// Whether `warning` is the one VolumeCutShortWarning words.
bool IsVolumeCutShortWarning(const std::string& warning);

// `what` names the damaged structure ("The $MFT's run list"); the sentence
// says that the folder tree could not be read and that a deep scan, which
// finds files by their content, is the way on.
std::string DamagedMetadataWarning(const std::string& what);

// `records` file records were found torn: a write to them was cut short (a
// power loss), so only their first blocks could be trusted.
std::string TornRecordsWarning(uint64_t records);

}  // namespace qm
