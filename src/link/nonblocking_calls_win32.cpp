#include "link/nonblocking_calls.hpp"

#include <winsock2.h>

namespace socket_calls {

bool connectPending(long error) { return error == WSAEWOULDBLOCK; }

bool finishConnect(SocketHandle handle, long& error) {
  int result = 0;
  int length = sizeof result;
  if (getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_ERROR,
                 reinterpret_cast<char*>(&result), &length) != 0)
    result = WSAGetLastError();
  error = result;
  return result == 0;
}

// A send before the connect is done fails with WSAENOTCONN, which says
// nothing of how the connect will end.
const bool kSendWhileConnecting = false;

long sendNow(SocketHandle handle, const unsigned char* bytes, int length, bool& wouldBlock,
             long& error) {
  const int sent = ::send(static_cast<SOCKET>(handle), reinterpret_cast<const char*>(bytes),
                          length, 0);
  if (sent == SOCKET_ERROR)
    error = WSAGetLastError();
  wouldBlock = sent == SOCKET_ERROR && error == WSAEWOULDBLOCK;
  return sent == SOCKET_ERROR ? -1 : sent;
}

long receiveNow(SocketHandle handle, unsigned char* buffer, int length, bool& wouldBlock,
                long& error) {
  const int got = recv(static_cast<SOCKET>(handle), reinterpret_cast<char*>(buffer), length, 0);
  if (got == SOCKET_ERROR)
    error = WSAGetLastError();
  wouldBlock = got == SOCKET_ERROR && error == WSAEWOULDBLOCK;
  return got == SOCKET_ERROR ? -1 : got;
}

LinkFailure failureOf(long error) {
  switch (error) {
    case 0: return LinkFailure::None;
    case WSAECONNREFUSED: return LinkFailure::Refused;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH: return LinkFailure::Unreachable;
    case WSAETIMEDOUT: return LinkFailure::TimedOut;
    case WSAEINTR: return LinkFailure::Stopped;
    case WSAECONNRESET:
    case WSAECONNABORTED: return LinkFailure::Reset;
    default: return LinkFailure::Other;
  }
}

}  // namespace socket_calls
