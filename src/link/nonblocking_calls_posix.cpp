#include "link/nonblocking_calls.hpp"

#include <sys/socket.h>

#include <cerrno>

namespace socket_calls {

bool connectPending(long error) { return error == EINPROGRESS; }

bool finishConnect(SocketHandle handle, long& error) {
  int result = 0;
  socklen_t length = sizeof result;
  if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &result, &length) != 0)
    result = errno;
  error = result;
  return result == 0;
}

const bool kSendWhileConnecting = true;

long sendNow(SocketHandle handle, const unsigned char* bytes, int length, bool& wouldBlock,
             long& error) {
  const long sent = ::send(static_cast<int>(handle), bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
  wouldBlock = sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
  if (sent < 0)
    error = errno;
  return sent;
}

long receiveNow(SocketHandle handle, unsigned char* buffer, int length, bool& wouldBlock,
                long& error) {
  const long got = recv(static_cast<int>(handle), buffer, static_cast<size_t>(length), 0);
  wouldBlock = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
  if (got < 0)
    error = errno;
  return got;
}

LinkFailure failureOf(long error) {
  switch (error) {
    case 0: return LinkFailure::None;
    case ECONNREFUSED: return LinkFailure::Refused;
    case EHOSTUNREACH:
    case ENETUNREACH: return LinkFailure::Unreachable;
    case ETIMEDOUT: return LinkFailure::TimedOut;
    case EINTR: return LinkFailure::Stopped;
    case ECONNRESET:
    case EPIPE: return LinkFailure::Reset;
    default: return LinkFailure::Other;
  }
}

}  // namespace socket_calls
