#include "service_link/local_link.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/platform.hpp"
#include "service_link/local_protocol.hpp"

LocalLink::~LocalLink() {
  if (socket_ >= 0)
    close(socket_);
}

LocalLink::Reach LocalLink::connect(const std::string& path, std::string& problem) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    problem = path + ": too long for a socket's name";
    return Reach::Failed;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  socket_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    problem = std::string("cannot make a socket: ") + std::strerror(errno);
    return Reach::Failed;
  }
  if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    return Reach::Open;
  const int error = errno;
  close(socket_);
  socket_ = -1;
  // A stale file, or a folder without one, is no service.
  if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR)
    return Reach::Absent;
  if (error == EACCES || error == EPERM)
    return Reach::Denied;
  problem = path + ": " + std::strerror(error);
  return Reach::Failed;
}

bool LocalLink::send(const std::string& line, std::string& problem) {
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t done = ::send(socket_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (done < 0 && errno == EINTR)
      continue;
    if (done <= 0) {
      problem = std::string("cannot send to the service: ") + std::strerror(errno);
      return false;
    }
    sent += static_cast<std::size_t>(done);
  }
  return true;
}

LocalLink::Got LocalLink::readLine(std::string& line, std::int64_t deadlineUs,
                                   const std::atomic<bool>* stop, std::string& problem) {
  const int stopPipe = stop != nullptr ? static_cast<int>(stopHandle()) : -1;
  for (;;) {
    const std::size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      line.assign(buffer_, 0, end);
      buffer_.erase(0, end + 1);
      return Got::Line;
    }
    if (buffer_.size() >= kLocalLineBytes) {
      problem = "the service sent a line longer than 64 KiB";
      return Got::Failed;
    }
    if (stop != nullptr && stop->load())
      return Got::Stopped;
    const std::int64_t leftUs = deadlineUs - monotonicUs();
    if (leftUs <= 0)
      return Got::TimedOut;
    pollfd waits[2] = {{socket_, POLLIN, 0}, {stopPipe, POLLIN, 0}};
    const int ready = poll(waits, stopPipe >= 0 ? 2 : 1, static_cast<int>((leftUs + 999) / 1000));
    if (ready < 0 && errno != EINTR) {
      problem = std::string("cannot wait for the service: ") + std::strerror(errno);
      return Got::Failed;
    }
    if (ready <= 0 || waits[0].revents == 0)
      continue;
    char chunk[16384];
    const ssize_t got = recv(socket_, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      problem = std::string("cannot read from the service: ") + std::strerror(errno);
      return Got::Failed;
    }
    if (got == 0)
      return Got::Closed;
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}
