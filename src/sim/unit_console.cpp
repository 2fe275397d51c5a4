#include "sim/unit_console.hpp"

UnitConsole::UnitConsole(std::FILE* out, const std::vector<std::uint16_t>& ports, bool show,
                         long long limit)
    : out_(out), ports_(ports), units_(ports.size()), show_(show), limit_(limit) {
  // One unit's lines stay as they were before there could be more.
  if (ports.size() > 1) {
    for (std::size_t i = 0; i < ports.size(); ++i)
      units_[i].prefix = std::to_string(ports[i]) + ": ";
  }
}

void UnitConsole::start() {
  std::string text;
  for (std::uint16_t port : ports_)
    text += std::to_string(port) + "\n";
  if (show_) {
    text += "\r";
    for (std::size_t i = 0; i < units_.size(); ++i)
      text += (i == 0 ? "" : "\n") + units_[i].prefix + showLine(-1, 0);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  write(text);
}

bool UnitConsole::record(std::size_t unit, const Exchange& exchange) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (limit_ > 0 && recorded_ >= limit_)
    return false;
  ++recorded_;
  Unit& u = units_[unit];
  ++u.exchanges;
  if (show_) {
    const int echoed = echoedLevel(exchange);
    if (echoed >= 0)
      u.level = echoed;
    write(redrawn(unit));
  } else {
    write(u.prefix + describeExchange(exchange) + "\n");
  }
  return limit_ == 0 || recorded_ < limit_;
}

void UnitConsole::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (show_)
    write("\n");
}

// The cursor rests at the end of the last unit's line: a line above it is
// reached by moving up and left by moving down again.
std::string UnitConsole::redrawn(std::size_t unit) const {
  const std::string up = std::to_string(units_.size() - 1 - unit);
  const bool above = unit + 1 < units_.size();
  const Unit& u = units_[unit];
  return "\r" + (above ? "\x1b[" + up + "A" : "") + u.prefix + showLine(u.level, u.exchanges) +
         (above ? "\x1b[" + up + "B" : "");
}

void UnitConsole::write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}
