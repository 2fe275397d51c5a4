// Windows Sockets following the script (support/script.hpp) instead of the
// network, beneath the Windows session code, which runs unchanged.
//
// The headers declare the Winsock calls dllimport, so the session calls them
// through import pointers (__imp_NAME) that ws2_32's import library would
// otherwise supply. Defining those pointers here puts the scripted calls in
// their place at link time; htons and inet_addr stay ws2_32's own.
//
// Each call is logged under its Winsock name. A call made with other
// arguments than the session must use is logged with them, so that a test
// comparing the log sees it.

#include <winsock2.h>

#include <cstdio>
#include <cstring>

#include "support/script.hpp"

namespace {

const SOCKET kHandle = 0x1234;
int lastError = 0;
char lastSent[4];

void logUnexpected(const char* format, long a, long b = 0, long c = 0) {
  char line[96];
  std::snprintf(line, sizeof line, format, a, b, c);
  logCall(line);
}

int WSAAPI scriptedStartup(WORD version, LPWSADATA record) {
  if (version != 0x0202 || record == nullptr)
    logUnexpected("WSAStartup(version 0x%04lx, record %ld)", version, record != nullptr);
  else
    logCall("WSAStartup");
  long code = 0;
  return scripted("startup", code) ? static_cast<int>(code) : 0;
}

SOCKET WSAAPI scriptedSocket(int family, int type, int protocol) {
  if (family != AF_INET || type != SOCK_STREAM || protocol != IPPROTO_TCP)
    logUnexpected("socket(%ld, %ld, %ld)", family, type, protocol);
  else
    logCall("socket");
  long code = 0;
  if (scripted("socket", code)) {
    lastError = static_cast<int>(code);
    return INVALID_SOCKET;
  }
  return kHandle;
}

int WSAAPI scriptedConnect(SOCKET s, const sockaddr* name, int length) {
  const auto* destination = reinterpret_cast<const sockaddr_in*>(name);
  const char zero[sizeof destination->sin_zero] = {};
  if (s != kHandle || length != 16 || destination->sin_family != AF_INET ||
      std::memcmp(destination->sin_zero, zero, sizeof zero) != 0)
    logUnexpected("connect(handle ok %ld, length %ld, family %ld, sin_zero not all zero)",
                  s == kHandle, length, destination->sin_family);
  else
    logCall("connect");
  long code = 0;
  if (scripted("connect", code)) {
    lastError = static_cast<int>(code);
    return SOCKET_ERROR;
  }
  return 0;
}

int WSAAPI scriptedSend(SOCKET s, const char* bytes, int length, int flags) {
  if (s != kHandle || flags != 0)
    logUnexpected("send(handle ok %ld, flags %ld)", s == kHandle, flags);
  else
    logCall("send");
  std::memcpy(lastSent, bytes, sizeof lastSent);
  long count = length;
  scripted("send", count);
  if (count < 0)
    lastError = WSAECONNRESET;
  return static_cast<int>(count);
}

int WSAAPI scriptedRecv(SOCKET s, char* buffer, int length, int flags) {
  if (s != kHandle || flags != 0)
    logUnexpected("recv(handle ok %ld, flags %ld)", s == kHandle, flags);
  else
    logCall("recv");
  long count = 0;
  scripted("receive", count);
  if (count > 0)
    std::memcpy(buffer, lastSent, static_cast<size_t>(count < length ? count : length));
  if (count < 0)
    lastError = WSAECONNRESET;
  return static_cast<int>(count);
}

int WSAAPI scriptedClosesocket(SOCKET s) {
  if (s != kHandle)
    logUnexpected("closesocket(handle ok %ld)", 0);
  else
    logCall("closesocket");
  return 0;
}

int WSAAPI scriptedCleanup() {
  logCall("WSACleanup");
  return 0;
}

int WSAAPI scriptedGetLastError() {
  logCall("WSAGetLastError");
  return lastError;
}

}  // namespace

extern "C" {
decltype(&WSAStartup) __imp_WSAStartup = scriptedStartup;
decltype(&socket) __imp_socket = scriptedSocket;
decltype(&connect) __imp_connect = scriptedConnect;
decltype(&send) __imp_send = scriptedSend;
decltype(&recv) __imp_recv = scriptedRecv;
decltype(&closesocket) __imp_closesocket = scriptedClosesocket;
decltype(&WSACleanup) __imp_WSACleanup = scriptedCleanup;
decltype(&WSAGetLastError) __imp_WSAGetLastError = scriptedGetLastError;
}
