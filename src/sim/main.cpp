// vantrel-sim: stand-in lighting power units that answer level commands
// over TCP, each unit on a port of its own and one connection at a time.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/duration.hpp"
#include "common/options.hpp"
#include "common/platform.hpp"
#include "common/whole_number.hpp"
#include "sim/unit_console.hpp"
#include "sim/unit_peer.hpp"

namespace {

const char kUsage[] =
    "usage: vantrel-sim [--listen ADDR] [--port P] [--units N] [--count N]\n"
    "                   [--reply MODE] [--delay DURATION] [--show]\n"
    "       vantrel-sim --help | --version\n"
    "  --listen ADDR  IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port P       TCP port, 0..65535 (default 0: any free port)\n"
    "  --units N      serve N units at once, 1..256 (default 1), on the ports\n"
    "                 P to P+N-1, or with --port 0 on any N free ports\n"
    "  --count N      exit after N exchanges of all units together,\n"
    "                 1..1000000 (default: no limit)\n"
    "  --reply MODE   echo (default), change:I (invert byte I, 0..3),\n"
    "                 short:N (first N bytes, 0..3, then close),\n"
    "                 long:N (echo plus N extra bytes, 1..64),\n"
    "                 split:N (echo in two writes, N bytes first, 1..3),\n"
    "                 close (no reply), reset (no reply, connection reset),\n"
    "                 bytes:HEX (these bytes, e.g. bytes:ff5a04ff, 1..64 bytes),\n"
    "                 silent (no reply; hold the connection until the client\n"
    "                 closes it, at most 60 s)\n"
    "  --delay DURATION\n"
    "                 wait this long before each reply: 0, or a number with s\n"
    "                 or ms, e.g. 1.5s or 250ms, at most 24h (default 0)\n"
    "  --show         on a terminal, a line per unit redrawn in place with the\n"
    "                 level last echoed and the number of exchanges, instead\n"
    "                 of a line per exchange\n"
    "Prints the ports, one a line, then one line per exchange, which begins\n"
    "with the unit's port when there are several. Stops after N exchanges,\n"
    "or on SIGINT or SIGTERM (on Windows: Ctrl+C, Ctrl+Break or closing the\n"
    "console window).\n"
    "Exit status: 0 when done, 2 on bad options or when it cannot listen.\n";

// A client that neither sends nor closes must not hold up the next one for
// long.
const int kIoTimeoutMs = 2000;

int usageError(const std::string& reason) {
  std::fprintf(stderr, "vantrel-sim: %s\n%s", reason.c_str(), kUsage);
  return 2;
}

/// Serves `unit`, the one at `index` among the ports, until a stop request
/// from outside or from the count.
void serveUnit(UnitPeer& unit, std::size_t index, const ReplyPlan& plan, UnitConsole& console,
               const std::atomic<bool>& stop) {
  while (!stop.load()) {
    Exchange exchange;
    if (unit.serveOne(plan, -1, kIoTimeoutMs, exchange, &stop) &&
        !console.record(index, exchange))
      requestStop();  // the count is served: every unit winds down as on SIGTERM
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* address = "127.0.0.1";
  int port = 0;
  int units = 1;
  int count = 0;  // 0: no limit
  bool show = false;
  ReplyPlan plan;

  static const std::vector<KnownOption> known = {
      {"--listen", true}, {"--port", true}, {"--units", true}, {"--count", true},
      {"--reply", true},  {"--delay", true}, {"--show", false}, {"--help", false},
      {"-h", false},      {"--version", false}};
  enum class Request { Serve, Help, Version } request = Request::Serve;
  auto take = [&](const std::string& option, const char* value, std::string& problem) {
    const auto refused = [&](const char* what) {
      problem = std::string(what) + " '" + value + "'";
      return OptionTaken::Refused;
    };
    std::uint32_t unused;
    if (option == "--help" || option == "-h" || option == "--version") {
      request = option == "--version" ? Request::Version : Request::Help;
      return OptionTaken::Finish;
    }
    if (option == "--show")
      show = true;
    else if (option == "--listen" && !parseIPv4(value, unused))
      return refused("not an IPv4 address:");
    else if (option == "--listen")
      address = value;
    else if (option == "--port" && !parseWholeNumber(value, 0, 65535, port))
      return refused("bad port");
    else if (option == "--units" && !parseWholeNumber(value, 1, 256, units))
      return refused("bad number of units");
    else if (option == "--count" && !parseWholeNumber(value, 1, 1000000, count))
      return refused("bad count");
    else if (option == "--delay" && !parseDuration(value, plan.delayUs))
      return refused("bad delay");
    else if (option == "--reply" && !parseReplyPlan(value, plan))
      return refused("bad reply mode");
    return OptionTaken::Next;
  };
  std::vector<const char*> operands;
  std::string problem;
  if (!readOptions(argc, argv, known, take, operands, problem))
    return usageError(problem);
  if (request == Request::Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (request == Request::Version) {
    std::puts("vantrel-sim " VANTREL_VERSION);
    return 0;
  }
  if (!operands.empty())
    return usageError(std::string("unexpected '") + operands[0] + "'");
  if (port != 0 && port + units - 1 > 65535)
    return usageError("ports " + std::to_string(port) + " to " +
                      std::to_string(port + units - 1) + " go past 65535");

  const std::atomic<bool>& stop = catchStopRequests();

  std::vector<UnitPeer> peers(static_cast<std::size_t>(units));
  std::vector<std::uint16_t> ports;
  for (int i = 0; i < units; ++i) {
    std::string error;
    const int wanted = port == 0 ? 0 : port + i;
    if (!peers[i].listen(address, static_cast<std::uint16_t>(wanted), error)) {
      std::fprintf(stderr, "vantrel-sim: %s\n", error.c_str());
      return 2;
    }
    ports.push_back(peers[i].port());
    peers[i].wakeOnStop(stopHandle());
  }

  // A file or pipe keeps its log lines: the redrawn lines are for a person.
  show = show && isTerminal(stdout) && (units == 1 || enableCursorMovement(stdout));
  UnitConsole console(stdout, ports, show, count);
  console.start();

  // The first unit is served on this thread, each other on one of its own,
  // so that no unit waits for another.
  std::vector<std::thread> others;
  for (std::size_t i = 1; i < peers.size(); ++i)
    others.emplace_back(serveUnit, std::ref(peers[i]), i, std::cref(plan), std::ref(console),
                        std::cref(stop));
  serveUnit(peers[0], 0, plan, console, stop);
  for (std::thread& other : others)
    other.join();
  console.finish();
  return 0;
}
