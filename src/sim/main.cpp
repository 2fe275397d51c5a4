// vantrel-sim: a stand-in lighting power unit that answers level commands
// over TCP, one connection at a time.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/duration.hpp"
#include "common/platform.hpp"
#include "common/whole_number.hpp"
#include "sim/unit_peer.hpp"

namespace {

const char kUsage[] =
    "usage: vantrel-sim [--listen ADDR] [--port P] [--count N] [--reply MODE]\n"
    "                   [--delay DURATION] [--show]\n"
    "       vantrel-sim --help | --version\n"
    "  --listen ADDR  IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port P       TCP port, 0..65535 (default 0: any free port)\n"
    "  --count N      exit after N exchanges, 1..1000000 (default: no limit)\n"
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
    "  --show         on a terminal, one line redrawn in place with the level\n"
    "                 last echoed and the number of exchanges, instead of a\n"
    "                 line per exchange\n"
    "Prints the port on the first line of standard output, then one line per\n"
    "exchange. Stops after N exchanges, or on SIGINT or SIGTERM (on Windows:\n"
    "Ctrl+C, Ctrl+Break or closing the console window).\n"
    "Exit status: 0 when done, 2 on bad options or when it cannot listen.\n";

// A client that neither sends nor closes must not hold up the next one for
// long.
const int kIoTimeoutMs = 2000;

int usageError(const std::string& reason) {
  std::fprintf(stderr, "vantrel-sim: %s\n%s", reason.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* address = "127.0.0.1";
  int port = 0;
  int count = 0;  // 0: no limit
  bool show = false;
  ReplyPlan plan;

  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (option == "--version") {
      std::puts("vantrel-sim " VANTREL_VERSION);
      return 0;
    }
    if (option == "--show") {
      show = true;
      continue;
    }
    if (option != "--listen" && option != "--port" && option != "--count" &&
        option != "--reply" && option != "--delay")
      return usageError("unknown option '" + option + "'");
    if (i + 1 == argc)
      return usageError(option + " needs a value");
    const char* value = argv[++i];
    if (option == "--listen") {
      std::uint32_t unused;
      if (!parseIPv4(value, unused))
        return usageError(std::string("not an IPv4 address: '") + value + "'");
      address = value;
    } else if (option == "--port") {
      if (!parseWholeNumber(value, 0, 65535, port))
        return usageError(std::string("bad port '") + value + "'");
    } else if (option == "--count") {
      if (!parseWholeNumber(value, 1, 1000000, count))
        return usageError(std::string("bad count '") + value + "'");
    } else if (option == "--delay") {
      if (!parseDuration(value, plan.delayUs))
        return usageError(std::string("bad delay '") + value + "'");
    } else if (!parseReplyPlan(value, plan)) {
      return usageError(std::string("bad reply mode '") + value + "'");
    }
  }

  const std::atomic<bool>& stop = catchStopRequests();

  UnitPeer peer;
  std::string error;
  if (!peer.listen(address, static_cast<std::uint16_t>(port), error)) {
    std::fprintf(stderr, "vantrel-sim: %s\n", error.c_str());
    return 2;
  }
  std::printf("%u\n", static_cast<unsigned>(peer.port()));
  // A file or pipe keeps its log lines: the redrawn line is for a person.
  show = show && isTerminal(stdout);
  int level = -1;
  if (show)
    std::printf("\r%s", showLine(level, 0).c_str());
  std::fflush(stdout);

  for (long long served = 0; !stop.load() && (count == 0 || served < count);) {
    Exchange exchange;
    if (!peer.serveOne(plan, -1, kIoTimeoutMs, exchange, &stop))
      continue;
    ++served;
    if (show) {
      const int echoed = echoedLevel(exchange);
      if (echoed >= 0)
        level = echoed;
      std::printf("\r%s", showLine(level, served).c_str());
    } else {
      std::printf("%s\n", describeExchange(exchange).c_str());
    }
    std::fflush(stdout);
  }
  if (show)
    std::putchar('\n');
  return 0;
}
