// Turns bursts of device arrivals and removals into single refreshes.
//
// An arrival starts the arrival timer, a removal the removal timer; both
// run for 5 seconds, and an event whose timer is already running changes
// nothing, so plugging in a disk (which raises several events) leads to one
// refresh 5 seconds after the first of them. When a timer fires, all timers
// stop. The refresh that fires names every kind that was pending, so that a
// disk removed while an arrival was pending is not forgotten.
//
// Pure logic on a millisecond clock the caller supplies.
#pragma once

#include <cstdint>
#include <optional>

namespace qm {

enum class DeviceChange { kArrival, kRemoval };

struct DeviceRefresh {
  bool arrival = false;  // rebuild adding newly attached disks
  bool removal = false;  // rebuild dropping detached disks
};

class DeviceChangeDebouncer {
 public:
  static constexpr uint64_t kSettleMs = 5000;

  explicit DeviceChangeDebouncer(uint64_t settleMs = kSettleMs) : settleMs_(settleMs) {}

  void Note(DeviceChange kind, uint64_t nowMs);
  // When the first pending timer fires; nothing when none is pending.
  std::optional<uint64_t> NextDeadline() const;
  // The refresh due at `nowMs`, if a timer has run out; stops all timers.
  std::optional<DeviceRefresh> Fire(uint64_t nowMs);
  // Forgets pending timers.
  void Reset();

 private:
  uint64_t settleMs_;
  std::optional<uint64_t> arrivalDue_;
  std::optional<uint64_t> removalDue_;
};

}  // namespace qm
