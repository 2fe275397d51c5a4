// vantrel [OPTION]... set TARGET... LEVEL | scene NAME | list: sets many
// Vantrel power units at once by the names of a units file, as fades that
// keep in step when asked, and remembers the levels they confirmed.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/platform.hpp"
#include "common/wall_clock.hpp"
#include "engine/fade_engine.hpp"
#include "engine/verdicts.hpp"
#include "service_link/service_client.hpp"
#include "units/level.hpp"
#include "units/remembered_levels.hpp"
#include "units/saved_scenes.hpp"
#include "units/scene_saving.hpp"
#include "units/units_file.hpp"
#include "units/units_file_reading.hpp"
#include "vantrel/listing.hpp"
#include "vantrel/options.hpp"
#include "vantrel/run_report.hpp"

namespace {

/// A unit of the run and the level it is to reach.
struct Target {
  int unit;  ///< index into UnitsFile::units
  int level;
};

int usageError(const std::string& problem) {
  std::fprintf(stderr, "vantrel: %s\n%s", problem.c_str(), kVantrelUsage);
  return 2;
}

void warn(const std::string& warning) {
  if (!warning.empty())
    std::fprintf(stderr, "vantrel: %s\n", warning.c_str());
}

// The units of the saved scene that the units file still has, in its order; the others are
// told of in one line and skipped.
void savedTargets(const UnitsFile& file, const SavedScene& scene, std::vector<Target>& targets) {
  std::string skipped;
  for (const auto& [unit, level] : savedSceneLevels(file, scene, skipped))
    targets.push_back({unit, level});
  warn(skipped);
}

// The units that the command names, each once, in the order of the file.
bool chooseTargets(const UnitsFile& file, const VantrelOptions& options,
                   const RememberedLevels& remembered, const SavedScenes& saved,
                   std::vector<Target>& targets, std::string& problem) {
  switch (options.command) {
    case VantrelOptions::Command::List:
    case VantrelOptions::Command::SaveScene:
    case VantrelOptions::Command::RemoveScene:
      return true;
    case VantrelOptions::Command::Scene: {
      // The file's scenes first: a saved scene cannot take their names.
      const int scene = file.findScene(options.scene);
      if (scene < 0) {
        if (const SavedScene* found = saved.find(options.scene)) {
          savedTargets(file, *found, targets);
          return true;
        }
        const std::string name = options.scene;
        problem = name == "save" || name == "remove" ? "scene " + name + ": missing NAME"
                                                     : "unknown scene '" + name + "'";
        return false;
      }
      for (const auto& [unit, level] : file.scenes[static_cast<std::size_t>(scene)].levels)
        targets.push_back({unit, level});
      return true;
    }
    case VantrelOptions::Command::Set: {
      std::vector<int> units;
      for (const char* target : options.targets) {
        if (!file.addTarget(target, units)) {
          problem = std::string("unknown unit or group '") + target + "'";
          return false;
        }
      }
      for (int unit : units) {
        const Unit& named = file.units[static_cast<std::size_t>(unit)];
        const int lastOn = remembered.find(named.key()).lastOn;
        targets.push_back({unit, options.on ? onLevel(lastOn, named.onLevel) : options.level});
      }
      return true;
    }
  }
  return false;
}

FadePlan planFor(const Target& target, const VantrelOptions& options, std::int64_t zeroUs) {
  FadePlan plan;
  plan.to = target.level;
  plan.fade = options.over;
  plan.from = options.from >= 0 ? options.from : FadePlan::kFromKnown;
  plan.overUs = options.overUs;
  plan.steps = options.steps;
  plan.zeroUs = zeroUs;
  return plan;
}

// Remembered once, at the end, so that a run costs one write however many
// units it set.
void remember(const UnitsFile& file, const std::vector<Target>& targets, const FadeEngine& engine,
              const std::string& path) {
  std::vector<std::pair<UnitKey, RememberedLevel>> levels;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const Unit& unit = file.units[static_cast<std::size_t>(targets[i].unit)];
    const ConfirmedLevel& confirmed = engine.confirmed(static_cast<int>(i));
    levels.push_back({unit.key(),
                      {confirmed.level, confirmed.atMs, confirmed.lastOn, confirmed.sent}});
  }
  rememberOrWarn("vantrel", path, levels);
}

