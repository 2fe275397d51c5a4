#include "link/socket_calls.hpp"

#include <winsock2.h>

#include <cstring>

namespace socket_calls {

// Nothing in the record is read afterwards; it only has to outlive the call.
int startup() {
  WSADATA startupRecord;
  return WSAStartup(0x0202, &startupRecord);
}

void cleanup() {
  WSACleanup();
}

bool createSocket(SocketHandle& handle, long& error, bool nonBlocking) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error = WSAGetLastError();
    return false;
  }
  if (nonBlocking) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
  }
  handle = static_cast<SocketHandle>(s);
  return true;
}

bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port, long& error) {
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = inet_addr(address);
  if (connect(static_cast<SOCKET>(handle), reinterpret_cast<const sockaddr*>(&destination),
              sizeof destination) != SOCKET_ERROR)
    return true;
  error = WSAGetLastError();
  return false;
}

long sendBytes(SocketHandle handle, const unsigned char* bytes, int length) {
  return ::send(static_cast<SOCKET>(handle), reinterpret_cast<const char*>(bytes), length, 0);
}

long receiveBytes(SocketHandle handle, unsigned char* buffer, int length) {
  return recv(static_cast<SOCKET>(handle), reinterpret_cast<char*>(buffer), length, 0);
}

void closeSocket(SocketHandle handle) {
  closesocket(static_cast<SOCKET>(handle));
}

}  // namespace socket_calls
