#include "disk/watch/device_change_debouncer.h"

#include <algorithm>

namespace qm {

void DeviceChangeDebouncer::Note(DeviceChange kind, uint64_t nowMs) {
  auto& due = kind == DeviceChange::kArrival ? arrivalDue_ : removalDue_;
  if (!due) due = nowMs + settleMs_;
}

std::optional<uint64_t> DeviceChangeDebouncer::NextDeadline() const {
  if (arrivalDue_ && removalDue_) return std::min(*arrivalDue_, *removalDue_);
  return arrivalDue_ ? arrivalDue_ : removalDue_;
}

std::optional<DeviceRefresh> DeviceChangeDebouncer::Fire(uint64_t nowMs) {
  const auto deadline = NextDeadline();
  if (!deadline || *deadline > nowMs) return std::nullopt;
  DeviceRefresh refresh{arrivalDue_.has_value(), removalDue_.has_value()};
  Reset();
  return refresh;
}

void DeviceChangeDebouncer::Reset() {
  arrivalDue_.reset();
  removalDue_.reset();
}

}  // namespace qm
