#ifndef VANTREL_FADE_OPTIONS_HPP
#define VANTREL_FADE_OPTIONS_HPP

#include <cstdint>
#include <string>

/// The options that shape a fade, the same in every tool that fades.
struct FadeTiming {
  std::int64_t overUs = 1000000;
  int steps = 0;  ///< 1..255, or 0 for the default
  std::int64_t timeoutUs = 1000000;
  int tries = 3;
};

/// How a tool reaches its units: through a running vantreld (its local
/// socket), unless told otherwise.
struct ServiceUse {
  bool direct = false;  ///< --direct: around the service, to the units
  bool noWait = false;  ///< --no-wait: hand the command over and return
};

/// Reads --direct or --no-wait, when `name` is one of them.
bool readServiceOption(const std::string& name, ServiceUse& use);
/// The usage error of both at once, or "".
std::string serviceOptionsProblem(const ServiceUse& use);

/// --help's lines for --direct and --no-wait.
extern const char kServiceHelp[];

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

/// What the command line asks of vantrel-fade.
struct FadeOptions : FadeTiming, ServiceUse {
  const char* address = nullptr;  ///< IPv4 address or host name, not empty
  std::uint16_t port = 0;         ///< 1..65535
  int unitType = 1;               ///< 1 or 2
  int from = 0;                   ///< 0..255
  int to = 0;                     ///< 0..255
  bool verbose = false;
  bool quiet = false;
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