// The units' own engine: the levels they confirm are remembered here.
int runDirect(const UnitsFile& file, const VantrelOptions& options,
              const std::vector<Target>& targets, const RememberedLevels& remembered,
              const std::string& levelsPath, RunReport& report, const std::atomic<bool>& stop) {
  FadeEngine engine(options.timeoutUs, options.tries, report);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const Unit& unit = file.units[static_cast<std::size_t>(targets[i].unit)];
    engine.addUnit({unit.address, unit.port, unit.type, unit.curve});
    engine.setKnownLevel(static_cast<int>(i), remembered.find(unit.key()).level);
  }

  // Host names are looked up by the engine, all at once: a unit whose name
  // is slow to answer joins the fade late, in step with the others.
  const std::int64_t zeroUs = monotonicUs();
  report.start(zeroUs);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const int unit = static_cast<int>(i);
    if (stop.load()) {
      report.failedToBegin(unit, interrupted(-1));
      continue;
    }
    if (options.over && options.from < 0 && engine.knownLevel(unit) < 0)
      report.warn(unit, "level not known: set at once to " + std::to_string(targets[i].level) +
                            ", without a fade (--from LEVEL fades from a level you give)");
    engine.startFade(unit, planFor(targets[i], options, zeroUs));
  }
  engine.run(stop);

  const int status = report.finish(stop.load());
  remember(file, targets, engine, levelsPath);
  return status;
}

// The same run handed to vantreld, which owns the units while it runs and
// remembers their levels itself; what it streams back goes to the same
// report.
int runThroughService(ServiceClient& service, const UnitsFile& file,
                      const VantrelOptions& options, const std::vector<Target>& targets,
                      RunReport& report, const std::atomic<bool>& stop) {
  LocalFade fade;
  for (const Target& target : targets) {
    const Unit& unit = file.units[static_cast<std::size_t>(target.unit)];
    fade.units.push_back(
        {unit.key(), unit.name, options.on ? LocalUnit::kOn : target.level, unit.curve, unit.onLevel});
  }
  const FadePlan plan = planFor(targets.front(), options, monotonicUs());
  fade.fade = plan.fade;
  fade.from = plan.from;
  fade.overUs = plan.overUs;
  fade.steps = plan.steps;
  fade.zeroUs = plan.zeroUs;
  fade.timeoutUs = options.timeoutUs;
  fade.tries = options.tries;
  fade.wait = !options.noWait;
  report.start(fade.zeroUs);
  std::vector<int> known;
  std::string problem;
  if (!service.submit(fade, known, problem)) {
    std::fprintf(stderr, "vantrel: %s: %s\n", service.path().c_str(), problem.c_str());
    return 1;
  }
  if (options.noWait)
    return 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (options.over && options.from < 0 && known[i] < 0)
      report.warn(static_cast<int>(i), "level not known: set at once to " +
                                           std::to_string(targets[i].level) +
                                           ", without a fade (--from LEVEL fades from a level you give)");
  }
  if (!service.follow(static_cast<int>(targets.size()), report, stop, problem)) {
    std::fprintf(stderr, "vantrel: %s: %s\n", service.path().c_str(), problem.c_str());
    report.serviceWentAway();
    report.finish(stop.load());
    return 1;
  }
  return report.finish(stop.load());
}

// The exit status of a refused save or removal, its line said as vantrel says it.
int refused(SceneSaving::Refusal refusal, const std::string& problem) {
  switch (refusal) {
    case SceneSaving::Refusal::BadName:
    case SceneSaving::Refusal::UnknownTarget:
      return usageError(problem);
    case SceneSaving::Refusal::Written:
      std::fprintf(stderr, "%s\n", problem.c_str());
      return 2;
    case SceneSaving::Refusal::NothingKnown:
    case SceneSaving::Refusal::None:
      break;
  }
  warn(problem);
  return 1;
}

// `scene save`: the remembered level of each unit named, or of every unit.
int saveFromLevels(const UnitsFile& file, const VantrelOptions& options,
                   const RememberedLevels& remembered, const std::string& scenesPath) {
  const std::vector<std::string> targets(options.targets.begin(), options.targets.end());
  SceneSaving saving = chooseSceneUnits(file, options.scene, targets);
  if (saving.refusal == SceneSaving::Refusal::None) {
    std::vector<int> known;
    for (const SavedUnit& unit : saving.chosen)
      known.push_back(remembered.find(unit.key).level);
    keepKnown(saving, known);
  }
  if (saving.refusal != SceneSaving::Refusal::None)
    return refused(saving.refusal, saving.problem);
  warn(leftOutLine(saving));
  std::string reason;
  if (!saveScene(scenesPath, saving.scene, reason))
    return refused(SceneSaving::Refusal::None, notSavedLine(options.scene, reason));
  if (!options.quiet)
    std::printf("%s\n", savedLine(options.scene, saving.scene.units.size()).c_str());
  return 0;
}

