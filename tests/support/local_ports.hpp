#ifndef VANTREL_TESTS_LOCAL_PORTS_HPP
#define VANTREL_TESTS_LOCAL_PORTS_HPP

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

/// A port on 127.0.0.1 that is bound, so that nobody else takes it while a
/// test runs. Without `listening` it refuses every connection; with it the
/// kernel accepts connections that nobody ever serves: a unit that takes
/// the command and never answers.
class LocalPort {
 public:
  explicit LocalPort(bool listening = false) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    if (listening)
      listen(fd_, 16);
    port_ = ntohs(address.sin_port);
  }
  ~LocalPort() { close(fd_); }
  LocalPort(const LocalPort&) = delete;
  LocalPort& operator=(const LocalPort&) = delete;

  std::string port() const { return std::to_string(port_); }
  /// A listening port: whether a client's connection waits in its backlog within `ms`.
  bool connected(int ms) const {
    pollfd waiting{fd_, POLLIN, 0};
    return poll(&waiting, 1, ms) == 1;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

/// Whether, within `ms`, a TCP connection to 127.0.0.1:`port` is open, as
/// the kernel lists it: accepted or still in a backlog, whoever serves it.
/// A sign that a client has started, however slowly (wine on a loaded machine).
inline bool connectionOpenTo(const std::string& port, int ms) {
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(std::stoul(port)));
  for (int waited = 0; waited <= ms; waited += 10) {
    std::ifstream table("/proc/net/tcp");
    std::string row;
    while (std::getline(table, row)) {
      std::istringstream fields(row);
      std::string slot, from, to, state;
      fields >> slot >> from >> to >> state;
      if ((from == local || to == local) && state == "01")  // ESTABLISHED
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

#endif
