#ifndef VANTREL_SERVICE_WAKE_PIPE_HPP
#define VANTREL_SERVICE_WAKE_PIPE_HPP

#include "link/tcp_session.hpp"

/// Wakes a thread that waits on sockets (waitForSockets) from another
/// thread: the waiter watches handle() for reading, others call wake().
class WakePipe {
 public:
  WakePipe();
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  /// False when the platform gave no pipe; the reason is in `error()`.
  bool ok() const { return read_ >= 0; }
  int error() const { return error_; }
  SocketHandle handle() const { return static_cast<SocketHandle>(read_); }
  /// Thread-safe, never blocks; wakes that pile up count as one.
  void wake();
  /// Empties the pipe, for the waiter once it has woken.
  void drain();

 private:
  int read_ = -1;
  int write_ = -1;
  int error_ = 0;
};

#endif
