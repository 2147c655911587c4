// The time a long operation has left, from its recent pace: the progress of
// the last few seconds, so that a slow start (a disk spinning up, a file
// system read before its sectors) or a slow stretch long past does not
// stretch the estimate of what is left, as an average over the whole run
// does.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

namespace qm {

class TimeLeftEstimate {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TimeLeftEstimate(std::chrono::milliseconds window = std::chrono::seconds(10)) : window_(window) {}

  // Takes `done` of `total` units at `now` and returns the seconds left,
  // or -1 while the pace is not known yet. A new total, or progress going
  // back, is a new pass: its pace is measured afresh.
  int64_t Add(Clock::time_point now, uint64_t done, uint64_t total);
  // Forgets the pace, as after a pause that says nothing about it.
  void Reset() { samples_.clear(); }

 private:
  struct Sample {
    Clock::time_point at;
    uint64_t done;
  };
  std::chrono::milliseconds window_;
  uint64_t total_ = 0;
  std::deque<Sample> samples_;
};

}  // namespace qm
