#ifndef VANTREL_FADE_LEVEL_COMMAND_HPP
#define VANTREL_FADE_LEVEL_COMMAND_HPP

#include <atomic>
#include <cstdint>
#include <string>

#include "link/command_frame.hpp"
#include "link/tcp_session.hpp"

/// How one command of a fade ended.
struct CommandResult {
  enum class Stage { Connect, Send, Reply };
  Stage stage = Stage::Connect;  ///< how far it got
  LinkFailure failure = LinkFailure::None;
  long error = 0;  ///< the platform's code behind `failure`
  ExchangeResult exchange;

  bool confirmed() const { return stage == Stage::Reply && exchange.reply.echoed; }
};

/// One command on a connection of its own: connect, send the frame, read
/// the whole reply, close. All of it within `timeoutMs`, and given up within
/// 50 ms once `stop` is true.
CommandResult sendLevelCommand(const char* address, std::uint16_t port, const CommandFrame& frame,
                               int timeoutMs, const std::atomic<bool>& stop);

/// "confirmed", or why not, in a few words ("connection refused", "reply
/// 7e 5a 04 7f is not the echo", ...).
std::string describeResult(const CommandResult& result);

#endif
