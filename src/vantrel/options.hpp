#ifndef VANTREL_VANTREL_OPTIONS_HPP
#define VANTREL_VANTREL_OPTIONS_HPP

#include <string>
#include <vector>

#include "timing_options/timing_options.hpp"

/// What the command line asks of vantrel.
struct VantrelOptions : FadeTiming, FadeReporting, ServiceUse {
  enum class Command { Set, Scene, SaveScene, RemoveScene, List };
  Command command = Command::List;
  std::vector<const char*> targets;  ///< set, scene save: the units and groups named
  int level = 0;                     ///< set: 0..255
  bool on = false;                   ///< set: LEVEL was "on": each unit's last level above 0
  const char* scene = nullptr;       ///< scene, scene save, scene remove: its name
  const char* config = nullptr;      ///< --config, or null to look for the file
  bool over = false;                 ///< whether --over was given: without it, no fade
  int from = -1;                     ///< --from, or -1
};

enum class VantrelRequest { Run, Help, Version, UsageError };

/// Reads the arguments after the program name: options anywhere, GNU style,
/// as vantrel-fade takes them, then the command and its operands. Names are
/// only checked against the units file later. On UsageError `problem` says
/// in one line what is wrong.
VantrelRequest parseVantrelArguments(int argc, const char* const argv[], VantrelOptions& options,
                                     std::string& problem);

/// The synopsis and a pointer to --help, for a usage error.
extern const char kVantrelUsage[];
/// The whole of --help.
std::string vantrelHelp();

#endif
