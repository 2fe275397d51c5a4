#ifndef VANTREL_LINK_SOCKET_WAIT_HPP
#define VANTREL_LINK_SOCKET_WAIT_HPP

#include <cstdint>
#include <vector>

#include "link/tcp_session.hpp"

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

#endif
