#include "sim/unit_peer.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/hex_bytes.hpp"
#include "common/level_bar.hpp"
#include "common/platform.hpp"
#include "common/whole_number.hpp"
#include "sim/peer_socket.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using peer_socket::Handle;
using peer_socket::Readiness;

// How often a wait looks at the stop flag; a signal usually ends it sooner.
const int kStopCheckMs = 50;

const int kAcceptFailurePauseMs = 100;

bool stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

/// `ms` from now; -1 stands for no limit.
Clock::time_point after(int ms) {
  return ms < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(ms);
}

/// Waits until `handle` has something to read, `deadline` passes, a signal
/// arrives or `*stop` turns true. True only when `handle` is ready; a failed
/// wait counts as ready, so that the read reports it.
bool waitReadable(Handle handle, Clock::time_point deadline, const std::atomic<bool>* stop) {
  for (;;) {
    // Rounded up, so that no wait is shorter than asked.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (stopped(stop) || left <= 0)
      return false;
    int slice = left < INT_MAX ? static_cast<int>(left) : INT_MAX;
    if (stop != nullptr && slice > kStopCheckMs)
      slice = kStopCheckMs;
    switch (peer_socket::waitReadable(handle, slice)) {
      case Readiness::Ready: return true;
      case Readiness::Interrupted: return false;
      case Readiness::TimedOut: break;
    }
  }
}

enum class ReadResult { Data, Quiet, Closed };

/// Waits until `deadline` for bytes and appends at most `limit` of them.
/// Quiet: nothing came (or a signal or the stop cut the wait short);
/// Closed: EOF or error.
ReadResult readOnce(Handle connection, std::vector<std::uint8_t>& into, size_t limit,
                    Clock::time_point deadline, const std::atomic<bool>* stop) {
  if (!waitReadable(connection, deadline, stop))
    return ReadResult::Quiet;
  std::uint8_t buf[512];
  const long n =
      peer_socket::receiveSome(connection, buf, limit < sizeof(buf) ? limit : sizeof(buf));
  if (n < 0)
    return ReadResult::Quiet;
  if (n == 0)
    return ReadResult::Closed;
  into.insert(into.end(), buf, buf + n);
  return ReadResult::Data;
}

/// Sleeps `us` microseconds; false when `*stop` turned true first.
bool pause(std::int64_t us, const std::atomic<bool>* stop) {
  static const std::atomic<bool> never{false};
  return sleepUntil(monotonicUs() + us, stop != nullptr ? *stop : never);
}

/// One send of `bytes`; records in `answered` what actually went out.
void writeOnce(Handle connection, const std::vector<std::uint8_t>& bytes,
               std::vector<std::uint8_t>& answered) {
  if (bytes.empty())
    return;
  const long n = peer_socket::sendSome(connection, bytes.data(), bytes.size());
  if (n > 0)
    answered.insert(answered.end(), bytes.begin(), bytes.begin() + n);
}

std::string dottedIPv4(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xff) + "." +
         std::to_string(address >> 8 & 0xff) + "." + std::to_string(address & 0xff);
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
  return hexBytes(bytes.data(), bytes.size());
}

/// Whether `bytes` begin with a level command: 7E 5A, 04 or 05, the level.
bool startsWithLevelCommand(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= 4 && bytes[0] == 0x7e && bytes[1] == 0x5a &&
         (bytes[2] == 0x04 || bytes[2] == 0x05);
}

/// Reads 1 to 64 bytes written as pairs of hex digits, nothing else.
bool parseHex(const char* text, std::vector<std::uint8_t>& out) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> bytes;
  for (; text[0] != '\0'; text += 2) {
    const int high = digit(text[0]);
    const int low = high < 0 ? -1 : digit(text[1]);
    if (low < 0 || bytes.size() == 64)
      return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  if (bytes.empty())
    return false;
  out = bytes;
  return true;
}

}  // namespace

UnitPeer::~UnitPeer() {
  if (listener_ != peer_socket::kNoSocket)
    peer_socket::closeSocket(listener_);
  if (networkStarted_)
    peer_socket::cleanup();
}

