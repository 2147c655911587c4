// Log base names carry the local time the log was started, written without
// separators and without padding except the minute's: "2026127 930" can be
// read more than one way, so a name gives every time it can stand for.
#include <cinttypes>
#include <cstdio>

#include "results/log_names.h"
#include "results/scan_log_store.h"

namespace qm {

std::string MakeLogBaseName(const char* prefix, uint64_t volumeStart, const CivilTime& t) {
  char text[128];
  std::snprintf(text, sizeof text, "%s%" PRIu64 "_%d%d%d%d%2d", prefix, volumeStart, t.year,
                t.month, t.day, t.hour, t.minute);
  return text;
}

namespace {

// A field written with "%d": 1 or 2 digits, no leading zero (0 itself is "0").
bool Field(std::string_view text, int& value) {
  if (text.empty() || text.size() > 2 || (text.size() == 2 && text[0] == '0')) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::vector<CivilTime> LogNameTimes(std::string_view baseName) {
  std::vector<CivilTime> times;
  const size_t underscore = baseName.rfind('_');
  if (underscore == std::string_view::npos) return times;
  const std::string_view stamp = baseName.substr(underscore + 1);
  // Four digits of year, month, day and hour of one or two digits each, and
  // the minute in two places padded with a blank.
  if (stamp.size() < 4 + 3 + 2 || stamp.size() > 4 + 6 + 2) return times;
  CivilTime t;
  t.year = 0;
  for (char c : stamp.substr(0, 4)) {
    if (c < '0' || c > '9') return times;
    t.year = t.year * 10 + (c - '0');
  }
  std::string_view minute = stamp.substr(stamp.size() - 2);
  if (minute[0] == ' ') minute.remove_prefix(1);
  if (!Field(minute, t.minute)) return times;
  const std::string_view middle = stamp.substr(4, stamp.size() - 6);
  for (size_t monthLength = 1; monthLength <= 2; ++monthLength) {
    for (size_t dayLength = 1; dayLength <= 2; ++dayLength) {
      if (monthLength + dayLength >= middle.size()) continue;
      const size_t hourLength = middle.size() - monthLength - dayLength;
      if (hourLength > 2) continue;
      if (!Field(middle.substr(0, monthLength), t.month) ||
          !Field(middle.substr(monthLength, dayLength), t.day) ||
          !Field(middle.substr(monthLength + dayLength), t.hour))
        continue;
      uint64_t valid = 0;
      if (CivilToFileTime(t, valid)) times.push_back(t);
    }
  }
  return times;
}

}  // namespace qm
