#include <cinttypes>
#include <cstdio>

#include "results/scan_log_store.h"

namespace qm {

std::string MakeLogBaseName(const char* prefix, uint64_t volumeStart, const CivilTime& t) {
  char text[128];
  std::snprintf(text, sizeof text, "%s%" PRIu64 "_%d%d%d%d%2d", prefix, volumeStart, t.year,
                t.month, t.day, t.hour, t.minute);
  return text;
}

}  // namespace qm
