#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/socket_calls.hpp"

namespace {

// Waits until `fd` is ready for `events`: fails with ETIMEDOUT at the
// deadline and with EINTR once the stop flag is up.
bool waitUntilReady(int fd, short events, const WaitLimit& limit, long& error) {
  for (;;) {
    bool stopped = false;
    const int waitMs = socket_calls::nextWaitMs(limit, stopped);
    if (waitMs == 0) {
      error = stopped ? EINTR : ETIMEDOUT;
      return false;
    }
    pollfd p = {fd, events, 0};
    const int ready = poll(&p, 1, waitMs);
    if (ready > 0)
      return true;
    if (ready < 0 && errno != EINTR) {
      error = errno;
      return false;
    }
  }
}

// Repeats a non-blocking send or receive until it does something other than
// "not now", waiting in between as the limit allows.
template <typename Call>
long whenReady(int fd, short events, const WaitLimit& limit, long& error, Call call) {
  for (;;) {
    const long done = call();
    if (done >= 0)
      return done;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      error = errno;
      return -1;
    }
    if (!waitUntilReady(fd, events, limit, error))
      return -1;
  }
}

}  // namespace

namespace socket_calls {

// There is no stack to start here. What does need doing before the first
// send is keeping a reset connection from killing the process with SIGPIPE:
// the send must come back with -1 so that the run can report it.
int startup() {
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

bool createSocket(SocketHandle& handle, long& error) {
  const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle = static_cast<SocketHandle>(fd);
  return true;
}

bool connectSocket(SocketHandle handle, const char* address, std::uint16_t port,
                   const WaitLimit* limit, long& error) {
  const int fd = static_cast<int>(handle);
  sockaddr_in destination;
  std::memset(&destination, 0, sizeof destination);
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = inet_addr(address);
  if (limit != nullptr)
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0)
    return true;
  error = errno;
  if (limit == nullptr || error != EINPROGRESS)
    return false;

  if (!waitUntilReady(fd, POLLOUT, *limit, error))
    return false;
  int result = 0;
  socklen_t length = sizeof result;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length);
  error = result;
  return result == 0;
}

long sendBytes(SocketHandle handle, const unsigned char* bytes, int length,
               const WaitLimit* limit, long& error) {
  const int fd = static_cast<int>(handle);
  auto sendOnce = [&] { return ::send(fd, bytes, static_cast<size_t>(length), 0); };
  if (limit == nullptr)
    return sendOnce();
  return whenReady(fd, POLLOUT, *limit, error, sendOnce);
}

long receiveBytes(SocketHandle handle, unsigned char* buffer, int length,
                  const WaitLimit* limit, long& error) {
  const int fd = static_cast<int>(handle);
  auto receiveOnce = [&] { return recv(fd, buffer, static_cast<size_t>(length), 0); };
  if (limit == nullptr)
    return receiveOnce();
  return whenReady(fd, POLLIN, *limit, error, receiveOnce);
}

void closeSocket(SocketHandle handle) {
  ::close(static_cast<int>(handle));
}

void cleanup() {}

std::int64_t monotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

LinkFailure failureOf(long error) {
  switch (error) {
    case 0: return LinkFailure::None;
    case ECONNREFUSED: return LinkFailure::Refused;
    case EHOSTUNREACH:
    case ENETUNREACH: return LinkFailure::Unreachable;
    case ETIMEDOUT: return LinkFailure::TimedOut;
    case EINTR: return LinkFailure::Stopped;
    case ECONNRESET:
    case EPIPE: return LinkFailure::Reset;
    default: return LinkFailure::Other;
  }
}

}  // namespace socket_calls

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
