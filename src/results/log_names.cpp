#include "results/log_names.h"

#include <sys/stat.h>

#include <ctime>
#include <optional>
#include <tuple>

namespace qm {

namespace fs = std::filesystem;

namespace {

// The file's last change as a local FILETIME, comparable with the local
// times of log names; 0 when it cannot be read.
uint64_t LocalChangeTime(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  struct tm tm {};
  if (localtime_r(&st.st_mtim.tv_sec, &tm) == nullptr) return 0;
  const CivilTime local{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                        tm.tm_min,         tm.tm_sec,      static_cast<int>(st.st_mtim.tv_nsec / 1000000)};
  uint64_t fileTime = 0;
  CivilToFileTime(local, fileTime);
  return fileTime;
}

// When the log was started, as far as its name and file tell.
uint64_t StartTime(std::string_view name, uint64_t changed) {
  const std::vector<CivilTime> readings = LogNameTimes(name);
  uint64_t only = 0;
  if (readings.size() == 1 && CivilToFileTime(readings.front(), only)) return only;
  // A log is named when it is started, so it cannot have been started after
  // it was last written (a minute of slack for the name's rounding).
  constexpr uint64_t kMinute = 60ULL * 10000000ULL;
  uint64_t best = 0;
  for (const CivilTime& reading : readings) {
    uint64_t t = 0;
    if (CivilToFileTime(reading, t) && t <= changed + kMinute && t > best) best = t;
  }
  return best != 0 ? best : changed;
}

}  // namespace

bool IsLogSideFile(std::string_view name) {
  auto endsWith = [&](std::string_view suffix) {
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return endsWith("_Relation") || endsWith("_DirInfo");
}

std::string FindScanLogName(const fs::path& folder, std::string_view prefix) {
  // Neither directory order nor name order says which log is newer: the
  // date in a name is unpadded, so "2026129..." sorts after "20261210...".
  struct Candidate {
    uint64_t started;
    uint64_t changed;
    std::string name;
  };
  std::optional<Candidate> newest;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::error_code typeError;
    if (!entry.is_regular_file(typeError)) continue;
    std::string name = entry.path().filename().string();
    if (name.find(prefix) == std::string::npos || IsLogSideFile(name)) continue;
    const uint64_t changed = LocalChangeTime(entry.path());
    Candidate candidate{StartTime(name, changed), changed, std::move(name)};
    const auto newer = [](const Candidate& a, const Candidate& b) {
      // Reversed name: the name that sorts first wins a full tie.
      return std::tie(a.started, a.changed, b.name) > std::tie(b.started, b.changed, a.name);
    };
    if (!newest || newer(candidate, *newest)) newest = std::move(candidate);
  }
  return newest ? newest->name : std::string();
}

}  // namespace qm
