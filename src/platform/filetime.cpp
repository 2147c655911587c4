#include "platform/filetime.h"

#include <cstdio>

namespace qm {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool CivilToFileTime(const CivilTime& c, uint64_t& fileTime) {
  fileTime = 0;
  if (c.year < 1601 || c.year > 30827 || c.month < 1 || c.month > 12 || c.day < 1 ||
      c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 ||
      c.minute > 59 || c.second < 0 || c.second > 59 || c.millisecond < 0 || c.millisecond > 999)
    return false;
  const int64_t days = DaysFromCivil(c.year, static_cast<unsigned>(c.month),
                                     static_cast<unsigned>(c.day)) -
                       DaysFromCivil(1601, 1, 1);
  const int64_t seconds = days * 86400 + c.hour * 3600 + c.minute * 60 + c.second;
  fileTime = static_cast<uint64_t>(seconds) * 10000000ULL +
             static_cast<uint64_t>(c.millisecond) * 10000ULL;
  return true;
}

CivilTime FileTimeToCivil(uint64_t fileTime) {
  CivilTime c;
  const uint64_t totalSeconds = fileTime / 10000000ULL;
  c.millisecond = static_cast<int>((fileTime % 10000000ULL) / 10000ULL);
  const int64_t days = static_cast<int64_t>(totalSeconds / 86400) + DaysFromCivil(1601, 1, 1);
  const int64_t secs = static_cast<int64_t>(totalSeconds % 86400);
  CivilFromDays(days, c.year, c.month, c.day);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>((secs / 60) % 60);
  c.second = static_cast<int>(secs % 60);
  return c;
}

uint64_t UnixToFileTime(int64_t seconds, int64_t nanoseconds) {
  const int64_t ticks = seconds * 10000000LL + nanoseconds / 100;
  if (ticks < -static_cast<int64_t>(kFileTimeUnixEpoch)) return 0;
  return kFileTimeUnixEpoch + static_cast<uint64_t>(ticks);
}

int64_t FileTimeToUnix(uint64_t fileTime) {
  return (static_cast<int64_t>(fileTime) - static_cast<int64_t>(kFileTimeUnixEpoch)) / 10000000LL;
}

uint64_t TimespecToFileTime(const struct timespec& ts) {
  return UnixToFileTime(ts.tv_sec, ts.tv_nsec);
}

CivilTime LocalNow() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  localtime_r(&ts.tv_sec, &tm);
  CivilTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec;
  c.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return c;
}

std::string FileTimeToIso(uint64_t fileTime) {
  if (fileTime == 0) return "";
  CivilTime c = FileTimeToCivil(fileTime);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day,
                c.hour, c.minute, c.second);
  return text;
}

}  // namespace qm
