#include "disk/watch/device_watch.h"

#include <libudev.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/errors.h"

namespace qm {

namespace {
uint64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

uint64_t SectorsOf(struct udev_device* device) {
  const char* size = udev_device_get_sysattr_value(device, "size");
  return size ? std::strtoull(size, nullptr, 10) : 0;
}

std::string Text(const char* s) { return s ? s : ""; }
}  // namespace

DeviceWatch::DeviceWatch(uint64_t settleMs) : debouncer_(settleMs) {}

DeviceWatch::~DeviceWatch() { Stop(); }

int DeviceWatch::Start() {
  Stop();
  udev_ = udev_new();
  if (!udev_) return err::kNotEnoughMemory;
  // Events re-sent by udevd come after the device node and its properties
  // are ready; without udevd (containers, rescue systems) the kernel's own
  // events are all there is.
  const bool udevd = std::filesystem::exists("/run/udev/control");
  monitor_ = udev_monitor_new_from_netlink(udev_, udevd ? "udev" : "kernel");
  if (!monitor_) {
    Stop();
    return err::kAccessDenied;
  }
  udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr);
  udev_monitor_set_receive_buffer_size(monitor_, 1 << 20);  // best effort
  if (int rc = udev_monitor_enable_receiving(monitor_); rc < 0) {
    Stop();
    return ErrorFromErrno(-rc);
  }
  filter_.Prime("/");

  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (timerFd_ < 0 || epollFd_ < 0) {
    const int rc = LastError();
    Stop();
    return rc;
  }
  for (int watched : {udev_monitor_get_fd(monitor_), timerFd_}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = watched;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, watched, &ev) != 0) {
      const int rc = LastError();
      Stop();
      return rc;
    }
  }
  return err::kSuccess;
}

void DeviceWatch::Stop() {
  if (epollFd_ >= 0) ::close(epollFd_);
  if (timerFd_ >= 0) ::close(timerFd_);
  epollFd_ = timerFd_ = -1;
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
  monitor_ = nullptr;
  udev_ = nullptr;
  debouncer_.Reset();
}

void DeviceWatch::ReadMonitor(std::vector<DiskEvent>* events, uint64_t nowMs) {
  const int fd = udev_monitor_get_fd(monitor_);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
    struct udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) continue;  // a message that did not parse; the socket is drained next round
    const std::string name = Text(udev_device_get_sysname(device));
    const auto kind = filter_.Classify(Text(udev_device_get_action(device)),
                                       Text(udev_device_get_devtype(device)), name,
                                       SectorsOf(device));
    udev_device_unref(device);
    if (!kind) continue;
    debouncer_.Note(*kind, nowMs);
    if (events) events->push_back({*kind, name});
  }
}

void DeviceWatch::ArmTimer() {
  itimerspec spec{};
  if (const auto deadline = debouncer_.NextDeadline()) {
    // Absolute on the monotonic clock; a deadline in the past fires at once.
    spec.it_value.tv_sec = static_cast<time_t>(*deadline / 1000);
    spec.it_value.tv_nsec = static_cast<long>(*deadline % 1000) * 1000000;
    if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;
  }
  ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

std::optional<DeviceRefresh> DeviceWatch::Process(std::vector<DiskEvent>* events) {
  if (!monitor_) return std::nullopt;
  uint64_t expirations = 0;
  while (::read(timerFd_, &expirations, sizeof expirations) > 0) {
  }
  ReadMonitor(events, MonotonicMs());
  const auto refresh = debouncer_.Fire(MonotonicMs());
  ArmTimer();
  return refresh;
}

}  // namespace qm
