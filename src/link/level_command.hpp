#ifndef VANTREL_LINK_LEVEL_COMMAND_HPP
#define VANTREL_LINK_LEVEL_COMMAND_HPP

#include <cstdint>
#include <string>

#include "link/command_frame.hpp"
#include "link/socket_handle.hpp"

/// How long our tools pause after a failed try before the next try of the
/// same command: long enough for a unit that is starting up, short enough
/// not to be felt.
constexpr std::int64_t kPauseAfterFailedTryUs = 100000;

/// How one level command ended.
struct CommandResult {
  enum class Stage { Connect, Send, Reply };
  Stage stage = Stage::Connect;  ///< how far it got
  LinkFailure failure = LinkFailure::None;
  long error = 0;  ///< the platform's code behind `failure`
  ExchangeResult exchange;

  bool confirmed() const { return stage == Stage::Reply && exchange.reply.echoed; }
};

/// "confirmed", or why not, in a few words ("connection refused", "reply
/// 7e 5a 04 7f is not the echo", ...).
std::string describeResult(const CommandResult& result);

/// The network stack, started for as long as this lives, for commands that
/// do not start it each (PendingCommand).
class NetworkStack {
 public:
  NetworkStack();
  ~NetworkStack();
  NetworkStack(const NetworkStack&) = delete;
  NetworkStack& operator=(const NetworkStack&) = delete;
  /// 0, or the start-up's error code.
  int error() const { return error_; }

 private:
  int error_;
};

/// One level command on a connection of its own (connect, send the frame,
/// read the whole reply, close), driven without blocking, so that one
/// thread keeps the commands of many units in flight at once: the owner
/// waits for handle() as wantsWrite() says (waitForSockets), calls
/// proceed(), and enforces its own time-out with abandon(). Needs a
/// NetworkStack.
class PendingCommand {
 public:
  PendingCommand() = default;
  ~PendingCommand();
  PendingCommand(const PendingCommand&) = delete;
  PendingCommand& operator=(const PendingCommand&) = delete;

  /// Begins connecting to the IPv4 address `address` (dotted) at `port`,
  /// then sends at once where it can (sendEarly()). A connect that fails at
  /// once finishes the command here.
  void start(const char* address, std::uint16_t port, const CommandFrame& frame);
  /// start() without the send: an owner that starts many commands at one
  /// moment connects them all first and then sends, so that the last
  /// unit's command leaves a send after the first's rather than a whole
  /// connect after it.
  void connect(const char* address, std::uint16_t port, const CommandFrame& frame);
  /// Sends the command now if the connection is made, or if the platform
  /// takes a send while it is being made; otherwise proceed() sends it once
  /// handle() can write.
  void sendEarly();

  bool finished() const { return state_ == State::Finished; }
  SocketHandle handle() const { return socket_; }
  /// Whether it waits to write (connecting, sending) rather than to read.
  bool wantsWrite() const { return state_ == State::Connecting || state_ == State::Sending; }

  /// Goes as far as it can without waiting, once handle() is ready.
  void proceed();

  /// Gives the command up where it stands, closing the connection: `why`
  /// is TimedOut or Stopped.
  void abandon(LinkFailure why);

  /// How it ended, once finished.
  const CommandResult& result() const { return result_; }

 private:
  enum class State { Idle, Connecting, Sending, Receiving, Finished };
  void sendWhileConnecting();
  void finish(LinkFailure failure, long error);

  State state_ = State::Idle;
  SocketHandle socket_ = 0;
  CommandFrame frame_{};
  CommandResult result_;
};

#endif
