#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/socket_calls.hpp"
#include "link/socket_wait.hpp"

// Sockets that never block, for many commands in flight on one thread.
// Apart from tcp_session_posix.cpp so that vantrel-dim goes without them.

namespace socket_calls {

bool createNonBlockingSocket(SocketHandle& handle, long& error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle = static_cast<SocketHandle>(fd);
  return true;
}

bool startConnect(SocketHandle handle, const char* address, std::uint16_t port, bool& pending,
                  long& error) {
  pending = false;
  const int fd = static_cast<int>(handle);
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = inet_addr(address);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0)
    return true;
  error = errno;
  pending = error == EINPROGRESS;
  return pending;
}

const bool kSendWhileConnecting = true;

bool finishConnect(SocketHandle handle, long& error) {
  int result = 0;
  socklen_t length = sizeof result;
  if (getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &result, &length) != 0)
    result = errno;
  error = result;
  return result == 0;
}

long sendNow(SocketHandle handle, const unsigned char* bytes, int length, bool& wouldBlock,
             long& error) {
  const long sent = ::send(static_cast<int>(handle), bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
  wouldBlock = sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
  if (sent < 0)
    error = errno;
  return sent;
}

long receiveNow(SocketHandle handle, unsigned char* buffer, int length, bool& wouldBlock,
                long& error) {
  const long got = recv(static_cast<int>(handle), buffer, static_cast<size_t>(length), 0);
  wouldBlock = got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
  if (got < 0)
    error = errno;
  return got;
}

}  // namespace socket_calls

int waitForSockets(std::vector<SocketWait>& waits, std::int64_t timeoutUs) {
  std::vector<pollfd> fds(waits.size());
  for (std::size_t i = 0; i < waits.size(); ++i) {
    fds[i] = {static_cast<int>(waits[i].handle),
              static_cast<short>((waits[i].read ? POLLIN : 0) | (waits[i].write ? POLLOUT : 0)), 0};
    waits[i].ready = false;
  }
  if (timeoutUs < 0)
    timeoutUs = 0;
  // ppoll, unlike poll, waits to the microsecond: a fade's schedule needs it.
  const timespec wait = {static_cast<time_t>(timeoutUs / 1000000),
                         static_cast<long>(timeoutUs % 1000000) * 1000};
  const int ready = ppoll(fds.data(), fds.size(), &wait, nullptr);
  if (ready <= 0)
    return 0;  // the time is up, or a signal came: the caller looks at its flags
  for (std::size_t i = 0; i < waits.size(); ++i)
    waits[i].ready = fds[i].revents != 0;
  return ready;
}

WakeUp::WakeUp() {
  int ends[2];
  if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
    return;
  read_ = static_cast<SocketHandle>(ends[0]);
  write_ = static_cast<SocketHandle>(ends[1]);
  ok_ = true;
}

WakeUp::~WakeUp() {
  if (!ok_)
    return;
  close(static_cast<int>(read_));
  close(static_cast<int>(write_));
}

void WakeUp::signal() {
  if (!ok_)
    return;
  // A full pipe already holds a signal: a failed write loses nothing.
  const char byte = 1;
  const ssize_t written = write(static_cast<int>(write_), &byte, 1);
  (void)written;
}

void WakeUp::drain() {
  char bytes[64];
  while (ok_ && read(static_cast<int>(read_), bytes, sizeof bytes) > 0) {
  }
}
