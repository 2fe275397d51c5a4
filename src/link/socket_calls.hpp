#ifndef VANTREL_LINK_SOCKET_CALLS_HPP
#define VANTREL_LINK_SOCKET_CALLS_HPP

#include <cstdint>

#include "link/tcp_session.hpp"

/// The platform's socket calls as `TcpSession` needs them, one file per
/// platform. A test build links scripted ones instead, to reach failures that
/// a real network will not produce on demand. Failing calls hand back the
/// platform's error code, read right after the call that failed.
namespace socket_calls {

/// Starts the network stack. Returns 0, or the start-up's own error code.
int startup();

/// Creates an IPv4 TCP stream socket.
bool createSocket(SocketHandle& handle, long& error);

/// Connects to `address` as inet_addr reads it, at `port`.
bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port, long& error);

long sendBytes(SocketHandle handle, const unsigned char* bytes, int length);
long receiveBytes(SocketHandle handle, unsigned char* buffer, int length);
void closeSocket(SocketHandle handle);

/// Undoes a successful `startup`.
void cleanup();

}  // namespace socket_calls

#endif
