#ifndef VANTREL_LINK_TCP_SESSION_HPP
#define VANTREL_LINK_TCP_SESSION_HPP

#include <atomic>
#include <cstdint>

/// Wide enough for a socket handle of either platform.
using SocketHandle = std::uintptr_t;

/// How far `TcpSession::open` got, and so what is still held.
enum class OpenResult {
  Connected,      ///< stack and socket held, connected: exchange, then close
  StartupFailed,  ///< nothing held
  SocketFailed,   ///< nothing held: open has already cleaned the stack up
  ConnectFailed,  ///< stack and socket held: close them
};

/// Why a call of the session failed, in the terms a caller reports it in.
enum class LinkFailure { None, Refused, Unreachable, TimedOut, Stopped, Reset, Other };

/// For a caller that cannot wait forever and reports failures in its own
/// words. vantrel-dim sets none of it.
struct SessionOptions {
  /// More than 0: open, send and receive together give up this long after
  /// open begins.
  int timeoutMs = 0;
  /// With a time-out: any wait gives up within 50 ms of this turning true.
  const std::atomic<bool>* stop = nullptr;
  /// Print nothing; failure() and error() tell what went wrong.
  bool quiet = false;
};

/// Where the waits of a session with a time-out end: at `deadlineMs` on the
/// link's monotonic clock, or soon after `*stop` turns true.
struct WaitLimit {
  std::int64_t deadlineMs = 0;
  const std::atomic<bool>* stop = nullptr;
};

/// The one TCP connection to the unit. Without a time-out every call blocks
/// as long as the platform lets it; nothing is retried. Unless quiet, the
/// session prints the messages of its own failures and nothing else.
class TcpSession {
 public:
  TcpSession() = default;
  explicit TcpSession(const SessionOptions& options) : options_(options) {}

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
  /// socket creation or the connect, and with a time-out a send or receive.
  long error() const { return error_; }
  LinkFailure failure() const;

 private:
  const WaitLimit* limit() const { return options_.timeoutMs > 0 ? &limit_ : nullptr; }

  SocketHandle socket_ = 0;
  long error_ = 0;
  SessionOptions options_;
  WaitLimit limit_;
};

/// Looks `host` up as an IPv4 address (a dotted address stands for itself)
/// and writes the first one found in dotted form. On failure writes the
/// resolver's reason to `why` instead.
bool lookUpIPv4(const char* host, char (&dotted)[16], char (&why)[128]);

#endif
