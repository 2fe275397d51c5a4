#ifndef VANTREL_LINK_SOCKET_CALLS_HPP
#define VANTREL_LINK_SOCKET_CALLS_HPP

#include <cstdint>

#include "link/socket_handle.hpp"

/// The platform's socket calls that TcpSession and PendingCommand both
/// need, in socket_calls_posix.cpp and socket_calls_win32.cpp; those of
/// sockets that never block are in nonblocking_calls.hpp. A test build
/// links scripted ones in place of these, to reach failures that a real
/// network will not produce on demand. Failing calls hand back the
/// platform's error code, read right after the call that failed.
namespace socket_calls {

/// Starts the network stack. Returns 0, or the start-up's own error code.
int startup();
/// Undoes a successful `startup`.
void cleanup();

/// Creates an IPv4 TCP stream socket: one whose calls block, as the
/// platform's own do, or one whose calls never block.
bool createSocket(SocketHandle& handle, long& error, bool nonBlocking = false);

/// Connects to `address` as inet_addr reads it, at `port`. On a socket
/// that never blocks a connect that goes on fails with an error for which
/// connectPending() is true.
bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port, long& error);

/// One blocking send or receive without flags, as the platform's own:
/// the bytes, 0 when the peer closed (receive), or -1.
long sendBytes(SocketHandle handle, const unsigned char* bytes, int length);
long receiveBytes(SocketHandle handle, unsigned char* buffer, int length);

void closeSocket(SocketHandle handle);

}  // namespace socket_calls

#endif
