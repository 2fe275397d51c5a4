#include "web/server_calls.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string listenText(const std::string& address, std::uint16_t port) {
  const bool six = address.find(':') != std::string::npos;
  return (six ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

int openListener(const std::string& address, std::uint16_t port, std::string& problem) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* four = reinterpret_cast<sockaddr_in*>(&storage);
  auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address.c_str(), &four->sin_addr) == 1) {
    four->sin_family = AF_INET;
    four->sin_port = htons(port);
    length = sizeof *four;
  } else if (inet_pton(AF_INET6, address.c_str(), &six->sin6_addr) == 1) {
    six->sin6_family = AF_INET6;
    six->sin6_port = htons(port);
    length = sizeof *six;
  } else {
    problem = "cannot listen on " + listenText(address, port) + ": not an IP address";
    return -1;
  }
  const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    problem = "cannot listen on " + listenText(address, port) + ": " + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (storage.ss_family == AF_INET6)
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(fd, 64) != 0) {
    problem = "cannot listen on " + listenText(address, port) + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}

void closeListener(int socket) {
  if (socket >= 0)
    close(socket);
}

std::string clientAddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address == nullptr)
    return "";
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  return text;
}

void dropConnection(int socket) {
  shutdown(socket, SHUT_RDWR);
}

void yieldToTheUnits() {
  // On Linux a nice value is a thread's own: 0 names the calling thread.
  setpriority(PRIO_PROCESS, 0, 10);
}
