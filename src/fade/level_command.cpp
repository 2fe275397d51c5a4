#include "fade/level_command.hpp"

#include "common/hex_bytes.hpp"

CommandResult sendLevelCommand(const char* address, std::uint16_t port, const CommandFrame& frame,
                               int timeoutMs, const std::atomic<bool>& stop) {
  CommandResult result;
  SessionOptions options;
  options.timeoutMs = timeoutMs;
  options.stop = &stop;
  options.quiet = true;
  TcpSession session(options);
  const OpenResult opened = session.open(address, port);
  if (opened == OpenResult::Connected) {
    result.exchange = exchangeLevel(session, frame);
    result.stage = result.exchange.sent == CommandFrame::kSize ? CommandResult::Stage::Reply
                                                               : CommandResult::Stage::Send;
  }
  if (opened == OpenResult::Connected || opened == OpenResult::ConnectFailed)
    session.close();
  if (!result.confirmed()) {
    result.failure = session.failure();
    result.error = session.error();
  }
  return result;
}

namespace {

// The words for a failed call, where the platform's code has some.
std::string failureWords(const CommandResult& result, const char* call) {
  switch (result.failure) {
    case LinkFailure::Refused: return "connection refused";
    case LinkFailure::Unreachable: return "host unreachable";
    case LinkFailure::TimedOut: return std::string("timed out ") + call;
    case LinkFailure::Stopped: return "interrupted";
    case LinkFailure::Reset: return "connection reset";
    case LinkFailure::None:
    case LinkFailure::Other: break;
  }
  return "error " + std::to_string(result.error) + " " + call;
}

}  // namespace

std::string describeResult(const CommandResult& result) {
  if (result.confirmed())
    return "confirmed";
  const Reply& reply = result.exchange.reply;
  switch (result.stage) {
    case CommandResult::Stage::Connect:
      return failureWords(result, "connecting");
    case CommandResult::Stage::Send:
      if (result.exchange.sent >= 0)
        return "only " + std::to_string(result.exchange.sent) + " of 4 bytes sent";
      return failureWords(result, "sending");
    case CommandResult::Stage::Reply:
      break;
  }
  if (reply.count > 0)
    return "reply " + hexBytes(reply.bytes, static_cast<std::size_t>(reply.count)) + " is not the echo";
  if (reply.count == 0)
    return "no reply: the unit closed the connection";
  if (result.failure == LinkFailure::Reset)
    return "no reply: connection reset";
  return failureWords(result, "waiting for the reply");
}
