#include "fade/options.hpp"

#include <cstring>
#include <vector>

#include "common/options.hpp"
#include "common/whole_number.hpp"
#include "timing_options/timing_options.hpp"

const char kFadeUsage[] =
    "usage: vantrel-fade [OPTION]... ADDRESS PORT TYPE FROM TO\n"
    "Try 'vantrel-fade --help' for more information.\n";

std::string fadeHelp() {
  return std::string(
    "usage: vantrel-fade [OPTION]... ADDRESS PORT TYPE FROM TO\n"
    "       vantrel-fade --help | --version\n"
    "Takes a Vantrel power unit from level FROM to level TO (0..255) over time,\n"
    "one level command per TCP connection, and confirms that it reached TO.\n"
    "\n"
    "  ADDRESS             the unit's IPv4 address or host name\n"
    "  PORT                its TCP port, 1..65535\n"
    "  TYPE                the unit type, 1 or 2\n"
    "  --over DURATION     time from the first command to the last (default 1s);\n"
    "                      0: each command as soon as the one before is answered\n") +
    kFadeTimingHelp + kFadeReportHelp +
    "Exit status: 0 when level TO was confirmed, 1 when it was not, 2 for a usage\n"
    "error, 130 when interrupted.\n";
}

namespace {

bool readArguments(const std::vector<const char*>& arguments, FadeOptions& options,
                   std::string& problem) {
  if (arguments.size() != 5) {
    problem = "expected 5 arguments, ADDRESS PORT TYPE FROM TO, not " +
              std::to_string(arguments.size());
    return false;
  }
  int port = 0;
  struct Number {
    const char* name;
    const char* text;
    int lo;
    int hi;
    int& value;
  };
  const Number numbers[] = {
      {"PORT", arguments[1], 1, 65535, port},
      {"TYPE", arguments[2], 1, 2, options.unitType},
      {"FROM", arguments[3], 0, 255, options.from},
      {"TO", arguments[4], 0, 255, options.to},
  };
  if (*arguments[0] == '\0') {
    problem = "ADDRESS is empty";
    return false;
  }
  for (const Number& number : numbers) {
    if (!parseWholeNumber(number.text, number.lo, number.hi, number.value)) {
      problem = std::string("invalid ") + number.name + " " + quoted(number.text) +
                ": a whole number from " + std::to_string(number.lo) + " to " +
                std::to_string(number.hi);
      return false;
    }
  }
  options.address = arguments[0];
  options.port = static_cast<std::uint16_t>(port);
  return true;
}

}  // namespace

FadeRequest parseFadeArguments(int argc, const char* const argv[], FadeOptions& options,
                               std::string& problem) {
  auto take = [&](const std::string& name, const char* value, std::string& why) {
    return takeFadeOption(name, value, options, options, why);
  };
  std::vector<const char*> arguments;
  if (!readOptions(argc, argv, kFadeOptions, take, arguments, problem))
    return FadeRequest::UsageError;
  if (options.asked != FadeReporting::Asked::Run)
    return options.asked == FadeReporting::Asked::Help ? FadeRequest::Help : FadeRequest::Version;
  if (!checkFadeReporting(options, problem))
    return FadeRequest::UsageError;
  return readArguments(arguments, options, problem) ? FadeRequest::Fade : FadeRequest::UsageError;
}
