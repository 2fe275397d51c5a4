#ifndef VANTREL_TIMING_OPTIONS_TIMING_OPTIONS_HPP
#define VANTREL_TIMING_OPTIONS_TIMING_OPTIONS_HPP

#include <string>

#include "engine/fade_timing.hpp"

/// The options that shape a fade and report it, the same in every tool
/// that fades (vantrel-fade, vantrel).

/// Whether `name` is --over, --steps, --timeout or --tries.
bool isFadeTimingOption(const std::string& name);

/// Reads the value of one of those options into `timing`; on failure
/// `problem` says what the option takes.
bool readFadeTimingOption(const std::string& name, const char* value, FadeTiming& timing,
                          std::string& problem);

/// --help's lines for --steps, --timeout and --tries.
extern const char kFadeTimingHelp[];
/// --help's lines for --verbose, --quiet, --help and --version, and what a
/// DURATION is.
extern const char kFadeReportHelp[];

#endif
