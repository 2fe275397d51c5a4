// A select() that waits on every unit of a large installation at once.
#define FD_SETSIZE 1024
#include <winsock2.h>

#include <cstring>

#include "link/socket_calls.hpp"
#include "link/socket_wait.hpp"

// Sockets that never block, for many commands in flight on one thread.
// Apart from tcp_session_win32.cpp so that vantrel-dim goes without them.

namespace socket_calls {

bool createNonBlockingSocket(SocketHandle& handle, long& error) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error = WSAGetLastError();
    return false;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  handle = static_cast<SocketHandle>(s);
  return true;
}

bool startConnect(SocketHandle handle, const char* address, std::uint16_t port, bool& pending,
                  long& error) {
  pending = false;
  const SOCKET s = static_cast<SOCKET>(handle);
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = inet_addr(address);
  if (connect(s, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) !=
      SOCKET_ERROR)
    return true;
  error = WSAGetLastError();
  pending = error == WSAEWOULDBLOCK;
  return pending;
}

// A send before the connect is done fails with WSAENOTCONN, which says
// nothing of how the connect will end.
const bool kSendWhileConnecting = false;

bool finishConnect(SocketHandle handle, long& error) {
  int result = 0;
  int length = sizeof result;
  if (getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_ERROR,
                 reinterpret_cast<char*>(&result), &length) != 0)
    result = WSAGetLastError();
  error = result;
  return result == 0;
}

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

}  // namespace socket_calls

// select() rather than WSAPoll(): older Windows never report a refused
// connect to WSAPoll, only to select()'s exception set.
int waitForSockets(std::vector<SocketWait>& waits, std::int64_t timeoutUs) {
  for (SocketWait& wait : waits)
    wait.ready = false;
  if (timeoutUs < 0)
    timeoutUs = 0;
  if (waits.empty()) {
    Sleep(static_cast<DWORD>((timeoutUs + 999) / 1000));
    return 0;
  }
  fd_set reading;
  fd_set writing;
  fd_set failing;
  FD_ZERO(&reading);
  FD_ZERO(&writing);
  FD_ZERO(&failing);
  for (const SocketWait& wait : waits) {
    const SOCKET s = static_cast<SOCKET>(wait.handle);
    if (wait.read)
      FD_SET(s, &reading);
    if (wait.write)
      FD_SET(s, &writing);
    FD_SET(s, &failing);
  }
  timeval limit = {static_cast<long>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000)};
  if (select(0, &reading, &writing, &failing, &limit) <= 0)
    return 0;
  int count = 0;
  for (SocketWait& wait : waits) {
    const SOCKET s = static_cast<SOCKET>(wait.handle);
    wait.ready = FD_ISSET(s, &reading) || FD_ISSET(s, &writing) || FD_ISSET(s, &failing);
    count += wait.ready ? 1 : 0;
  }
  return count;
}

// A datagram socket bound to a free loopback port and connected to itself:
// each signal is a datagram it sends itself, which select() sees as
// something to read.
WakeUp::WakeUp() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET)
    return;
  sockaddr_in self;
  std::memset(&self, 0, sizeof self);
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) == SOCKET_ERROR ||
      getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) == SOCKET_ERROR ||
      connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) == SOCKET_ERROR ||
      ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    closesocket(s);
    return;
  }
  read_ = write_ = static_cast<SocketHandle>(s);
  ok_ = true;
}

WakeUp::~WakeUp() {
  if (ok_)
    closesocket(static_cast<SOCKET>(read_));
}

void WakeUp::signal() {
  const char byte = 1;
  if (ok_)
    send(static_cast<SOCKET>(write_), &byte, 1, 0);
}

void WakeUp::drain() {
  char bytes[64];
  while (ok_ && recv(static_cast<SOCKET>(read_), bytes, sizeof bytes, 0) > 0) {
  }
}
