#ifndef VANTREL_SIM_UNIT_CONSOLE_HPP
#define VANTREL_SIM_UNIT_CONSOLE_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "sim/unit_peer.hpp"

/// The simulator's standard output, shared by the units it serves: a log
/// line per exchange or, for --show, one line per unit redrawn in place.
/// The units call it from threads of their own; each line goes out whole
/// and is flushed at once.
class UnitConsole {
 public:
  /// `ports`: the units' ports, in the order of their lines; with more than
  /// one, each line begins with its unit's port. `show`: lines redrawn in
  /// place, for a terminal that takes ANSI cursor movement. `limit`: how
  /// many exchanges to record, 0 for no limit.
  UnitConsole(std::FILE* out, const std::vector<std::uint16_t>& ports, bool show,
              long long limit);

  /// Writes the ports, one a line, and with `show` the units' lines.
  void start();

  /// Records an exchange of the unit at `unit` in the ports: its log line,
  /// or its redrawn line. Returns false once the limit is reached, by this
  /// exchange or by earlier ones; an exchange past the limit is not
  /// recorded.
  bool record(std::size_t unit, const Exchange& exchange);

  /// Ends the redrawn lines, so that whatever comes next starts below them.
  void finish();

 private:
  struct Unit {
    std::string prefix;
    int level = -1;
    long long exchanges = 0;
  };

  std::string redrawn(std::size_t unit) const;
  void write(const std::string& text);

  std::FILE* out_;
  std::vector<std::uint16_t> ports_;
  std::vector<Unit> units_;
  bool show_;
  long long limit_;
  long long recorded_ = 0;
  std::mutex mutex_;
};

#endif
