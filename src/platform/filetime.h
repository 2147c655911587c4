// FILETIME (100 ns units since 1601-01-01) and civil dates.
//
// FAT stores local civil times without a zone; they are converted to
// FILETIME as they stand, with no time-zone conversion.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace qm {

struct CivilTime {
  int year = 1601;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// 100 ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

// Converts a civil date and time to FILETIME. Returns false (and 0) for a date
// out of range (before 1601, month or day out of range, time out of range).
bool CivilToFileTime(const CivilTime& civil, uint64_t& fileTime);
CivilTime FileTimeToCivil(uint64_t fileTime);

uint64_t UnixToFileTime(int64_t seconds, int64_t nanoseconds = 0);
int64_t FileTimeToUnix(uint64_t fileTime);
uint64_t TimespecToFileTime(const struct timespec& ts);

// The current local time (for log names).
CivilTime LocalNow();
// ISO-8601 text "YYYY-MM-DDTHH:MM:SS" of a FILETIME, "" for 0.
std::string FileTimeToIso(uint64_t fileTime);

}  // namespace qm
