#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include "common/platform.hpp"

namespace {

const std::int64_t kStopCheckUs = 50000;

// Set from a signal handler, so it must not take a lock.
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be lock-free");
std::atomic<bool> interrupted{false};
static_assert(std::atomic<int>::is_always_lock_free, "the stop pipe must be lock-free");
std::atomic<int> stopPipe{-1};  // its write end, once stopHandle() made it

// Async-signal-safe. A full pipe is readable already: the write may fail.
void stop() {
  interrupted.store(true);
  const int pipe = stopPipe.load();
  if (pipe < 0)
    return;
  const char byte = 1;
  const ssize_t written = write(pipe, &byte, 1);
  (void)written;
}

void onInterrupt(int) {
  stop();
}

void catchSignal(int number) {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;  // no SA_RESTART: blocking calls return at once
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
}

}  // namespace

std::int64_t monotonicUs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

bool sleepUntil(std::int64_t deadlineUs, const std::atomic<bool>& stop) {
  for (;;) {
    if (stop.load())
      return false;
    const std::int64_t now = monotonicUs();
    if (now >= deadlineUs)
      return true;
    // An absolute wake-up: a signal that cuts the sleep short costs nothing
    // of the schedule.
    const std::int64_t wake = deadlineUs - now > kStopCheckUs ? now + kStopCheckUs : deadlineUs;
    const timespec at = {static_cast<time_t>(wake / 1000000),
                         static_cast<long>(wake % 1000000) * 1000};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
  }
}

// Linux lets a wait end up to 50 us late by default, to batch wake-ups.
void wakeOnTime() {
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

std::int64_t plainWaitSlackUs() {
  return 0;
}

const std::atomic<bool>& catchInterrupts() {
  catchSignal(SIGINT);
  return interrupted;
}

const std::atomic<bool>& catchStopRequests() {
  catchSignal(SIGINT);
  catchSignal(SIGTERM);
  return interrupted;
}

std::uintptr_t stopHandle() {
  static const std::uintptr_t readEnd = [] {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
      return ~std::uintptr_t{0};
    stopPipe.store(ends[1]);
    if (interrupted.load())
      stop();
    return static_cast<std::uintptr_t>(ends[0]);
  }();
  return readEnd;
}

void requestStop() { stop(); }

bool isTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

// Every terminal emulator Linux runs in takes them.
bool enableCursorMovement(std::FILE*) { return true; }
