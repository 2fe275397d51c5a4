#include "local_socket/local_listener.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool addressOf(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Whether a service answers at `path`; false too for a file that is no
// socket, which `stale` then says is not one to replace.
bool answers(const sockaddr_un& address, bool& stale) {
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0)
    return false;
  const bool connected =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  stale = !connected && errno == ECONNREFUSED;
  close(probe);
  return connected;
}

}  // namespace

Listening listenAt(const SocketPlace& place, int& listener, std::string& problem) {
  const std::string& path = place.path;
  sockaddr_un address;
  if (!addressOf(path, address)) {
    problem = path + ": too long for a socket's name";
    return Listening::Failed;
  }
  struct stat status;
  if (lstat(path.c_str(), &status) == 0) {
    bool stale = false;
    if (S_ISSOCK(status.st_mode) && answers(address, stale)) {
      problem = path + ": another vantreld serves it";
      return Listening::Taken;
    }
    if (!S_ISSOCK(status.st_mode) || !stale) {
      problem = path + ": in the way, and not a socket that a stopped vantreld left";
      return Listening::Failed;
    }
    unlink(path.c_str());
  }
  listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener < 0) {
    problem = path + ": " + std::strerror(errno);
    return Listening::Failed;
  }
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(listener);
    listener = -1;
    problem = path + ": " + std::strerror(error);
    return error == ENOENT || error == EACCES || error == EROFS || error == ENOTDIR
               ? Listening::NoPlace
               : Listening::Failed;
  }
  // Before listen(), so that nobody connects while it is still open to all.
  if (chmod(path.c_str(), place.system ? 0660 : 0600) != 0 || listen(listener, 64) != 0) {
    problem = path + ": " + std::strerror(errno);
    stopListening(listener, path);
    listener = -1;
    return Listening::Failed;
  }
  return Listening::Yes;
}

void stopListening(int listener, const std::string& path) {
  close(listener);
  // Ours answers no more now; a live one that another service put there
  // since is left alone.
  sockaddr_un address;
  bool stale = false;
  if (addressOf(path, address) && !answers(address, stale) && stale)
    unlink(path.c_str());
}

int acceptClient(int listener) {
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

long readClient(int socket, char* buffer, std::size_t size) {
  const ssize_t got = recv(socket, buffer, size, 0);
  if (got >= 0)
    return static_cast<long>(got);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
}

long writeClient(int socket, const char* bytes, std::size_t size) {
  const ssize_t sent = send(socket, bytes, size, MSG_NOSIGNAL);
  if (sent >= 0)
    return static_cast<long>(sent);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void closeClient(int socket) { close(socket); }
