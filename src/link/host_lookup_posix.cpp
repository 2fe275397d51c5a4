#include "link/host_lookup.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool lookUpIPv4(const char* host, char (&dotted)[16], char (&why)[128]) {
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host, nullptr, &hints, &found);
  if (result != 0) {
    std::snprintf(why, sizeof why, "%s",
                  result == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(result));
    return false;
  }
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, dotted,
            sizeof dotted);
  freeaddrinfo(found);
  return true;
}
