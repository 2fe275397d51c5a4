#ifndef VANTREL_LINK_NONBLOCKING_CALLS_HPP
#define VANTREL_LINK_NONBLOCKING_CALLS_HPP

#include "link/socket_calls.hpp"

/// The platform's calls on sockets that never block (createSocket(...,
/// true)), for many commands in flight on one thread, in
/// nonblocking_calls_posix.cpp and nonblocking_calls_win32.cpp: apart from
/// socket_calls, so that vantrel-dim goes without them.
namespace socket_calls {

/// Whether a connect that failed with `error` goes on: wait until the
/// socket can write, then finishConnect().
bool connectPending(long error);
/// Whether a pending connect succeeded, once its socket is ready to write.
bool finishConnect(SocketHandle handle, long& error);
/// Whether a send may be tried while a connect is under way: it then says
/// "would block" until the connect is done, or fails with the connect's own
/// error. Over loopback the connection is made by the time connect()
/// returns, and the command need not wait for it.
extern const bool kSendWhileConnecting;

/// One send or receive. On -1, `wouldBlock` tells "not now" from a failure,
/// whose code is in `error`.
long sendNow(SocketHandle handle, const unsigned char* bytes, int length, bool& wouldBlock,
             long& error);
long receiveNow(SocketHandle handle, unsigned char* buffer, int length, bool& wouldBlock,
                long& error);

/// What an error code of these calls means to a caller.
LinkFailure failureOf(long error);

}  // namespace socket_calls

#endif