int removeSaved(const UnitsFile& file, const VantrelOptions& options,
                const SavedScenes& saved, const std::string& scenesPath) {
  bool written = false;
  const std::string problem = removalProblem(file, saved, options.scene, written);
  if (!problem.empty())
    return refused(written ? SceneSaving::Refusal::Written : SceneSaving::Refusal::BadName, problem);
  std::string reason;
  if (!removeScene(scenesPath, options.scene, reason))
    return refused(SceneSaving::Refusal::None, notRemovedLine(options.scene, reason));
  return 0;
}

// A save or removal that the service answered: what it says, as vantrel says it direct.
int sceneAnswer(const ServiceClient& service, bool answered, const LocalReply& reply,
                const std::string& problem, const VantrelOptions& options, SceneSaving& saving) {
  if (!answered) {
    std::fprintf(stderr, "vantrel: %s: %s\n", service.path().c_str(), problem.c_str());
    return 1;
  }
  if (reply.kind == LocalReply::Kind::Refused)
    return refused(reply.notFound ? SceneSaving::Refusal::BadName : reply.why, reply.refusal);
  if (reply.kind == LocalReply::Kind::Saved) {
    saving.leftOut = reply.leftOut;
    warn(leftOutLine(saving));
    if (!options.quiet)
      std::printf("%s\n", savedLine(options.scene, reply.scene.units.size()).c_str());
  }
  return 0;
}

// `scene save` through the service: the units chosen by this file, at the levels the service
// last confirmed.
int saveThroughService(ServiceClient& service, const UnitsFile& file, const VantrelOptions& options) {
  const std::vector<std::string> targets(options.targets.begin(), options.targets.end());
  SceneSaving saving = chooseSceneUnits(file, options.scene, targets);
  if (saving.refusal != SceneSaving::Refusal::None)
    return refused(saving.refusal, saving.problem);
  LocalReply reply;
  std::string problem;
  const bool answered = service.saveScene(options.scene, saving.chosen, reply, problem);
  return sceneAnswer(service, answered, reply, problem, options, saving);
}

int removeThroughService(ServiceClient& service, const UnitsFile& file,
                         const VantrelOptions& options) {
  bool written = false;
  const std::string problem = removalProblem(file, SavedScenes(), options.scene, written);
  if (written)
    return refused(SceneSaving::Refusal::Written, problem);
  SceneSaving saving;
  LocalReply reply;
  std::string notAnswered;
  const bool answered = service.removeScene(options.scene, reply, notAnswered);
  return sceneAnswer(service, answered, reply, notAnswered, options, saving);
}

}  // namespace

