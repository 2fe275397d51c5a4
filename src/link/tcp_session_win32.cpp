#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

#include "link/socket_calls.hpp"

namespace {

// Waits until `s` is ready to write (or, for a connect, has failed) or to
// read: fails with WSAETIMEDOUT at the deadline and with WSAEINTR once the
// stop flag is up.
bool waitUntilReady(SOCKET s, bool toWrite, const WaitLimit& limit, long& error) {
  for (;;) {
    bool stopped = false;
    const int waitMs = socket_calls::nextWaitMs(limit, stopped);
    if (waitMs == 0) {
      error = stopped ? WSAEINTR : WSAETIMEDOUT;
      return false;
    }
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval wait = {0, waitMs * 1000L};
    const int count = select(0, toWrite ? nullptr : &ready, toWrite ? &ready : nullptr, &failed,
                             &wait);
    if (count > 0)
      return true;
    if (count == SOCKET_ERROR) {
      error = WSAGetLastError();
      return false;
    }
  }
}

// Repeats a non-blocking send or receive until it does something other than
// "not now", waiting in between as the limit allows.
template <typename Call>
long whenReady(SOCKET s, bool toWrite, const WaitLimit& limit, long& error, Call call) {
  for (;;) {
    const int done = call();
    if (done != SOCKET_ERROR)
      return done;
    error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
      return -1;
    if (!waitUntilReady(s, toWrite, limit, error))
      return -1;
  }
}

}  // namespace

namespace socket_calls {

// Nothing in the record is read afterwards; it only has to outlive the call.
int startup() {
  WSADATA startupRecord;
  return WSAStartup(0x0202, &startupRecord);
}

bool createSocket(SocketHandle& handle, long& error) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error = WSAGetLastError();
    return false;
  }
  handle = static_cast<SocketHandle>(s);
  return true;
}

bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port,
                   const WaitLimit* limit, long& error) {
  const SOCKET s = static_cast<SOCKET>(handle);
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = inet_addr(address);
  if (limit != nullptr) {
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
  }
  if (connect(s, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) !=
      SOCKET_ERROR)
    return true;
  error = WSAGetLastError();
  if (limit == nullptr || error != WSAEWOULDBLOCK)
    return false;

  if (!waitUntilReady(s, true, *limit, error))
    return false;
  int result = 0;
  int length = sizeof result;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &length);
  error = result;
  return result == 0;
}

long sendBytes(SocketHandle handle, const unsigned char* bytes, int length,
               const WaitLimit* limit, long& error) {
  const SOCKET s = static_cast<SOCKET>(handle);
  auto sendOnce = [&] { return ::send(s, reinterpret_cast<const char*>(bytes), length, 0); };
  if (limit == nullptr)
    return sendOnce();
  return whenReady(s, true, *limit, error, sendOnce);
}

long receiveBytes(SocketHandle handle, unsigned char* buffer, int length,
                  const WaitLimit* limit, long& error) {
  const SOCKET s = static_cast<SOCKET>(handle);
  auto receiveOnce = [&] { return recv(s, reinterpret_cast<char*>(buffer), length, 0); };
  if (limit == nullptr)
    return receiveOnce();
  return whenReady(s, false, *limit, error, receiveOnce);
}

void closeSocket(SocketHandle handle) {
  closesocket(static_cast<SOCKET>(handle));
}

void cleanup() {
  WSACleanup();
}

std::int64_t monotonicMs() {
  return static_cast<std::int64_t>(GetTickCount64());
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

// getaddrinfo needs the stack started; it is stopped again right after, as
// every session starts its own.
bool lookUpIPv4(const char* host, char (&dotted)[16], char (&why)[128]) {
  const int startupError = socket_calls::startup();
  if (startupError != 0) {
    std::snprintf(why, sizeof why, "WSAStartup failed with error %d", startupError);
    return false;
  }
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host, nullptr, &hints, &found);
  if (result == 0) {
    const in_addr address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    std::snprintf(dotted, sizeof dotted, "%s", inet_ntoa(address));
    freeaddrinfo(found);
  } else {
    std::snprintf(why, sizeof why, "%s", gai_strerrorA(result));
  }
  socket_calls::cleanup();
  return result == 0;
}
