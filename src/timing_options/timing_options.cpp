#include "timing_options/timing_options.hpp"

#include "common/duration.hpp"
#include "common/whole_number.hpp"

const char kFadeTimingHelp[] =
    "  --steps N           commands after the first, 1..255 (default: one per\n"
    "                      level, at most 40 a second)\n"
    "  --timeout DURATION  limit for one command: connect, send and reply\n"
    "                      (default 1s)\n"
    "  --tries N           tries of the first and the last command, 1..100\n"
    "                      (default 3)\n";

const char kFadeReportHelp[] =
    "  --verbose           a line per command on standard output\n"
    "  --quiet             no result line and no progress display\n"
    "  -h, --help          this text\n"
    "  --version           the version\n"
    "DURATION is a number with s or ms (2s, 1.5s, 250ms), or 0; at most 24 hours.\n";

namespace {

// Reads the value of --over, --steps, --timeout or --tries into `timing`;
// on failure `problem` says what the option takes.
bool readFadeTimingOption(const std::string& name, const char* value, FadeTiming& timing,
                          std::string& problem) {
  bool ok = false;
  if (name == "--over") {
    ok = parseDuration(value, timing.overUs);
  } else if (name == "--timeout") {
    std::int64_t timeout = 0;
    ok = parseDuration(value, timeout) && timeout > 0;
    if (ok)
      timing.timeoutUs = timeout;
  } else if (name == "--steps") {
    ok = parseWholeNumber(value, 1, 255, timing.steps);
  } else {
    ok = parseWholeNumber(value, 1, 100, timing.tries);
  }
  if (!ok) {
    const char* wanted = name == "--over"      ? "a duration such as 2s, 1.5s, 250ms or 0, at most 24 hours"
                         : name == "--timeout" ? "a duration such as 2s, 1.5s or 250ms, more than 0 and at most 24 hours"
                         : name == "--steps"   ? "a whole number from 1 to 255"
                                               : "a whole number from 1 to 100";
    problem = "invalid " + name + " " + quoted(value) + ": " + wanted;
  }
  return ok;
}

}  // namespace

const std::vector<KnownOption> kFadeOptions = {
    {"--over", true},     {"--steps", true},  {"--timeout", true}, {"--tries", true},
    {"--verbose", false}, {"--quiet", false}, {"--help", false},   {"-h", false},
    {"--version", false}};

OptionTaken takeFadeOption(const std::string& name, const char* value, FadeTiming& timing,
                           FadeReporting& reporting, std::string& problem) {
  if (name == "--help" || name == "-h" || name == "--version") {
    reporting.asked =
        name == "--version" ? FadeReporting::Asked::Version : FadeReporting::Asked::Help;
    return OptionTaken::Finish;
  }
  if (name == "--verbose" || name == "--quiet") {
    (name == "--verbose" ? reporting.verbose : reporting.quiet) = true;
    return OptionTaken::Next;
  }
  return readFadeTimingOption(name, value, timing, problem) ? OptionTaken::Next
                                                            : OptionTaken::Refused;
}

bool checkFadeReporting(const FadeReporting& reporting, std::string& problem) {
  if (reporting.verbose && reporting.quiet) {
    problem = "--verbose and --quiet exclude each other";
    return false;
  }
  return true;
}
