#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/peer_socket.hpp"

namespace peer_socket {

bool startup(std::string&) { return true; }

void cleanup() {}

std::string lastError() { return std::strerror(errno); }

Handle createSocket() {
  return static_cast<Handle>(socket(AF_INET, SOCK_STREAM, 0));
}

// SO_REUSEADDR lets a restarted simulator take its port back from
// connections still in TIME_WAIT; Linux still refuses a port that another
// socket listens on.
bool bindAndListen(Handle listener, std::uint32_t address, std::uint16_t port,
                   std::uint16_t& boundPort) {
  const int fd = static_cast<int>(listener);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(address);
  socklen_t len = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0 || listen(fd, 16) < 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) < 0)
    return false;
  boundPort = ntohs(addr.sin_port);
  return true;
}

Readiness waitReadable(Handle handle, int ms, Handle stop) {
  pollfd p[2] = {{static_cast<int>(handle), POLLIN, 0}, {static_cast<int>(stop), POLLIN, 0}};
  const int rc = poll(p, stop == kNoSocket ? 1 : 2, ms);
  if ((rc < 0 && errno == EINTR) || (rc > 0 && p[1].revents != 0 && stop != kNoSocket))
    return Readiness::Interrupted;
  return rc == 0 ? Readiness::TimedOut : Readiness::Ready;
}

Handle acceptClient(Handle listener, std::uint32_t& address, std::uint16_t& port) {
  sockaddr_in from = {};
  socklen_t len = sizeof(from);
  const int fd = accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from), &len);
  address = ntohl(from.sin_addr.s_addr);
  port = ntohs(from.sin_port);
  return static_cast<Handle>(fd);
}

long receiveSome(Handle connection, std::uint8_t* buffer, std::size_t length) {
  const ssize_t n = recv(static_cast<int>(connection), buffer, length, 0);
  if (n < 0 && errno == EINTR)
    return -1;
  return n < 0 ? 0 : n;
}

long sendSome(Handle connection, const std::uint8_t* bytes, std::size_t length) {
  return send(static_cast<int>(connection), bytes, length, MSG_NOSIGNAL);
}

void resetOnClose(Handle connection) {
  linger off = {1, 0};
  setsockopt(static_cast<int>(connection), SOL_SOCKET, SO_LINGER, &off, sizeof(off));
}

void closeSocket(Handle handle) { close(static_cast<int>(handle)); }

}  // namespace peer_socket
