#ifndef VANTREL_LINK_SOCKET_CALLS_HPP
#define VANTREL_LINK_SOCKET_CALLS_HPP

#include <cstdint>

#include "link/tcp_session.hpp"

/// The platform's socket calls as `TcpSession` needs them, one file per
/// platform. A test build links scripted ones instead, to reach failures that
/// a real network will not produce on demand. Failing calls hand back the
/// platform's error code, read right after the call that failed.
///
/// Without a `WaitLimit` a call blocks, exactly as the platform's own call
/// does. With one the socket is non-blocking and each call waits only until
/// the limit's deadline (failing with the platform's "timed out") or until
/// its stop flag turns true (failing with its "interrupted").
namespace socket_calls {

/// Starts the network stack. Returns 0, or the start-up's own error code.
int startup();

/// Creates an IPv4 TCP stream socket.
bool createSocket(SocketHandle& handle, long& error);

/// Connects to `address` as inet_addr reads it, at `port`.
bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port,
                   const WaitLimit* limit, long& error);

/// `error` is set only when a call with a limit fails.
long sendBytes(SocketHandle handle, const unsigned char* bytes, int length,
               const WaitLimit* limit, long& error);
long receiveBytes(SocketHandle handle, unsigned char* buffer, int length,
                  const WaitLimit* limit, long& error);

void closeSocket(SocketHandle handle);

/// Creates a non-blocking IPv4 TCP stream socket.
bool createNonBlockingSocket(SocketHandle& handle, long& error);

/// Starts connecting a non-blocking socket to `address` as inet_addr reads
/// it. `pending` says the connect goes on: wait until the socket is ready to
/// write, then finishConnect().
bool startConnect(SocketHandle handle, const char* address, std::uint16_t port, bool& pending,
                  long& error);

/// Whether a send may be tried while a non-blocking connect is under way:
/// it then says "would block" until the connect is done, or fails with the
/// connect's own error. Over loopback the connection is made by the time
/// connect() returns, and the command need not wait for it.
extern const bool kSendWhileConnecting;

/// Whether a pending connect succeeded, once its socket is ready to write.
bool finishConnect(SocketHandle handle, long& error);

/// One send or receive on a non-blocking socket. On -1, `wouldBlock` tells
/// "not now" from a failure, whose code is in `error`.
long sendNow(SocketHandle handle, const unsigned char* bytes, int length, bool& wouldBlock,
             long& error);
long receiveNow(SocketHandle handle, unsigned char* buffer, int length, bool& wouldBlock,
                long& error);

/// Undoes a successful `startup`.
void cleanup();

/// Milliseconds on a clock that only goes forward: the clock of deadlines.
std::int64_t monotonicMs();

/// What an error code of these calls means to a caller.
LinkFailure failureOf(long error);

/// How long a wait with `limit` may wait next, in milliseconds: at most 50,
/// so that a stop is seen in time. 0 when the wait is over; `stopped` then
/// says whether the stop flag ended it rather than the deadline. Shared by
/// both platforms' waits.
int nextWaitMs(const WaitLimit& limit, bool& stopped);

}  // namespace socket_calls

#endif
