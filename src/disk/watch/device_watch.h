// Watches the kernel for disks coming and going (a libudev monitor on the
// block subsystem) and settles each burst of events into one refresh.
//
// Made for an event loop: poll fd() for reading (a QSocketNotifier in the
// desktop application) and call Process() whenever it is readable. The
// descriptor becomes readable both when the kernel reports an event and
// when the settle timer runs out, so the loop needs no timer of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/watch/block_event_filter.h"
#include "disk/watch/device_change_debouncer.h"

struct udev;
struct udev_monitor;

namespace qm {

struct DiskEvent {
  DeviceChange kind;
  std::string name;  // sda, sda1, loop3
};

class DeviceWatch {
 public:
  explicit DeviceWatch(uint64_t settleMs = DeviceChangeDebouncer::kSettleMs);
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  // Connects to the kernel's device events. Returns 0 or an error code.
  int Start();
  void Stop();
  // -1 until Start succeeded.
  int fd() const { return epollFd_; }

  // Reads whatever is pending without blocking. Disk events as they came
  // are appended to `events` when given. Returns the refresh that is due
  // now, if the settle time of a burst has run out.
  std::optional<DeviceRefresh> Process(std::vector<DiskEvent>* events = nullptr);

 private:
  void ReadMonitor(std::vector<DiskEvent>* events, uint64_t nowMs);
  void ArmTimer();

  DeviceChangeDebouncer debouncer_;
  BlockEventFilter filter_;
  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
  int timerFd_ = -1;
  int epollFd_ = -1;
};

}  // namespace qm
