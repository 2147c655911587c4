#include "app/time_left.h"

#include <cmath>

namespace qm {

namespace {
// Closer samples add nothing but memory: progress comes many times a second.
constexpr auto kSampleEvery = std::chrono::milliseconds(100);
// Less than this between the oldest and the newest sample is no pace yet.
constexpr auto kLeastSpan = std::chrono::seconds(2);
}  // namespace

int64_t TimeLeftEstimate::Add(Clock::time_point now, uint64_t done, uint64_t total) {
  if (total != total_ || (!samples_.empty() && done < samples_.back().done)) {
    samples_.clear();
    total_ = total;
  }
  if (total != 0 && done >= total) return 0;
  if (samples_.empty() || now - samples_.back().at >= kSampleEvery) samples_.push_back({now, done});
  // The oldest sample kept is the last one at or before the window's start,
  // so that the pace always spans the whole window once there is one.
  while (samples_.size() > 2 && now - samples_[1].at >= window_) samples_.pop_front();
  const Sample& first = samples_.front();
  const auto span = now - first.at;
  if (span < kLeastSpan || done <= first.done || total == 0) return -1;
  const double seconds = std::chrono::duration<double>(span).count();
  const double perSecond = static_cast<double>(done - first.done) / seconds;
  return static_cast<int64_t>(std::ceil(static_cast<double>(total - done) / perSecond));
}

}  // namespace qm
