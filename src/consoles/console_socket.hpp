#ifndef VANTREL_CONSOLES_CONSOLE_SOCKET_HPP
#define VANTREL_CONSOLES_CONSOLE_SOCKET_HPP

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/tcp_session.hpp"

/// The UDP socket of a console input: bound to its port on every address,
/// so that multicast and broadcast reach it, and taking only what arrives
/// on the interface of the `listen` address when there is one.
class ConsoleSocket {
 public:
  ConsoleSocket() = default;
  ~ConsoleSocket();
  ConsoleSocket(const ConsoleSocket&) = delete;
  ConsoleSocket& operator=(const ConsoleSocket&) = delete;

  /// Opens the socket on `port`; `listen` is an address of this machine
  /// (host byte order), 0 for all. False with `problem` when it cannot.
  bool open(std::uint16_t port, std::uint32_t listen, std::string& problem);
  /// Joins the multicast group `group` (host byte order) through the
  /// `listen` interface or, when it is 0, on every interface that is up
  /// and takes multicast (the loopback only when multicast is turned on
  /// for it), as a lighting network seldom holds the default route. With
  /// no such interface, on the one the routes choose. False with the cause
  /// alone in `problem` when it joins on none.
  bool join(std::uint32_t group, std::string& problem);

  /// Reads one waiting datagram into `buffer`, without waiting. False when
  /// none is left; datagrams from another interface than listen's are read
  /// away and skipped.
  bool receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& size,
               std::uint32_t& from, std::uint16_t& fromPort);
  /// Sends one datagram to `to`:`port`; a failure is dropped, as UDP drops.
  void send(const std::uint8_t* bytes, std::size_t size, std::uint32_t to, std::uint16_t port);

  SocketHandle handle() const { return fd_; }

 private:
  int fd_ = -1;
  std::uint32_t listen_ = 0;
  int listenIndex_ = 0;  // the interface of listen_, 0 for all
};

/// The address of this machine that a datagram to `peer` would leave from
/// (host byte order), or 0 when no route reaches it.
std::uint32_t localAddressFacing(std::uint32_t peer);

#endif
