#include "service/wake_pipe.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

WakePipe::WakePipe() {
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
    error_ = errno;
    return;
  }
  read_ = ends[0];
  write_ = ends[1];
}

WakePipe::~WakePipe() {
  if (read_ >= 0) {
    close(read_);
    close(write_);
  }
}

void WakePipe::wake() {
  const char byte = 1;
  // A full pipe already holds a wake the waiter has not seen.
  while (write(write_, &byte, 1) < 0 && errno == EINTR) {
  }
}

void WakePipe::drain() {
  char bytes[64];
  while (read(read_, bytes, sizeof bytes) > 0 || errno == EINTR) {
  }
}
