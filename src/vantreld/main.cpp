// vantreld [--config FILE] [--verbose]: the units service. Serves the units,
// groups and scenes of one units file to its front ends (the tools' local
// socket, MQTT, the control page, lighting consoles) from one engine, until
// SIGTERM, SIGINT or SIGHUP.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/options.hpp"
#include "common/wall_clock.hpp"
#include "consoles/console_front_end.hpp"
#include "local_socket/local_front_end.hpp"
#include "mqtt/mqtt_bridge.hpp"
#include "service/start_up.hpp"
#include "service/units_service.hpp"
#include "units/remembered_levels.hpp"
#include "units/units_file.hpp"
#include "units/units_file_reading.hpp"
#include "vantreld/stop_signals.hpp"
#include "web/web_front_end.hpp"

namespace {

const char kUsage[] =
    "usage: vantreld [--config FILE] [--verbose]\n"
    "Try 'vantreld --help' for more information.\n";

const char kHelp[] =
    "usage: vantreld [--config FILE] [--verbose]\n"
    "       vantreld --help | --version\n"
    "Serves the units, groups and scenes of a units file to vantrel and vantrel-fade\n"
    "on a local socket, and over MQTT, on a control page in the browser and from\n"
    "lighting consoles (sACN, Art-Net) as its [mqtt], [web], [sacn] and [artnet]\n"
    "tables say, until stopped.\n"
    "\n"
    "  --config FILE  the units file (default: vantrel.toml here, else the user's\n"
    "                 or the system's; see vantreld(8))\n"
    "  --verbose      say more of what the front ends do\n"
    "Exit status: 0 when stopped by SIGTERM, SIGINT or SIGHUP, 1 when it cannot\n"
    "serve, 2 for a usage or units file error.\n";

struct Options {
  const char* config = nullptr;
  bool verbose = false;
};

enum class Request { Run, Help, Version, UsageError };

Request readArguments(int argc, const char* const argv[], Options& options,
                      std::string& problem) {
  static const std::vector<KnownOption> known = {
      {"--config", true}, {"--verbose", false}, {"--help", false}, {"--version", false}};
  Request request = Request::Run;
  auto take = [&](const std::string& name, const char* value, std::string& why) {
    if (name == "--help" || name == "--version") {
      request = name == "--help" ? Request::Help : Request::Version;
      return OptionTaken::Finish;
    }
    if (name == "--verbose") {
      options.verbose = true;
      return OptionTaken::Next;
    }
    if (*value == '\0') {
      why = "--config needs a file name";
      return OptionTaken::Refused;
    }
    options.config = value;
    return OptionTaken::Next;
  };
  std::vector<const char*> operands;
  if (!readOptions(argc, argv, known, take, operands, problem))
    return Request::UsageError;
  if (request == Request::Run && !operands.empty()) {
    problem = "unexpected " + quoted(operands[0]);
    return Request::UsageError;
  }
  return request;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options options;
  std::string problem;
  switch (readArguments(argc, argv, options, problem)) {
    case Request::Help:
      std::fputs(kHelp, stdout);
      return 0;
    case Request::Version:
      std::puts("vantreld " VANTREL_VERSION);
      return 0;
    case Request::UsageError:
      std::fprintf(stderr, "vantreld: %s\n%s", problem.c_str(), kUsage);
      return 2;
    case Request::Run:
      break;
  }

  // The front ends: each reads its own table of the units file, and is on
  // when the file has it; the tools' socket is always on. A new front end
  // is one more reader here.
  const FrontEndReader frontEnds[] = {localFrontEnd(), mqttFrontEnd(options.verbose), webFrontEnd(),
                                      consoleFrontEnd(options.verbose)};
  std::vector<FrontEndMaker> makers;
  const auto readFrontEndTables = [&](const UnitsFile& file, FileProblems& problems) {
    for (const FrontEndReader& read : frontEnds)
      if (FrontEndMaker make = read(file, problems))
        makers.push_back(std::move(make));
  };
  UnitsFile file;
  if (!readUnitsFile("vantreld", options.config, file, readFrontEndTables))
    return 2;

  // Every thread started from here on leaves the stop signals to main.
  holdStopSignals();
  // A start in a boot of its own knows no level until a unit confirms
  // one: the units may have lost power since.
  const std::string levelsPath = levelsFilePath();
  const std::string bootId = currentBootId();
  const std::int64_t startedMs = wallClockMs();
  const StartFacts start = startFacts(readBootRecord(bootRecordPath(levelsPath)), bootId, startedMs);
  UnitsService service(file, levelsPath, start);
  if (options.verbose)
    service.setScheduleNotes([](const std::string& line) {
      std::printf("vantreld: %s\n", line.c_str());
      std::fflush(stdout);
    });
  // Each front end opens in the list's order, the tools' socket first: a
  // live service there ends this one before any unit hears from it. One
  // that is absent here (no place for the socket) leaves the others to
  // serve. Each is registered with the service before it starts.
  std::vector<std::unique_ptr<FrontEnd>> running;
  for (std::size_t i = 0; i < makers.size(); ++i) {
    std::unique_ptr<FrontEnd> frontEnd = makers[i](service);
    if (frontEnd->open(problem)) {
      service.addListener(*frontEnd);
      running.push_back(std::move(frontEnd));
      continue;
    }
    if (!frontEnd->absent()) {
      std::fprintf(stderr, "vantreld: %s\n", problem.c_str());
      return 1;
    }
    if (running.empty() && i + 1 == makers.size()) {
      std::fprintf(stderr, "vantreld: %s, and %s has no [mqtt], [web], [sacn] or [artnet] table: nothing to serve\n",
                   problem.c_str(), file.path.c_str());
      return 2;
    }
    std::fprintf(stderr, "vantreld: %s\n", problem.c_str());
  }
  // What front ends offer one another to show: the consoles' inputs, on
  // the control page.
  std::vector<const InputView*> inputs;
  for (const std::unique_ptr<FrontEnd>& frontEnd : running)
    for (const InputView* input : frontEnd->inputViews())
      inputs.push_back(input);
  for (const std::unique_ptr<FrontEnd>& frontEnd : running)
    frontEnd->showInputs(inputs);
  // Remembered before the start-up's commands, so that a crash after them
  // never makes the next start a boot again.
  if (start.boot && !bootId.empty() &&
      !writeBootRecord(bootRecordPath(levelsPath), {bootId, startedMs}, problem))
    std::fprintf(stderr, "vantreld: %s: the next start counts as a boot\n", problem.c_str());
  if (!service.start(problem)) {
    std::fprintf(stderr, "vantreld: %s\n", problem.c_str());
    return 1;
  }
  // Front ends start here, once the service takes commands.
  for (const std::unique_ptr<FrontEnd>& frontEnd : running) {
    if (!frontEnd->start(problem)) {
      std::fprintf(stderr, "vantreld: %s\n", problem.c_str());
      running.clear();
      service.stop();
      return 1;
    }
  }
  if (options.verbose) {
    std::printf("vantreld: serving %zu units from %s\n", file.units.size(), file.path.c_str());
    for (const std::unique_ptr<FrontEnd>& frontEnd : running) {
      const std::string note = frontEnd->servingNote();
      if (!note.empty())
        std::printf("vantreld: %s\n", note.c_str());
    }
    std::fflush(stdout);
  }

  waitForStopSignal();

  // The fades end first, so that what the front ends say last (MQTT's
  // retained states) is where the units stay; a command that comes after
  // is not carried out.
  service.halt();
  for (const std::unique_ptr<FrontEnd>& frontEnd : running)
    frontEnd->stop();
  service.stop();
  return 0;
}
