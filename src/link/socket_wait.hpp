#ifndef VANTREL_LINK_SOCKET_WAIT_HPP
#define VANTREL_LINK_SOCKET_WAIT_HPP

#include <cstdint>
#include <vector>

#include "link/socket_handle.hpp"

/// Waiting for many sockets at once, on the platform, in socket_wait_posix.cpp
/// and socket_wait_win32.cpp.

/// A socket to wait for, and whether it became ready.
struct SocketWait {
  SocketHandle handle = 0;
  bool read = false;   ///< wait for something to read (or the peer's close)
  bool write = false;  ///< wait until it can write (or its connect ended)
  bool ready = false;  ///< set by waitForSockets; a failed socket counts as ready
};

/// Waits once until one of `waits` is ready, `timeoutUs` has passed (to the
/// microsecond where the platform allows) or a signal arrives. Marks the
/// ready ones and returns how many there are; 0 when none is. Without any
/// socket it only waits.
int waitForSockets(std::vector<SocketWait>& waits, std::int64_t timeoutUs);

/// A handle that any thread can make readable, to end the waitForSockets()
/// of the thread that waits for it (as a read): a pipe on POSIX; on Windows,
/// whose select() takes only sockets, a loopback UDP socket that sends to
/// itself. Needs a NetworkStack.
class WakeUp {
 public:
  WakeUp();
  ~WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;

  /// Whether the platform gave it its handles.
  bool ok() const { return ok_; }
  SocketHandle handle() const { return read_; }
  /// Makes handle() readable; from any thread.
  void signal();
  /// Reads away every signal so far, once handle() was ready.
  void drain();

 private:
  bool ok_ = false;
  SocketHandle read_ = 0;
  SocketHandle write_ = 0;
};

#endif
