#include <windows.h>

#include <io.h>

#include "common/platform.hpp"

namespace {

const std::int64_t kStopCheckUs = 50000;
// Without a high-resolution timer a wait may end a whole tick late; the
// last stretch is then spent yielding instead.
const std::int64_t kTickUs = 16000;

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

std::atomic<bool> interrupted{false};
std::atomic<HANDLE> stopEvent{nullptr};  // once stopHandle() made it

void stop() {
  interrupted.store(true);
  const HANDLE event = stopEvent.load();
  if (event != nullptr)
    SetEvent(event);
}

BOOL WINAPI onControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  stop();
  return TRUE;
}

// The handler runs on a thread of its own, and Windows ends the process as
// soon as it returns from the close event: main's exit ends the wait.
BOOL WINAPI onControlOrClose(DWORD event) {
  if (event != CTRL_CLOSE_EVENT)
    return onControl(event);
  stop();
  Sleep(INFINITE);
  return TRUE;
}

// Windows 10 1803 and later have high-resolution timers; older ones refuse
// the flag.
struct Timer {
  HANDLE handle = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                         TIMER_ALL_ACCESS);
  bool highResolution = handle != nullptr;

  Timer() {
    if (handle == nullptr)
      handle = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  }
  ~Timer() {
    if (handle != nullptr)
      CloseHandle(handle);
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
};

// One per thread: a firing releases only one of the threads waiting on a
// timer, and each wait sets the timer anew, so threads that shared one
// would steal each other's wake-ups and sleep on for good.
const Timer& waitTimer() {
  static thread_local const Timer timer;
  return timer;
}

HANDLE consoleHandle(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

std::int64_t monotonicUs() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const std::int64_t ticks = counter.QuadPart;
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

bool sleepUntil(std::int64_t deadlineUs, const std::atomic<bool>& stop) {
  const Timer& timer = waitTimer();
  for (;;) {
    if (stop.load())
      return false;
    std::int64_t left = deadlineUs - monotonicUs();
    if (left <= 0)
      return true;
    if (!timer.highResolution || timer.handle == nullptr) {
      if (left <= kTickUs || timer.handle == nullptr) {
        SwitchToThread();
        continue;
      }
      left -= kTickUs;
    }
    LARGE_INTEGER due;
    due.QuadPart = -10 * (left < kStopCheckUs ? left : kStopCheckUs);  // relative, in 100 ns
    SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE);
    WaitForSingleObject(timer.handle, INFINITE);
  }
}

// The high-resolution timers of sleepUntil() are as precise as it gets.
void wakeOnTime() {}

std::int64_t plainWaitSlackUs() {
  return kTickUs;
}

const std::atomic<bool>& catchInterrupts() {
  SetConsoleCtrlHandler(onControl, TRUE);
  return interrupted;
}

const std::atomic<bool>& catchStopRequests() {
  SetConsoleCtrlHandler(onControlOrClose, TRUE);
  return interrupted;
}

std::uintptr_t stopHandle() {
  static const std::uintptr_t made = [] {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
      return ~std::uintptr_t{0};
    stopEvent.store(event);
    if (interrupted.load())
      stop();
    return reinterpret_cast<std::uintptr_t>(event);
  }();
  return made;
}

void requestStop() { stop(); }

bool isTerminal(std::FILE* stream) {
  // _isatty also says yes for NUL; only a console has a console mode.
  DWORD mode;
  return GetConsoleMode(consoleHandle(stream), &mode) != 0;
}

// Windows before 10 refuses the mode.
bool enableCursorMovement(std::FILE* stream) {
  const HANDLE handle = consoleHandle(stream);
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0 &&
         SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
