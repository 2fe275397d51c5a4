#include "link/socket_calls.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace socket_calls {

// There is no stack to start here. What does need doing before the first
// send is keeping a reset connection from killing the process with SIGPIPE:
// the send must come back with -1 so that the run can report it.
int startup() {
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

void cleanup() {}

bool createSocket(SocketHandle& handle, long& error, bool nonBlocking) {
  const int fd =
      socket(AF_INET, SOCK_STREAM | (nonBlocking ? SOCK_NONBLOCK | SOCK_CLOEXEC : 0), IPPROTO_TCP);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle = static_cast<SocketHandle>(fd);
  return true;
}

bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port, long& error) {
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = inet_addr(address);
  if (connect(static_cast<int>(handle), reinterpret_cast<const sockaddr*>(&destination),
              sizeof destination) == 0)
    return true;
  error = errno;
  return false;
}

long sendBytes(SocketHandle handle, const unsigned char* bytes, int length) {
  return ::send(static_cast<int>(handle), bytes, static_cast<size_t>(length), 0);
}

long receiveBytes(SocketHandle handle, unsigned char* buffer, int length) {
  return recv(static_cast<int>(handle), buffer, static_cast<size_t>(length), 0);
}

void closeSocket(SocketHandle handle) {
  ::close(static_cast<int>(handle));
}

}  // namespace socket_calls
