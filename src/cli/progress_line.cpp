#include "cli/progress_line.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace qm::cli {

namespace {
int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

ProgressLine::ProgressLine(bool quiet) : enabled_(!quiet && ::isatty(STDERR_FILENO)) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(int percent, int64_t secondsLeft, const std::string& detail) {
  if (!enabled_) return;
  const int64_t now = NowMs();
  // Redraw at most ten times a second; the terminal is not the bottleneck to be.
  if (drawn_ && percent < 100 && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  constexpr int kWidth = 30;
  std::string bar(static_cast<size_t>(percent * kWidth / 100), '#');
  bar.resize(kWidth, '.');
  std::string left = secondsLeft >= 0 ? ", " + FormatSeconds(secondsLeft) + " left" : "";
  std::fprintf(stderr, "\r\033[K[%s] %3d%%%s  %s", bar.c_str(), percent, left.c_str(),
               detail.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::Finish() {
  if (enabled_ && drawn_) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }
  drawn_ = false;
}

std::string FormatBytes(uint64_t bytes) {
  static const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 5) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0)
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatSeconds(int64_t seconds) {
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60));
  else if (seconds >= 60)
    std::snprintf(text, sizeof text, "%lldm%02llds", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%llds", static_cast<long long>(seconds));
  return text;
}

std::string FormatRate(uint64_t bytes, double seconds) {
  char text[32];
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
  std::snprintf(text, sizeof text, "%.1f MB/s", rate);
  return text;
}

int PercentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  if (done >= total) return 100;
  return static_cast<int>(static_cast<unsigned __int128>(done) * 100 / total);
}

std::string DeepPositionText(uint64_t done, uint64_t total) {
  if (total == 0) return std::to_string(done) + " sectors";
  return std::to_string(PercentOf(done, total)) + " % \u2014 " + std::to_string(done) + " of " +
         std::to_string(total) + " sectors";
}

}  // namespace qm::cli
