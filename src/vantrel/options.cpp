#include "vantrel/options.hpp"

#include <cstring>

#include "common/options.hpp"
#include "timing_options/timing_options.hpp"
#include "units/level.hpp"

const char kVantrelUsage[] =
    "usage: vantrel [OPTION]... set TARGET... LEVEL\n"
    "       vantrel [OPTION]... scene NAME\n"
    "       vantrel [OPTION]... scene save NAME [TARGET]...\n"
    "       vantrel [OPTION]... scene remove NAME\n"
    "       vantrel [OPTION]... list\n"
    "Try 'vantrel --help' for more information.\n";

std::string vantrelHelp() {
  return std::string(
             "usage: vantrel [OPTION]... set TARGET... LEVEL\n"
             "       vantrel [OPTION]... scene NAME\n"
             "       vantrel [OPTION]... scene save NAME [TARGET]...\n"
             "       vantrel [OPTION]... scene remove NAME\n"
             "       vantrel [OPTION]... list\n"
             "       vantrel --help | --version\n"
             "Sets many Vantrel power units at once, by the names of a units file: the\n"
             "units named (TARGET: a unit, a group, or all) to LEVEL, or every unit of a\n"
             "scene to its level; with --over, as fades that keep in step.\n"
             "\n"
             "  set TARGET... LEVEL each unit named, directly or in a group, to LEVEL\n"
             "  scene NAME          each unit of the scene to its level in it\n"
             "  scene save NAME [TARGET]...\n"
             "                      saves as scene NAME the last confirmed level of each\n"
             "                      unit named (default: all); sends nothing\n"
             "  scene remove NAME   removes the saved scene NAME\n"
             "  list                the units with their last confirmed levels, the\n"
             "                      groups and the scenes; sends nothing\n"
             "  LEVEL               0..255, a percentage such as 50%, off (0), or on: the\n"
             "                      last level above 0 each unit confirmed, else 255\n"
             "  --config FILE       the units file (default: vantrel.toml here, else the\n"
             "                      user's or the system's; see vantrel(1))\n"
             "  --over DURATION     fade over this time from each unit's last confirmed\n"
             "                      level (default: one command to the level)\n"
             "  --from LEVEL        with --over: fade every unit from LEVEL\n") +
         kFadeTimingHelp + kServiceHelp + kFadeReportHelp +
         "While vantreld runs, set, scene, scene save, scene remove and list go through\n"
         "it, and scene save keeps the levels it confirmed (see vantrel(1)).\n"
         "Exit status: 0 when every unit confirmed its level (with --no-wait: when the\n"
         "service took the command), 1 when any did not, 2 for a usage or units file\n"
         "error, 130 when interrupted.\n";
}

namespace {

const char kLevelWanted[] = "a level from 0 to 255, or a percentage from 0% to 100%";

bool readLevel(const char* what, const char* text, int& level, std::string& problem) {
  if (parseLevel(text, level))
    return true;
  problem = std::string("invalid ") + what + " " + quoted(text) + ": " + kLevelWanted;
  return false;
}

bool readCommand(const std::vector<const char*>& operands, VantrelOptions& options,
                 std::string& problem) {
  if (operands.empty()) {
    problem = "missing command: set, scene or list";
    return false;
  }
  const std::string command = operands[0];
  const std::size_t count = operands.size() - 1;
  if (command == "set") {
    options.command = VantrelOptions::Command::Set;
    if (count < 2) {
      problem = count == 0 ? "set: missing TARGET and LEVEL" : "set: missing LEVEL";
      return false;
    }
    options.targets.assign(operands.begin() + 1, operands.end() - 1);
    // "on" is each unit's own level, which only the remembered levels know.
    const char* level = operands.back();
    options.on = std::strcmp(level, "on") == 0;
    if (options.on || std::strcmp(level, "off") == 0 || parseLevel(level, options.level))
      return true;
    problem = "invalid LEVEL " + quoted(level) +
              ": a level from 0 to 255, a percentage from 0% to 100%, on or off";
    return false;
  }
  if (command == "scene") {
    options.command = VantrelOptions::Command::Scene;
    // "scene save" alone is still the scene of that name.
    const std::string verb = count >= 2 ? operands[1] : "";
    if (verb == "save") {
      options.command = VantrelOptions::Command::SaveScene;
      options.scene = operands[2];
      options.targets.assign(operands.begin() + 3, operands.end());
      return true;
    }
    if (verb == "remove") {
      options.command = VantrelOptions::Command::RemoveScene;
      options.scene = operands[2];
      if (count == 2)
        return true;
      problem = "scene remove: unexpected " + quoted(operands[3]);
      return false;
    }
    if (count != 1) {
      problem = count == 0 ? "scene: missing NAME" : "scene: expected one NAME, not " +
                                                         std::to_string(count);
      return false;
    }
    options.scene = operands[1];
    return true;
  }
  if (command == "list") {
    options.command = VantrelOptions::Command::List;
    if (count != 0) {
      problem = "list: unexpected " + quoted(operands[1]);
      return false;
    }
    return true;
  }
  problem = "unknown command " + quoted(operands[0]) + ": set, scene or list";
  return false;
}

}  // namespace

VantrelRequest parseVantrelArguments(int argc, const char* const argv[], VantrelOptions& options,
                                     std::string& problem) {
  static const std::vector<KnownOption> known = [] {
    std::vector<KnownOption> options = kFadeOptions;
    options.insert(options.end(), {{"--config", true}, {"--from", true}});
    options.insert(options.end(), kServiceOptions.begin(), kServiceOptions.end());
    return options;
  }();
  auto take = [&](const std::string& name, const char* value, std::string& why) {
    if (readServiceOption(name, options))
      return OptionTaken::Next;
    if (name == "--config") {
      if (*value == '\0') {
        why = "--config needs a file name";
        return OptionTaken::Refused;
      }
      options.config = value;
      return OptionTaken::Next;
    }
    if (name == "--from")
      return readLevel("--from", value, options.from, why) ? OptionTaken::Next
                                                           : OptionTaken::Refused;
    options.over = options.over || name == "--over";
    return takeFadeOption(name, value, options, options, why);
  };
  std::vector<const char*> operands;
  if (!readOptions(argc, argv, known, take, operands, problem))
    return VantrelRequest::UsageError;
  if (options.asked != FadeReporting::Asked::Run)
    return options.asked == FadeReporting::Asked::Help ? VantrelRequest::Help
                                                       : VantrelRequest::Version;
  if (!checkFadeReporting(options, problem))
    return VantrelRequest::UsageError;
  problem = serviceOptionsProblem(options);
  if (!problem.empty() || !readCommand(operands, options, problem))
    return VantrelRequest::UsageError;
  if (options.noWait && (options.command == VantrelOptions::Command::List ||
                         options.command == VantrelOptions::Command::SaveScene ||
                         options.command == VantrelOptions::Command::RemoveScene)) {
    problem = std::string(options.command == VantrelOptions::Command::List ? "list" : "scene ") +
              (options.command == VantrelOptions::Command::SaveScene     ? "save"
               : options.command == VantrelOptions::Command::RemoveScene ? "remove"
                                                                          : "") +
              ": --no-wait is for set and scene";
    return VantrelRequest::UsageError;
  }
  if (options.from >= 0 && !options.over) {
    problem = "--from needs --over";
    return VantrelRequest::UsageError;
  }
  return VantrelRequest::Run;
}
