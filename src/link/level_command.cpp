#include "link/level_command.hpp"

#include "common/hex_bytes.hpp"
#include "link/nonblocking_calls.hpp"

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

NetworkStack::NetworkStack() : error_(socket_calls::startup()) {}

NetworkStack::~NetworkStack() {
  if (error_ == 0)
    socket_calls::cleanup();
}

PendingCommand::~PendingCommand() {
  if (state_ != State::Idle && state_ != State::Finished)
    socket_calls::closeSocket(socket_);
}

void PendingCommand::start(const char* address, std::uint16_t port, const CommandFrame& frame) {
  connect(address, port, frame);
  sendEarly();
}

void PendingCommand::connect(const char* address, std::uint16_t port, const CommandFrame& frame) {
  frame_ = frame;
  result_ = CommandResult();
  long error = 0;
  state_ = State::Idle;
  if (!socket_calls::createSocket(socket_, error, true)) {
    finish(socket_calls::failureOf(error), error);
    return;
  }
  state_ = State::Connecting;
  if (socket_calls::connectSocket(socket_, address, port, error)) {
    state_ = State::Sending;
  } else if (!socket_calls::connectPending(error)) {
    finish(socket_calls::failureOf(error), error);
  }
  // A connect still under way is judged once the socket can write.
}

void PendingCommand::sendEarly() {
  if (state_ == State::Sending)
    proceed();
  else if (state_ == State::Connecting && socket_calls::kSendWhileConnecting)
    sendWhileConnecting();
}

// The reply cannot have come yet: it is waited for, not read at once.
void PendingCommand::sendWhileConnecting() {
  long error = 0;
  bool wouldBlock = false;
  const long sent =
      socket_calls::sendNow(socket_, frame_.bytes, CommandFrame::kSize, wouldBlock, error);
  if (wouldBlock)
    return;
  if (sent < 0) {
    finish(socket_calls::failureOf(error), error);  // the connect's own failure
    return;
  }
  result_.stage = CommandResult::Stage::Send;
  result_.exchange.sent = sent;
  if (sent != CommandFrame::kSize) {
    finish(LinkFailure::None, 0);
    return;
  }
  result_.stage = CommandResult::Stage::Reply;
  state_ = State::Receiving;
}

void PendingCommand::proceed() {
  long error = 0;
  bool wouldBlock = false;
  if (state_ == State::Connecting) {
    if (!socket_calls::finishConnect(socket_, error)) {
      finish(socket_calls::failureOf(error), error);
      return;
    }
    state_ = State::Sending;
  }
  if (state_ == State::Sending) {
    result_.stage = CommandResult::Stage::Send;
    const long sent =
        socket_calls::sendNow(socket_, frame_.bytes, CommandFrame::kSize, wouldBlock, error);
    if (wouldBlock)
      return;
    result_.exchange.sent = sent;
    if (sent != CommandFrame::kSize) {
      finish(sent < 0 ? socket_calls::failureOf(error) : LinkFailure::None, sent < 0 ? error : 0);
      return;
    }
    result_.stage = CommandResult::Stage::Reply;
    state_ = State::Receiving;
  }
  if (state_ != State::Receiving)
    return;
  // Until 4 bytes have come, the unit has closed, or a receive failed.
  Reply& reply = result_.exchange.reply;
  while (reply.count < CommandFrame::kSize) {
    const long got = socket_calls::receiveNow(
        socket_, reply.bytes + reply.count, CommandFrame::kSize - static_cast<int>(reply.count),
        wouldBlock, error);
    if (wouldBlock)
      return;
    if (got <= 0) {
      if (reply.count == 0)
        reply.count = got;
      finish(got < 0 ? socket_calls::failureOf(error) : LinkFailure::None, got < 0 ? error : 0);
      return;
    }
    reply.count += got;
  }
  finish(LinkFailure::None, 0);
}

void PendingCommand::abandon(LinkFailure why) {
  if (state_ == State::Finished || state_ == State::Idle)
    return;
  if (state_ == State::Receiving && result_.exchange.reply.count == 0)
    result_.exchange.reply.count = -1;
  finish(why, 0);
}

void PendingCommand::finish(LinkFailure failure, long error) {
  Reply& reply = result_.exchange.reply;
  if (result_.stage == CommandResult::Stage::Reply)
    reply.echoed = isEcho(frame_, reply.bytes, reply.count);
  if (!result_.confirmed()) {
    result_.failure = failure;
    result_.error = error;
  }
  if (state_ != State::Idle)
    socket_calls::closeSocket(socket_);
  state_ = State::Finished;
}
