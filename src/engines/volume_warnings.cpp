#include "engines/volume_warnings.h"

#include <cstdio>
#include <iterator>

namespace qm {

std::string ByteSizeText(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  else std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string VolumeCutShortWarning(uint64_t declaredBytes, uint64_t presentBytes) {
  const uint64_t missing = declaredBytes > presentBytes ? declaredBytes - presentBytes : 0;
  return "The volume is " + ByteSizeText(declaredBytes) + " long but runs past the end of its source, which holds only " +
         ByteSizeText(presentBytes) + " of it: " + ByteSizeText(missing) +
         " are missing. Files and folders that lay in the missing part are not listed or are incomplete; "
         "scan the whole disk or a complete image to get them.";
}

bool IsVolumeCutShortWarning(const std::string& warning) {
  return warning.find(" long but runs past the end of its source, ") != std::string::npos;
}

std::string DamagedMetadataWarning(const std::string& what) {
  return what + " is damaged, so the folder tree could not be read. Run a deep scan: it finds "
         "files by their content without the file system's structures.";
}

std::string TornRecordsWarning(uint64_t records) {
  const std::string count = records == 1 ? "One MFT record was" : std::to_string(records) + " MFT records were";
  return count + " only partly written (a write cut short, for instance by a power loss): the files "
         "listed from them are marked damaged, with what the written part still held. Check their "
         "content after recovering them.";
}

}  // namespace qm
