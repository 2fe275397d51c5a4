#include "link/socket_wait.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <ctime>

int waitForSockets(std::vector<SocketWait>& waits, std::int64_t timeoutUs) {
  std::vector<pollfd> fds(waits.size());
  for (std::size_t i = 0; i < waits.size(); ++i) {
    fds[i] = {static_cast<int>(waits[i].handle),
              static_cast<short>((waits[i].read ? POLLIN : 0) | (waits[i].write ? POLLOUT : 0)), 0};
    waits[i].ready = false;
  }
  if (timeoutUs < 0)
    timeoutUs = 0;
  // ppoll, unlike poll, waits to the microsecond: a fade's schedule needs it.
  const timespec wait = {static_cast<time_t>(timeoutUs / 1000000),
                         static_cast<long>(timeoutUs % 1000000) * 1000};
  const int ready = ppoll(fds.data(), fds.size(), &wait, nullptr);
  if (ready <= 0)
    return 0;  // the time is up, or a signal came: the caller looks at its flags
  for (std::size_t i = 0; i < waits.size(); ++i)
    waits[i].ready = fds[i].revents != 0;
  return ready;
}

WakeUp::WakeUp() {
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
    return;
  read_ = static_cast<SocketHandle>(ends[0]);
  write_ = static_cast<SocketHandle>(ends[1]);
  ok_ = true;
}

WakeUp::~WakeUp() {
  if (!ok_)
    return;
  close(static_cast<int>(read_));
  close(static_cast<int>(write_));
}

void WakeUp::signal() {
  if (!ok_)
    return;
  // A full pipe already holds a signal: a failed write loses nothing.
  const char byte = 1;
  const ssize_t written = write(static_cast<int>(write_), &byte, 1);
  (void)written;
}

void WakeUp::drain() {
  char bytes[64];
  while (ok_ && read(static_cast<int>(read_), bytes, sizeof bytes) > 0) {
  }
}