bool UnitPeer::listen(const char* address, std::uint16_t port,
                      std::string& error) {
  std::uint32_t ip = 0;
  if (!parseIPv4(address, ip)) {
    error = std::string("not an IPv4 address: ") + address;
    return false;
  }
  if (!networkStarted_ && !peer_socket::startup(error))
    return false;
  networkStarted_ = true;
  const Handle listener = peer_socket::createSocket();
  if (listener == peer_socket::kNoSocket) {
    error = "socket: " + peer_socket::lastError();
    return false;
  }
  std::uint16_t bound = 0;
  if (!peer_socket::bindAndListen(listener, ip, port, bound)) {
    error = std::string(address) + ":" + std::to_string(port) + ": " + peer_socket::lastError();
    peer_socket::closeSocket(listener);
    return false;
  }
  if (listener_ != peer_socket::kNoSocket)
    peer_socket::closeSocket(listener_);
  listener_ = listener;
  port_ = bound;
  return true;
}

bool UnitPeer::serveOne(const ReplyPlan& plan, int acceptTimeoutMs,
                        int ioTimeoutMs, Exchange& out,
                        const std::atomic<bool>* stop) {
  const Clock::time_point acceptDeadline = after(acceptTimeoutMs);
  if (listener_ == peer_socket::kNoSocket || !waitReadable(listener_, acceptDeadline, stop))
    return false;
  std::uint32_t ip = 0;
  std::uint16_t port = 0;
  const Handle fd = peer_socket::acceptClient(listener_, ip, port);
  if (fd == peer_socket::kNoSocket) {
    // The client stays queued and the listener readable while the accept
    // keeps failing (out of descriptors, say): without a pause the caller's
    // loop would spin.
    const Clock::time_point retry = std::min(acceptDeadline, after(kAcceptFailurePauseMs));
    pause(std::chrono::duration_cast<std::chrono::microseconds>(retry - Clock::now()).count(),
          stop);
    return false;
  }

  out = Exchange();
  out.peer = dottedIPv4(ip) + ":" + std::to_string(port);
  out.kind = plan.kind;

  ReadResult last = ReadResult::Data;
  while (out.received.size() < 4 && last == ReadResult::Data)
    last = readOnce(fd, out.received, 4 - out.received.size(), after(ioTimeoutMs), stop);
  bool open = last != ReadResult::Closed;

  // A unit that is being switched off does not answer late.
  if (plan.delayUs > 0 && !pause(plan.delayUs, stop)) {
    out.stoppedInDelay = true;
    peer_socket::closeSocket(fd);
    return true;
  }

  // Whatever arrived is the command, even if the client sent fewer than 4
  // bytes; a client that only half-closed can still read the reply.
  std::vector<std::uint8_t> reply = out.received;
  switch (plan.kind) {
    case ReplyKind::Echo:
      writeOnce(fd, reply, out.answered);
      break;
    case ReplyKind::ChangedByte:
      if (static_cast<size_t>(plan.byteIndex) < reply.size())
        reply[plan.byteIndex] = static_cast<std::uint8_t>(~reply[plan.byteIndex]);
      writeOnce(fd, reply, out.answered);
      break;
    case ReplyKind::Long:
      for (int i = 0; i < plan.count; ++i)  // a0 a1 ...: easy to tell apart
        reply.push_back(static_cast<std::uint8_t>(0xa0 + i));
      writeOnce(fd, reply, out.answered);
      break;
    case ReplyKind::Short:
      if (static_cast<size_t>(plan.count) < reply.size())
        reply.resize(plan.count);
      writeOnce(fd, reply, out.answered);
      open = false;
      break;
    case ReplyKind::Split: {
      size_t first = static_cast<size_t>(plan.count) < reply.size()
                         ? plan.count : reply.size();
      writeOnce(fd, {reply.begin(), reply.begin() + first}, out.answered);
      // A client that reads once and closes must see only the first part, so
      // the rest goes out only if the client is still there after the pause.
      const Clock::time_point deadline = after(plan.splitDelayMs);
      while (open && Clock::now() < deadline) {
        ReadResult r = readOnce(fd, out.received, SIZE_MAX, deadline, stop);
        open = r != ReadResult::Closed;
        if (r == ReadResult::Quiet)
          break;
      }
      if (open)
        writeOnce(fd, {reply.begin() + first, reply.end()}, out.answered);
      break;
    }
    case ReplyKind::Fixed:
      writeOnce(fd, plan.bytes, out.answered);
      break;
    case ReplyKind::Close:
      open = false;
      break;
    case ReplyKind::Reset:
      peer_socket::resetOnClose(fd);
      open = false;
      break;
    case ReplyKind::Silent: {
      // A hung unit holds the connection, but no client may hold the peer
      // forever; the usual read time-out does not apply.
      const Clock::time_point until = after(plan.silentLimitMs);
      while (open && readOnce(fd, out.received, SIZE_MAX, until, stop) == ReadResult::Data) {
      }
      open = false;
      break;
    }
  }

  // Keep what the client sends after the reply too, so that `received` shows
  // everything it ever sent.
  while (open && readOnce(fd, out.received, SIZE_MAX, after(ioTimeoutMs), stop) ==
                     ReadResult::Data) {
  }
  peer_socket::closeSocket(fd);
  return true;
}

