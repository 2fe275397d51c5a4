#include "service/clock_change.hpp"

#include <cerrno>
#include <cstdint>
#include <ctime>

#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// A timer on the real-time clock that the kernel cancels when the clock is set; it is set far
// ahead, as only its cancelling is of use.
constexpr std::time_t kFarAheadSeconds = std::time_t{10} * 365 * 86400;

}  // namespace

ClockChange::ClockChange() {
  const int fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0)
    return;
  handle_ = static_cast<SocketHandle>(fd);
  ok_ = true;
  arm();
}

ClockChange::~ClockChange() {
  if (ok_)
    close(static_cast<int>(handle_));
}

void ClockChange::arm() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  itimerspec at{};
  at.it_value.tv_sec = now.tv_sec + kFarAheadSeconds;
  timerfd_settime(static_cast<int>(handle_), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &at, nullptr);
}

bool ClockChange::take() {
  if (!ok_)
    return false;
  std::uint64_t expirations = 0;
  const ssize_t got = read(static_cast<int>(handle_), &expirations, sizeof expirations);
  const bool set = got < 0 && errno == ECANCELED;
  if (set || got > 0)
    arm();
  return set;
}
