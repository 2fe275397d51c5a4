#ifndef VANTREL_FADE_OPTIONS_HPP
#define VANTREL_FADE_OPTIONS_HPP

#include <cstdint>
#include <string>

#include "timing_options/timing_options.hpp"

/// What the command line asks of vantrel-fade.
struct FadeOptions : FadeTiming, FadeReporting {
  const char* address = nullptr;  ///< IPv4 address or host name, not empty
  std::uint16_t port = 0;         ///< 1..65535
  int unitType = 1;               ///< 1 or 2
  int from = 0;                   ///< 0..255
  int to = 0;                     ///< 0..255
};

enum class FadeRequest { Fade, Help, Version, UsageError };

/// Reads the arguments after the program name. Options may stand before or
/// among the five arguments, as `--name VALUE` or `--name=VALUE`; `--` ends
/// them. On UsageError `problem` says in one line what is wrong.
FadeRequest parseFadeArguments(int argc, const char* const argv[], FadeOptions& options,
                               std::string& problem);

/// The synopsis and a pointer to --help, for a usage error.
extern const char kFadeUsage[];
/// The whole of --help.
std::string fadeHelp();

#endif
