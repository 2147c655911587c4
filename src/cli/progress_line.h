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

}  // namespace qm::cli