std::string describeExchange(const Exchange& exchange) {
  const std::vector<std::uint8_t>& in = exchange.received;
  std::string line = exchange.peer + " received ";
  line += in.empty() ? "nothing" : hex(in);
  if (in.size() == 4 && startsWithLevelCommand(in)) {
    line += " (unit type " + std::to_string(in[2] - 3) + ", level " +
            std::to_string(in[3]) + ")";
  } else if (!in.empty()) {
    line += " (not a level command)";
  }

  const char* how = "echo";
  switch (exchange.kind) {
    case ReplyKind::Echo: how = "echo"; break;
    case ReplyKind::ChangedByte: how = "changed byte"; break;
    case ReplyKind::Short: how = "short, then closed"; break;
    case ReplyKind::Long: how = "long"; break;
    case ReplyKind::Split: how = "split"; break;
    case ReplyKind::Close: how = "closed"; break;
    case ReplyKind::Reset: how = "reset"; break;
    case ReplyKind::Fixed: how = "fixed"; break;
    case ReplyKind::Silent: how = "silent"; break;
  }
  line += "; answered ";
  line += exchange.answered.empty() ? "nothing" : hex(exchange.answered);
  return line + " (" + how + (exchange.stoppedInDelay ? ", stopped during the delay" : "") + ")";
}

int echoedLevel(const Exchange& exchange) {
  const std::vector<std::uint8_t>& in = exchange.received;
  const std::vector<std::uint8_t>& out = exchange.answered;
  if (!startsWithLevelCommand(in) || out.size() < 4 ||
      !std::equal(in.begin(), in.begin() + 4, out.begin()))
    return -1;
  return in[3];
}

std::string showLine(int level, long long exchanges) {
  char number[8] = "---";
  if (level >= 0 && level <= 255)
    std::snprintf(number, sizeof(number), "%3d", level);
  return levelBar(level) + " " + number + "  exchanges: " + std::to_string(exchanges);
}

bool parseReplyPlan(const char* text, ReplyPlan& plan) {
  ReplyPlan parsed = plan;
  const char* colon = std::strchr(text, ':');
  std::string name = colon ? std::string(text, colon) : std::string(text);
  const char* arg = colon ? colon + 1 : nullptr;
  bool ok = false;
  if (name == "echo" || name == "close" || name == "reset" || name == "silent") {
    parsed.kind = name == "echo" ? ReplyKind::Echo
                : name == "close" ? ReplyKind::Close
                : name == "reset" ? ReplyKind::Reset : ReplyKind::Silent;
    ok = !arg;
  } else if (arg && name == "change") {
    parsed.kind = ReplyKind::ChangedByte;
    ok = parseWholeNumber(arg, 0, 3, parsed.byteIndex);
  } else if (arg && name == "short") {
    parsed.kind = ReplyKind::Short;
    ok = parseWholeNumber(arg, 0, 3, parsed.count);
  } else if (arg && name == "long") {
    parsed.kind = ReplyKind::Long;
    ok = parseWholeNumber(arg, 1, 64, parsed.count);
  } else if (arg && name == "split") {
    parsed.kind = ReplyKind::Split;
    ok = parseWholeNumber(arg, 1, 3, parsed.count);
  } else if (arg && name == "bytes") {
    parsed.kind = ReplyKind::Fixed;
    ok = parseHex(arg, parsed.bytes);
  }
  if (ok)
    plan = parsed;
  return ok;
}