int main(int argc, char* argv[]) {
  VantrelOptions options;
  std::string problem;
  switch (parseVantrelArguments(argc, argv, options, problem)) {
    case VantrelRequest::Help:
      std::fputs(vantrelHelp().c_str(), stdout);
      return 0;
    case VantrelRequest::Version:
      std::puts("vantrel " VANTREL_VERSION);
      return 0;
    case VantrelRequest::UsageError:
      return usageError(problem);
    case VantrelRequest::Run:
      break;
  }

  UnitsFile file;
  if (!readUnitsFile("vantrel", options.config, file))
    return 2;
  const std::string levelsPath = levelsFilePath();
  std::string warning;
  RememberedLevels remembered = RememberedLevels::read(levelsPath, warning);
  // Kept beside the levels; read only when the command may need them.
  const std::string scenesPath = savedScenesPath(levelsPath);
  std::vector<std::string> sceneWarnings;
  SavedScenes saved;
  if (options.command != VantrelOptions::Command::Set &&
      (options.command != VantrelOptions::Command::Scene || file.findScene(options.scene) < 0))
    saved = SavedScenes::read(scenesPath, sceneWarnings);
  for (const std::string& sceneWarning : sceneWarnings)
    warn(sceneWarning);
  // A saved scene is the service's while it runs: which one is known once it is reached.
  const bool savedScene =
      options.command == VantrelOptions::Command::Scene && file.findScene(options.scene) < 0;
  std::vector<Target> targets;
  const auto choose = [&]() -> int {
    if (!chooseTargets(file, options, remembered, saved, targets, problem))
      return usageError(problem);
    if (options.command == VantrelOptions::Command::Scene && targets.empty()) {
      warn(std::string("scene '") + options.scene + "': none of its units is in the units file");
      return 1;
    }
    return 0;
  };
  if (!savedScene || options.direct) {
    if (const int status = choose())
      return status;
  }

  // While vantreld runs it owns the units: the command goes through it.
  ServiceClient service("vantrel");
  const ServiceClient::Reach reach =
      options.direct ? ServiceClient::Reach::Direct : service.reach(problem);
  if (reach == ServiceClient::Reach::Refused) {
    std::fprintf(stderr, "vantrel: %s\n", problem.c_str());
    return 1;
  }
  const bool through = reach == ServiceClient::Reach::Service;
  if (options.noWait && !through)
    return usageError(kNoWaitWithoutService);
  // Through the service the levels are the service's: the user's file and
  // what is wrong with it do not count.
  if (!through)
    warn(warning);
  if (through && options.verbose)
    std::fprintf(stderr, "vantrel: through vantreld at %s\n", service.path().c_str());

  if (through && (savedScene || options.command == VantrelOptions::Command::List)) {
    saved = SavedScenes();
    LocalReply reply;
    if (!service.savedScenes(reply, problem)) {
      std::fprintf(stderr, "vantrel: %s: %s\n", service.path().c_str(), problem.c_str());
      return 1;
    }
    for (const SavedScene& scene : reply.scenes)
      saved.put(scene);
  }
  if (savedScene && !options.direct) {
    if (const int status = choose())
      return status;
  }

  if (options.command == VantrelOptions::Command::SaveScene ||
      options.command == VantrelOptions::Command::RemoveScene) {
    // The levels to save are the service's while it runs: the user's own file would be older
    // than what the units are at.
    if (through)
      return options.command == VantrelOptions::Command::SaveScene
                 ? saveThroughService(service, file, options)
                 : removeThroughService(service, file, options);
    return options.command == VantrelOptions::Command::SaveScene
               ? saveFromLevels(file, options, remembered, scenesPath)
               : removeSaved(file, options, saved, scenesPath);
  }

  if (options.command == VantrelOptions::Command::List) {
    std::vector<LocalNotKnown> notKnown;
    if (through) {
      // The service's live levels, over those it does not drive.
      std::vector<UnitKey> keys;
      for (const Unit& unit : file.units)
        keys.push_back(unit.key());
      std::vector<RememberedLevel> levels;
      if (!service.levels(keys, levels, notKnown, problem)) {
        std::fprintf(stderr, "vantrel: %s: %s\n", service.path().c_str(), problem.c_str());
        return 1;
      }
      for (std::size_t i = 0; i < keys.size(); ++i) {
        if (levels[i].level >= 0)
          remembered.set(keys[i], levels[i]);
      }
    }
    // The schedules' record is beside the service's levels file, through the service (when it
    // says where), else beside this user's.
    const std::string recordBeside =
        through && !service.serviceLevelsFile().empty() ? service.serviceLevelsFile() : levelsPath;
    std::string recordWarning;
    const std::vector<ListedSchedule> schedules = listedSchedules(file, recordBeside, wallClockMs(), recordWarning);
    warn(recordWarning);
    std::fputs(listing(file, remembered, notKnown, through ? wallClockMs() : 0, saved.scenes(), schedules).c_str(),
               stdout);
    return 0;
  }

  // A scheduler's SIGTERM stops a run as Ctrl+C does, so that the levels it
  // reached are remembered all the same.
  const std::atomic<bool>& stop = catchStopRequests();
  std::vector<std::string> names;
  std::vector<OutputCurve> curves;
  for (const Target& target : targets) {
    names.push_back(file.units[static_cast<std::size_t>(target.unit)].name);
    curves.push_back(file.units[static_cast<std::size_t>(target.unit)].curve);
  }
  RunReport report(names, {options.verbose, options.quiet, !options.quiet && isTerminal(stderr),
                           options.over ? options.overUs : -1}, curves);
  if (through)
    return runThroughService(service, file, options, targets, report, stop);
  return runDirect(file, options, targets, remembered, levelsPath, report, stop);
}
