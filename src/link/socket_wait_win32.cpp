// A select() that waits on every unit of a large installation at once.
#define FD_SETSIZE 1024
#include <winsock2.h>

#include <cstring>

#include "link/socket_wait.hpp"

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
