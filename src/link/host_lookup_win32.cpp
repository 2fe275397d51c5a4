#include "link/host_lookup.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>

#include "link/socket_calls.hpp"

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
