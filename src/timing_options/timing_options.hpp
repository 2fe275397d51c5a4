#ifndef VANTREL_TIMING_OPTIONS_TIMING_OPTIONS_HPP
#define VANTREL_TIMING_OPTIONS_TIMING_OPTIONS_HPP

#include <string>
#include <vector>

#include "common/options.hpp"
#include "engine/fade_timing.hpp"

/// The options that shape a fade and report it, the same in every tool
/// that fades (vantrel-fade, vantrel).

/// --verbose and --quiet, and whether --help or --version came.
struct FadeReporting {
  enum class Asked { Run, Help, Version };
  bool verbose = false;
  bool quiet = false;
  Asked asked = Asked::Run;
};

/// The options every tool that fades takes, for readOptions(): --over,
/// --steps, --timeout, --tries, --verbose, --quiet, --help, -h, --version.
extern const std::vector<KnownOption> kFadeOptions;

/// Takes one of kFadeOptions into `timing` or `reporting`, as readOptions()
/// hands it over; Refused with `problem` for a bad value.
OptionTaken takeFadeOption(const std::string& name, const char* value, FadeTiming& timing,
                           FadeReporting& reporting, std::string& problem);

/// Once the options are read: false with `problem` when they contradict
/// each other (--verbose with --quiet).
bool checkFadeReporting(const FadeReporting& reporting, std::string& problem);

/// --help's lines for --steps, --timeout and --tries.
extern const char kFadeTimingHelp[];
/// --help's lines for --verbose, --quiet, --help and --version, and what a
/// DURATION is.
extern const char kFadeReportHelp[];

#endif
