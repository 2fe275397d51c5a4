#ifndef VANTREL_LINK_TCP_SESSION_HPP
#define VANTREL_LINK_TCP_SESSION_HPP

#include <cstdint>

#include "link/socket_handle.hpp"

/// How far `TcpSession::open` got, and so what is still held.
enum class OpenResult {
  Connected,      ///< stack and socket held, connected: exchange, then close
  StartupFailed,  ///< nothing held
  SocketFailed,   ///< nothing held: open has already cleaned the stack up
  ConnectFailed,  ///< stack and socket held: close them
};

/// vantrel-dim's one TCP connection to the unit. Every call blocks as long
/// as the platform lets it; nothing is retried. The session prints the
/// messages of its own failures and nothing else.
class TcpSession {
 public:
  /// Starts the network stack, creates the socket and connects it to the
  /// IPv4 address `address` (read as the platform's inet_addr reads it;
  /// an unreadable text becomes 255.255.255.255) at `port`.
  OpenResult open(const char* address, std::uint16_t port);

  /// One send without flags. Returns the bytes sent, or -1; a broken
  /// connection gives -1 rather than ending the process.
  long send(const unsigned char* bytes, int length);

  /// One receive without flags. Returns the bytes received, 0 when the peer
  /// has closed, or -1.
  long receive(unsigned char* buffer, int length);

  /// Closes the socket, then cleans up the stack. Call once, after `open`
  /// returned Connected or ConnectFailed.
  void close();

  /// The platform's error code of the last failed call: the start-up, the
  /// socket creation or the connect.
  long error() const { return error_; }

 private:
  SocketHandle socket_ = 0;
  long error_ = 0;
};

#endif
