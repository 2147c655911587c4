// One self-rewriting progress line on stderr. Silent when stderr is not a
// terminal or when the user asked for quiet output.
#pragma once

#include <cstdint>
#include <string>

namespace qm::cli {

class ProgressLine {
 public:
  explicit ProgressLine(bool quiet);
  ~ProgressLine();
  // percent 0..100; secondsLeft < 0 = unknown; `detail` is appended.
  void Update(int percent, int64_t secondsLeft, const std::string& detail);
  // Clears the line so that later output starts on a clean line.
  void Finish();
  bool enabled() const { return enabled_; }

 private:
  bool enabled_;
  bool drawn_ = false;
  int64_t lastDrawMs_ = 0;
};

std::string FormatBytes(uint64_t bytes);
std::string FormatSeconds(int64_t seconds);
// "182.4 MB/s" (decimal megabytes, as disks are rated).
std::string FormatRate(uint64_t bytes, double seconds);
// done * 100 / total without overflow, 0..100; 0 when total is 0.
int PercentOf(uint64_t done, uint64_t total);
// Where a deep pass stands: "37 % — 1234567 of 3333333 sectors", or
// "1234567 sectors" when the total is not known.
std::string DeepPositionText(uint64_t done, uint64_t total);

}  // namespace qm::cli
