#ifndef VANTREL_SIM_UNIT_PEER_HPP
#define VANTREL_SIM_UNIT_PEER_HPP

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ipv4_address.hpp"
#include "sim/peer_socket.hpp"

/// How the stand-in unit answers a command. Each kind other than Echo leads
/// the tool to a different verdict, so that every outcome can be tried
/// without hardware.
enum class ReplyKind {
  Echo,         ///< the 4 bytes received, unchanged
  ChangedByte,  ///< the 4 bytes received, with the byte at `byteIndex` inverted
  Short,        ///< the first `count` (0..3) bytes received, then close
  Long,         ///< the 4 bytes received followed by `count` extra bytes
  Split,        ///< the echo in two writes: `count` bytes, then the rest after `splitDelayMs`
  Close,        ///< no reply; the connection is closed
  Reset,        ///< no reply; the connection is reset (RST)
  Fixed,        ///< `bytes`, whatever was received
  Silent,       ///< no reply; held open until the client closes or `silentLimitMs` passes
};

struct ReplyPlan {
  ReplyKind kind = ReplyKind::Echo;
  int byteIndex = 3;       ///< ChangedByte: which byte, 0..3
  int count = 2;           ///< Short: bytes sent; Long: extra bytes; Split: first part
  int splitDelayMs = 200;  ///< Split: pause before the second part
  std::vector<std::uint8_t> bytes;  ///< Fixed: the reply
  /// Every kind: pause after the command, before the reply, in microseconds.
  std::int64_t delayUs = 0;
  int silentLimitMs = 60000;  ///< Silent: longest time the connection is held open
};

/// What one connection brought and what the peer did about it.
struct Exchange {
  std::string peer;                     ///< "address:port" of the client
  std::vector<std::uint8_t> received;   ///< every byte the client sent, until it closed
  std::vector<std::uint8_t> answered;   ///< every byte written back
  ReplyKind kind = ReplyKind::Echo;     ///< the plan that was applied
  bool stoppedInDelay = false;          ///< a stop cut the delay short: nothing was answered
};

/// A listening socket that serves level commands one connection at a time.
class UnitPeer {
 public:
  UnitPeer() = default;
  UnitPeer(const UnitPeer&) = delete;
  UnitPeer& operator=(const UnitPeer&) = delete;
  ~UnitPeer();

  /// Binds and listens on address:port (an address as parseIPv4 reads it);
  /// port 0 takes a free port. A port that another socket listens on fails.
  /// On failure returns false and sets `error` to a one-line reason.
  bool listen(const char* address, std::uint16_t port, std::string& error);

  /// The port actually listened on.
  std::uint16_t port() const { return port_; }

  /// Waits up to `acceptTimeoutMs` for a connection (-1: no limit), then runs
  /// one exchange with `plan`. Every read waits at most `ioTimeoutMs`.
  /// Returns false when no client came in time, the wait was interrupted by
  /// a signal or `*stop`, or the accept failed; a failed accept (out of
  /// descriptors, say) first pauses 100 ms, or until the time is up or
  /// `*stop`, so that a caller that tries again does not spin.
  ///
  /// Every wait ends within 50 ms of `*stop` turning true, and the exchange
  /// then finishes without waiting any more: what has arrived is the command,
  /// a delay ends the exchange unanswered, and the client's close is not
  /// awaited.
  bool serveOne(const ReplyPlan& plan, int acceptTimeoutMs, int ioTimeoutMs,
                Exchange& out, const std::atomic<bool>* stop = nullptr);

 private:
  peer_socket::Handle listener_ = peer_socket::kNoSocket;
  std::uint16_t port_ = 0;
  bool networkStarted_ = false;
};

/// The simulator's one-line account of an exchange, without a line end.
std::string describeExchange(const Exchange& exchange);

/// The level the unit took in `exchange`: that of the level command in the
/// first 4 bytes received, when the reply began with those 4 bytes; else -1.
int echoedLevel(const Exchange& exchange);

/// The simulator's --show line, without carriage return or line end: the
/// unit's level (0..255; anything else stands for none yet) as a bar of
/// plain ASCII and as a number, then the count of exchanges. The line never
/// gets shorter as the count grows, so redrawing it in place leaves nothing
/// behind.
std::string showLine(int level, long long exchanges);

/// Reads a --reply argument ("echo", "change:I", "short:N", "long:N",
/// "split:N", "close", "reset", "bytes:HEX", "silent"). Returns false when it
/// does not parse.
bool parseReplyPlan(const char* text, ReplyPlan& plan);

#endif
