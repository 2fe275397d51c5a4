#include "service/units_service.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/platform.hpp"
#include "common/wall_clock.hpp"
#include "engine/fade_timing.hpp"
#include "engine/verdicts.hpp"
#include "link/socket_wait.hpp"
#include "units/level.hpp"
#include "schedules/schedule_times.hpp"
#include "units/remembered_levels.hpp"

const char kProblemRefused[] = "refused";
const char kProblemNoReply[] = "no reply";
const char kProblemWrongReply[] = "wrong reply";
const char kProblemNoAddress[] = "lookup failed";

namespace {

// With nothing due the service thread sleeps until it is woken: a year is
// as good as forever, and ppoll takes no "forever" of its own here.
constexpr std::int64_t kForeverUs = std::int64_t{365} * 24 * 3600 * 1000000;

const char* problemOf(const CommandResult& result) {
  if (result.failure == LinkFailure::Refused)
    return kProblemRefused;
  if (result.stage == CommandResult::Stage::Reply && result.exchange.reply.count > 0)
    return kProblemWrongReply;
  return kProblemNoReply;
}

// Blinks of a flash, as Home Assistant's lights do.
constexpr std::int64_t kBlinkUs = 500000;

// What the service knows at start of a unit it has not driven yet: a level
// confirmed since `knownSinceMs`, within this boot, is known; an older one
// is a hint. LAST_ON holds either way: ON means the same after a boot.
UnitState stateOf(const RememberedLevel& level, const StartFacts& start) {
  UnitState state;
  state.lastOn = level.lastOn;
  if (level.level >= 0 && !start.boot && level.confirmedMs >= start.knownSinceMs) {
    state.level = level.level;
    state.sent = level.byte();
  } else if (level.level >= 0) {
    state.rememberedLevel = level.level;
    state.rememberedMs = level.confirmedMs;
  }
  return state;
}

FadePlan atOnce(int level) {
  FadePlan plan;
  plan.fade = false;
  plan.to = level;
  return plan;
}

}  // namespace

int groupLevel(const std::vector<int>& memberLevels) {
  bool known = false;
  int on = 0;
  long sum = 0;
  for (const int level : memberLevels) {
    known = known || level >= 0;
    if (level > 0) {
      ++on;
      sum += level;
    }
  }
  if (!known)
    return -1;
  return on == 0 ? 0 : static_cast<int>(sum / on);
}

UnitsService::UnitsService(const UnitsFile& file, std::string levelsPath, StartFacts start)
    : file_(file),
      levelsPath_(levelsPath),
      start_(start),
      writer_(levelsPath, [this](const LevelsFileState&) {
        // Listeners hear it on the service's thread, as everything else.
        {
          std::lock_guard<std::mutex> lock(mutex_);
          levelsFileChanged_ = true;
        }
        wake_.signal();
      }) {
  std::string warning;
  const RememberedLevels remembered = RememberedLevels::read(levelsPath, warning);
  if (!warning.empty())
    std::fprintf(stderr, "vantreld: %s\n", warning.c_str());
  const FadeTiming defaults;
  EngineListener& ears = *this;
  engine_ = std::make_unique<FadeEngine>(defaults.timeoutUs, defaults.tries, ears);
  // Host names are looked up by the engine at each command until one
  // resolves, so that a name that fails at start costs that unit alone.
  const std::int64_t nowUs = monotonicUs();
  for (const Unit& unit : file_.units) {
    const int index = engine_->addUnit({unit.address, unit.port, unit.type, unit.curve});
    ServedUnit served;
    served.key = unit.key();
    served.name = unit.name;
    served.file = &unit;
    const RememberedLevel level = remembered.find(unit.key());
    served.state = stateOf(level, start_);
    engine_->setKnownLevel(index, served.state.level, served.state.lastOn);
    if (served.state.level >= 0)
      served.confirmedMs = level.confirmedMs;
    served.owed = served.state.level;
    if (unit.refreshUs > 0) {
      // Each unit at its own point of the interval, so that the refreshes
      // of many come one by one rather than all at once.
      const auto count = static_cast<std::int64_t>(file_.units.size());
      served.refresh = RefreshSchedule(unit.refreshUs, unit.refreshUs * index / count);
      if (served.owed >= 0)
        served.refreshDueUs = served.refresh.afterConfirmed(nowUs);
    }
    unitOfKey_[served.key] = index;
    units_.push_back(std::move(served));
  }
  // A state folder that cannot be read is said once, by the levels file: a file kept beside it
  // is spoken of only for a reason of its own.
  const auto sayBeside = [&](const std::string& path, const std::string& besideWarning) {
    const std::string reason = besideWarning.substr(std::min(path.size(), besideWarning.size()));
    if (warning.empty() || warning.compare(0, levelsPath_.size(), levelsPath_) != 0 ||
        warning.substr(levelsPath_.size()) != reason)
      std::fprintf(stderr, "vantreld: %s\n", besideWarning.c_str());
  };
  const std::string scenesPath = savedScenesPath(levelsPath_);
  std::vector<std::string> sceneWarnings;
  savedScenes_ = SavedScenes::read(scenesPath, sceneWarnings);
  for (const std::string& sceneWarning : sceneWarnings)
    sayBeside(scenesPath, sceneWarning);
  for (std::size_t group = 0; group < file_.groups.size(); ++group)
    groupLevels_.push_back(levelOfGroup(static_cast<int>(group)));
  const std::string schedulesPath = scheduleRecordPath(levelsPath_);
  std::string scheduleWarning;
  const ScheduleRecord kept = readScheduleRecord(schedulesPath, scheduleWarning);
  if (!scheduleWarning.empty())
    sayBeside(schedulesPath, scheduleWarning);
  for (const Schedule& schedule : file_.schedules) {
    const auto found = kept.find(schedule.name);
    scheduleRecord_[schedule.name] = found != kept.end() ? found->second : ScheduleMemory();
  }
  nextFiringMs_.resize(file_.schedules.size());
  // Known before the thread starts, for the front ends' first snapshot.
  planSchedules(true);
  if (start_.boot)
    queueStartCommands(remembered);
}

void UnitsService::queueStartCommands(const RememberedLevels& remembered) {
  // One command: the file's scene for the units that say nothing of their
  // own, and each unit's own on_start.
  UnitCommand levels;
  levels.from = "the start-up";
  const std::int64_t nowMs = wallClockMs();
  for (std::size_t unit = 0; unit < file_.units.size(); ++unit) {
    const StartPolicy& policy = file_.units[unit].onStart;
    int level = startLevel(policy, remembered.find(units_[unit].key), nowMs, file_.restoreWithinMs);
    if (policy.kind == StartPolicy::Kind::Leave && file_.startScene >= 0)
      for (const auto& [member, sceneLevel] :
           file_.scenes[static_cast<std::size_t>(file_.startScene)].levels)
        if (member == static_cast<int>(unit))
          level = sceneLevel;
    if (level < 0)
      continue;
    levels.units.push_back(static_cast<int>(unit));
    levels.levels.push_back(level);
  }
  if (!levels.units.empty())
    queued_.push_back(std::move(levels));
}

UnitsService::~UnitsService() { stop(); }

void UnitsService::addListener(ServiceListener& listener) { listeners_.push_back(&listener); }

void UnitsService::setScheduleNotes(std::function<void(const std::string&)> note) {
  scheduleNotes_ = std::move(note);
}

void UnitsService::switchSchedule(int schedule, bool on) { queue(ScheduleSwitch{schedule, on}); }

bool UnitsService::start(std::string& problem) {
  if (!wake_.ok()) {
    problem = "cannot make a pipe to wake its thread";
    return false;
  }
  thread_ = std::thread([this] {
    wakeOnTime();
    serve();
  });
  wake_.signal();  // for the commands of the start-up, queued already
  return true;
}

void UnitsService::halt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.signal();
  if (thread_.joinable())
    thread_.join();
}

void UnitsService::stop() {
  halt();
  writer_.stop();
}

void UnitsService::submit(UnitCommand command) { queue(std::move(command)); }

void UnitsService::stopFollowing(std::shared_ptr<FadeFollower> follower) {
  queue(std::move(follower));
}

std::vector<KeyedLevels> UnitsService::levelsOf(const std::vector<UnitKey>& keys) const {
  std::vector<KeyedLevels> levels;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const UnitKey& key : keys) {
    const auto found = unitOfKey_.find(key);
    KeyedLevels level;
    if (found != unitOfKey_.end()) {
      const ServedUnit& unit = units_[static_cast<std::size_t>(found->second)];
      level.confirmed = {unit.state.level, unit.confirmedMs, unit.state.lastOn, unit.state.sent};
      level.remembered = {unit.state.rememberedLevel, unit.state.rememberedMs, -1, -1};
    }
    levels.push_back(level);
  }
  return levels;
}

void UnitsService::queue(Queued queued) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(std::move(queued));
  }
  wake_.signal();
}

ServiceSnapshot UnitsService::snapshot() const {
  ServiceSnapshot snapshot;
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t unit = 0; unit < file_.units.size(); ++unit)
    snapshot.units.push_back({&file_.units[unit], units_[unit].state});
  for (std::size_t group = 0; group < file_.groups.size(); ++group) {
    ServiceSnapshot::Group entry{file_.groups[group].name, {}, levelOfGroup(static_cast<int>(group))};
    for (const int member : file_.groups[group].members)
      entry.members.push_back(file_.units[static_cast<std::size_t>(member)].name);
    snapshot.groups.push_back(std::move(entry));
  }
  for (const Scene& scene : file_.scenes)
    snapshot.scenes.push_back(scene.name);
  for (std::size_t i = 0; i < file_.schedules.size(); ++i) {
    const ScheduleMemory& memory = scheduleRecord_.at(file_.schedules[i].name);
    snapshot.schedules.push_back({&file_.schedules[i], memory.on, nextFiringMs_[i], memory.lastFiredMs});
  }
  snapshot.levelsFile = writer_.state();
  snapshot.savedScenes = savedSceneNames();
  return snapshot;
}

std::vector<std::string> UnitsService::savedSceneNames() const {
  std::vector<std::string> names;
  std::lock_guard<std::mutex> lock(savedMutex_);
  for (const SavedScene& scene : savedScenes_.scenes())
    if (file_.findScene(scene.name) < 0)
      names.push_back(scene.name);
  return names;
}

std::vector<SavedScene> UnitsService::savedScenes() const {
  std::vector<SavedScene> scenes;
  std::lock_guard<std::mutex> lock(savedMutex_);
  for (const SavedScene& scene : savedScenes_.scenes())
    if (file_.findScene(scene.name) < 0)
      scenes.push_back(scene);
  return scenes;
}

bool UnitsService::saveScene(const std::string& name, const std::vector<std::string>& targets,
                             SceneSaving& saving) {
  saving = chooseSceneUnits(file_, name, targets);
  return saving.refusal == SceneSaving::Refusal::None && saveScene(saving);
}

bool UnitsService::saveScene(SceneSaving& saving) {
  // A tool chose the units by its own file, which may not be the service's.
  if (refuseSceneName(file_, saving))
    return false;
  std::vector<UnitKey> keys;
  for (const SavedUnit& unit : saving.chosen)
    keys.push_back(unit.key);
  // What each confirmed, read under the service's mutex; the disk is written without it.
  std::vector<int> levels;
  for (const KeyedLevels& level : levelsOf(keys))
    levels.push_back(level.confirmed.level);
  keepKnown(saving, levels);
  if (saving.refusal != SceneSaving::Refusal::None)
    return false;
  std::string reason;
  if (!::saveScene(savedScenesPath(levelsPath_), saving.scene, reason)) {
    saving.problem = notSavedLine(saving.scene.name, reason);
    return false;
  }
  savedScenesWritten();
  return true;
}

UnitsService::Removal UnitsService::removeSavedScene(const std::string& name, std::string& problem) {
  bool written = false;
  {
    std::lock_guard<std::mutex> lock(savedMutex_);
    problem = removalProblem(file_, savedScenes_, name, written);
  }
  if (!problem.empty())
    return written ? Removal::Written : Removal::NotSaved;
  std::string reason;
  if (!removeScene(savedScenesPath(levelsPath_), name, reason)) {
    problem = notRemovedLine(name, reason);
    return Removal::NotWritten;
  }
  savedScenesWritten();
  return Removal::Removed;
}

bool UnitsService::findSavedScene(const std::string& name, SavedScene& scene) const {
  if (file_.findScene(name) >= 0)
    return false;
  std::lock_guard<std::mutex> lock(savedMutex_);
  const SavedScene* found = savedScenes_.find(name);
  if (found != nullptr)
    scene = *found;
  return found != nullptr;
}

void UnitsService::savedScenesWritten() {
  std::vector<std::string> warnings;
  SavedScenes scenes = SavedScenes::read(savedScenesPath(levelsPath_), warnings);
  {
    std::lock_guard<std::mutex> lock(savedMutex_);
    savedScenes_ = std::move(scenes);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    savedScenesChanged_ = true;
  }
  wake_.signal();
}

void UnitsService::recallSaved(const std::string& name, std::vector<int>& units,
                               std::vector<int>& levels) {
  SavedScene scene;
  if (!findSavedScene(name, scene)) {
    std::fprintf(stderr, "vantreld: no saved scene '%s'\n", name.c_str());
    return;
  }
  std::string skipped;
  for (const auto& [unit, level] : savedSceneLevels(file_, scene, skipped)) {
    units.push_back(unit);
    levels.push_back(level);
  }
  if (!skipped.empty())
    std::fprintf(stderr, "vantreld: %s\n", skipped.c_str());
}

int UnitsService::levelOfGroup(int group) const {
  std::vector<int> levels;
  for (const int member : file_.groups[static_cast<std::size_t>(group)].members)
    levels.push_back(units_[static_cast<std::size_t>(member)].state.level);
  return groupLevel(levels);
}

void UnitsService::serve() {
  std::vector<SocketWait> waits;
  // The start-up's commands first: what catch-up fires is newer.
  if (!takeQueued())
    return;
  checkSchedules(true);
  for (;;) {
    waits.clear();
    engine_->addWaits(waits);
    const std::size_t wakeAt = waits.size();
    waits.push_back({wake_.handle(), true, false, false});
    const std::size_t clockAt = waits.size();
    if (clockChange_.ok())
      waits.push_back({clockChange_.handle(), true, false, false});
    std::int64_t dueUs = engine_->nextDueUs();
    for (const ServedUnit& unit : units_)
      if (unit.settleUs > 0)
        dueUs = std::min(dueUs, unit.settleUs);
    // A refresh or a blink needs no fade step's precision: one plain wait
    // for it, however far, rather than the engine's turns.
    const std::int64_t timersUs = std::min(timersDueUs(), scheduleDueUs_);
    if (timersUs < dueUs)
      waitForSockets(waits, std::max<std::int64_t>(timersUs - monotonicUs(), 0));
    else if (dueUs == INT64_MAX)
      waitForSockets(waits, kForeverUs);
    else
      waitUntil(waits, dueUs);
    engine_->advance(waits);
    settleStreams();
    // Commands first: a refresh due at the same moment waits for them.
    if (waits[wakeAt].ready && !takeQueued())
      return;
    runTimers();
    const bool clockSet = clockChange_.ok() && waits[clockAt].ready && clockChange_.take();
    if (clockSet || monotonicUs() >= scheduleDueUs_)
      checkSchedules(clockSet);
  }
}

bool UnitsService::takeQueued() {
  wake_.drain();
  std::deque<Queued> queued;
  bool stopping;
  bool levelsFileChanged;
  bool savedScenesChanged;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued.swap(queued_);
    stopping = stopping_;
    levelsFileChanged = levelsFileChanged_;
    levelsFileChanged_ = false;
    savedScenesChanged = savedScenesChanged_;
    savedScenesChanged_ = false;
  }
  if (stopping) {
    shuttingDown_ = true;
    engine_->stopAll();
    return false;
  }
  if (levelsFileChanged) {
    const LevelsFileState levelsFile = writer_.state();
    for (ServiceListener* listener : listeners_)
      listener->levelsFileChanged(levelsFile);
  }
  if (savedScenesChanged) {
    const std::vector<std::string> saved = savedSceneNames();
    for (ServiceListener* listener : listeners_)
      listener->savedScenesChanged(saved);
  }
  for (const Queued& next : queued) {
    if (const auto* command = std::get_if<UnitCommand>(&next)) {
      carryOut(*command);
    } else if (const auto* change = std::get_if<ScheduleSwitch>(&next)) {
      const auto index = static_cast<std::size_t>(change->schedule);
      const Schedule& schedule = file_.schedules[index];
      const std::int64_t nowMs = wallClockMs();
      std::optional<std::int64_t> last;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last = scheduleRecord_[schedule.name].lastFiredMs;
      }
      // Turned on, it fires from now: what it missed while off stays missed.
      if (change->on)
        last = std::max(last.value_or(0), nowMs);
      const std::optional<std::int64_t> nextMs =
          change->on ? nextDue(schedule, file_.location, last, nowMs) : std::nullopt;
      {
        // Both at once, for a snapshot taken meanwhile.
        std::lock_guard<std::mutex> lock(mutex_);
        scheduleRecord_[schedule.name] = {change->on, last};
        nextFiringMs_[index] = nextMs;
      }
      rememberSchedules();
      tellSchedule(change->schedule);
      planSchedules(false);
    } else {
      stopFades(std::get<std::shared_ptr<FadeFollower>>(next).get());
    }
  }
  return true;
}

void UnitsService::carryOut(const UnitCommand& command) {
  std::vector<int> units = command.units;
  std::vector<int> levels = command.levels;
  if (command.group >= 0) {
    units = file_.groups[static_cast<std::size_t>(command.group)].members;
  } else if (command.scene >= 0) {
    for (const auto& [unit, level] : file_.scenes[static_cast<std::size_t>(command.scene)].levels) {
      units.push_back(unit);
      levels.push_back(level);
    }
  } else if (!command.savedScene.empty()) {
    recallSaved(command.savedScene, units, levels);
  } else if (!command.keyed.empty()) {
    std::unique_ptr<RememberedLevels> remembered;
    for (const KeyedUnit& named : command.keyed)
      units.push_back(unitFor(named, remembered));
  }
  if (command.follower) {
    std::vector<int> known;
    for (const int unit : units)
      known.push_back(engine_->knownLevel(unit));
    command.follower->accepted(known);
  }
  const std::int64_t zeroUs = command.plan.zeroUs > 0 ? command.plan.zeroUs : monotonicUs();
  for (std::size_t i = 0; i < units.size(); ++i) {
    ServedUnit& served = units_[static_cast<std::size_t>(units[i])];
    served.flash = Flash();  // a newer command ends a flash at once
    if (command.light.flashUs > 0) {
      startFlash(units[i], command.light, command.from);
      continue;
    }
    FadePlan plan = command.plan;
    plan.zeroUs = zeroUs;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const int lastOn = served.state.lastOn;
      plan.to = levels.empty() ? command.light.level(lastOn, served.onLevel())
                : levels[i] == UnitCommand::kOn ? onLevel(lastOn, served.onLevel())
                                                : levels[i];
    }
    served.settleForUs = command.settleUs;
    served.settleUs = command.settleUs > 0 ? INT64_MAX : 0;
    drive(units[i], plan, {command.follower, static_cast<int>(i), command.from});
  }
}

void UnitsService::startFlash(int unit, const LightCommand& light, const std::string& from) {
  ServedUnit& served = units_[static_cast<std::size_t>(unit)];
  Flash& flash = served.flash;
  const std::int64_t nowUs = monotonicUs();
  int level;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    level = served.state.level;
    flash.high = light.brightness > 0 ? light.brightness : onLevel(served.state.lastOn, served.onLevel());
    // It ends where the command says, else where it was; a level not
    // known is none to go back to, and off is the safe one.
    const bool says = light.state != LightCommand::Switch::None || light.brightness >= 0;
    flash.after = says ? light.level(served.state.lastOn, served.onLevel()) : std::max(level, 0);
  }
  flash.from = from;
  flash.untilUs = nowUs + light.flashUs;
  // The first blink is a change the eye sees: off when it is on.
  flash.lit = !(level > 0);
  flash.nextUs = nowUs + kBlinkUs;
  served.settleUs = 0;
  drive(unit, atOnce(flash.lit ? flash.high : 0), {nullptr, 0, from, true, true});
}

std::int64_t UnitsService::timersDueUs() const {
  std::int64_t dueUs = INT64_MAX;
  for (const ServedUnit& unit : units_) {
    if (unit.flash.nextUs > 0)
      dueUs = std::min(dueUs, unit.flash.nextUs);
    if (unit.refreshDueUs > 0)
      dueUs = std::min(dueUs, unit.refreshDueUs);
  }
  return dueUs;
}

void UnitsService::runTimers() {
  const std::int64_t nowUs = monotonicUs();
  for (std::size_t i = 0; i < units_.size(); ++i) {
    ServedUnit& served = units_[i];
    const int unit = static_cast<int>(i);
    Flash& flash = served.flash;
    if (flash.nextUs > 0 && flash.nextUs <= nowUs) {
      if (flash.nextUs >= flash.untilUs) {
        // Its end is a command as any other: told, remembered, owed.
        const Flash over = flash;
        flash = Flash();
        drive(unit, atOnce(over.after), {nullptr, 0, over.from});
      } else {
        flash.lit = !flash.lit;
        flash.nextUs += kBlinkUs;
        drive(unit, atOnce(flash.lit ? flash.high : 0), {nullptr, 0, flash.from, true, true});
      }
    }
    if (served.refreshDueUs == 0 || served.refreshDueUs > nowUs)
      continue;
    served.refreshDueUs = 0;
    // A fade or a flash owns the unit now; its end sets the next refresh.
    if (served.driven.running || served.flash.nextUs > 0 || served.owed < 0)
      continue;
    drive(unit, atOnce(served.owed), {nullptr, 0, "a refresh", true});
  }
}

int UnitsService::unitFor(const KeyedUnit& target, std::unique_ptr<RememberedLevels>& remembered) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = unitOfKey_.find(target.key);
    if (found != unitOfKey_.end())
      return found->second;
  }
  // Read now rather than at start: a tool run direct since may have set it.
  if (!remembered) {
    std::string warning;
    remembered = std::make_unique<RememberedLevels>(RememberedLevels::read(levelsPath_, warning));
  }
  const RememberedLevel level = remembered->find(target.key);
  const int unit = engine_->addUnit({target.key.address, target.key.port, target.key.type, target.curve});
  ServedUnit served;
  served.key = target.key;
  served.name = target.name.empty() ? target.key.address + ":" + std::to_string(target.key.port)
                                    : target.name;
  served.state = stateOf(level, start_);
  engine_->setKnownLevel(unit, served.state.level, served.state.lastOn);
  if (served.state.level >= 0)
    served.confirmedMs = level.confirmedMs;
  served.owed = served.state.level;
  served.toolsOnLevel = target.onLevel;
  std::lock_guard<std::mutex> lock(mutex_);
  units_.push_back(std::move(served));
  unitOfKey_[target.key] = unit;
  return unit;
}

void UnitsService::drive(int unit, const FadePlan& plan, Owner owner) {
  Driven& driven = units_[static_cast<std::size_t>(unit)].driven;
  if (driven.running) {
    // A command that waited for the one in flight and never began is
    // replaced before it was heard of.
    if (driven.hasNext && driven.next.follower) {
      FadeEnd end;
      end.how = FadeEnd::How::Replaced;
      end.to = plan.to;
      end.confirmed = engine_->confirmed(unit);
      end.replacedBy = owner.from;
      driven.next.follower->fadeEnded(driven.next.position, end);
    }
    driven.next = std::move(owner);
    driven.hasNext = true;
  } else {
    driven.owner = std::move(owner);
  }
  driven.running = true;
  engine_->startFade(unit, plan);
}

void UnitsService::stopFades(const FadeFollower* follower) {
  for (std::size_t unit = 0; unit < units_.size(); ++unit) {
    Driven& driven = units_[unit].driven;
    FadeEnd stopped;
    stopped.how = FadeEnd::How::Stopped;
    stopped.confirmed = engine_->confirmed(static_cast<int>(unit));
    if (driven.hasNext && driven.next.follower.get() == follower) {
      driven.next.follower->fadeEnded(driven.next.position, stopped);
      driven.next.follower = nullptr;
    }
    if (driven.owner.follower.get() != follower)
      continue;
    if (driven.hasNext) {
      // A newer command takes the unit over once its command in flight
      // ends: that one is not stopped, and this follower hears no more.
      driven.owner.follower->fadeEnded(driven.owner.position, stopped);
      driven.owner.follower = nullptr;
    } else {
      engine_->stop(static_cast<int>(unit));
    }
  }
}

void UnitsService::settleStreams() {
  const std::int64_t nowUs = monotonicUs();
  for (std::size_t unit = 0; unit < units_.size(); ++unit) {
    if (units_[unit].settleUs == 0 || units_[unit].settleUs > nowUs)
      continue;
    units_[unit].settleUs = 0;
    notify(static_cast<int>(unit), true);
  }
}

void UnitsService::commandEnded(int unit, int level, const CommandResult& result,
                                std::int64_t beganUs) {
  ServedUnit& served = units_[static_cast<std::size_t>(unit)];
  const Owner& owner = served.driven.owner;
  if (owner.follower)
    owner.follower->commandEnded(owner.position, level, result, beganUs);
  if (!result.confirmed())
    return;  // a step between the first and the last is not tried again: its fade goes on
  // The follower heard the command's own level (a byte, for a fade in
  // bytes); the service keeps the level in the user's scale.
  const ConfirmedLevel& confirmed = engine_->confirmed(unit);
  bool changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    UnitState& state = served.state;
    // A blink's level is no news, but the end of a problem is.
    changed = (state.level != confirmed.level && !owner.blink) || !state.problem.empty();
    state.level = confirmed.level;
    state.rememberedLevel = -1;
    state.rememberedMs = 0;
    state.sent = confirmed.sent;
    state.problem.clear();
    const std::int64_t nowMs = wallClockMs();
    served.confirmedMs = nowMs;
    // A fade's progress is remembered as it goes, so that a kill loses
    // about a second of it; its end is remembered at fadeEnded().
    writer_.remember(served.key, {state.level, nowMs, state.lastOn, state.sent}, true);
  }
  // The service's own commands are told at their end, if at all.
  if (owner.quiet)
    served.untold = served.untold || changed;
  else if (changed)
    notify(unit, false);
}

void UnitsService::fadeEnded(int unit, const FadeEnd& end) {
  if (end.how == FadeEnd::How::Replaced) {
    handOver(unit, end);
    return;
  }
  Driven& driven = units_[static_cast<std::size_t>(unit)].driven;
  const bool quiet = driven.owner.quiet;
  tellEnd(unit, end, quiet, keepEnd(unit, end, quiet));
  const Owner owner = std::move(driven.owner);
  driven.owner = Owner();
  driven.running = false;
  // A halted service's clients hear nothing more: to them it went away.
  if (owner.follower && !shuttingDown_)
    owner.follower->fadeEnded(owner.position, end);
}

void UnitsService::handOver(int unit, const FadeEnd& end) {
  // The new command goes on from here, and answers to its own owner.
  Driven& driven = units_[static_cast<std::size_t>(unit)].driven;
  if (driven.owner.follower) {
    FadeEnd told = end;
    told.replacedBy = driven.next.from;
    driven.owner.follower->fadeEnded(driven.owner.position, told);
  }
  driven.owner = std::move(driven.next);
  driven.next = Owner();
  driven.hasNext = false;
}

bool UnitsService::keepEnd(int unit, const FadeEnd& end, bool quiet) {
  ServedUnit& served = units_[static_cast<std::size_t>(unit)];
  const bool failed = end.how == FadeEnd::How::NotStarted || end.how == FadeEnd::How::NotConfirmed;
  bool problemChanged = false;
  bool changed = served.untold;
  served.untold = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (end.how == FadeEnd::How::Confirmed) {
      served.state.lastOn = end.confirmed.lastOn;
    } else if (failed) {
      const char* problem = end.lookUpFailure.empty() ? problemOf(end.last) : kProblemNoAddress;
      problemChanged = served.state.problem != problem;
      changed = changed || problemChanged;
      served.state.problem = problem;
    }
  }
  // The service's own tries say a failure once, not at every retry.
  if (failed && (!quiet || problemChanged))
    report(unit, failureVerdict(end));
  // A refresh that changed nothing only moves the level's time on, which
  // restore_within reads: it waits for a fade step's pause.
  if (end.confirmed.atMs > 0)
    writer_.remember(served.key, {end.confirmed.level, end.confirmed.atMs, end.confirmed.lastOn,
                                  end.confirmed.sent},
                     quiet && !changed);
  // What it is owed: a failed command's target, to be tried again. A flash's
  // blinks owe nothing; its end does.
  if (!quiet)
    served.owed = failed ? end.to : end.confirmed.level;
  if (served.refresh.on() && served.flash.nextUs == 0 && !shuttingDown_) {
    const std::int64_t nowUs = monotonicUs();
    served.refreshDueUs = failed ? served.refresh.afterFailed(nowUs)
                                 : served.refresh.afterConfirmed(nowUs);
  }
  return changed;
}

void UnitsService::tellEnd(int unit, const FadeEnd& end, bool quiet, bool changed) {
  if (quiet) {
    if (changed)
      notify(unit, true);
    return;
  }
  // A stopped service tells its listeners nothing more; a stopped client's
  // fade ends as any other. A console's level is a step of the console's
  // own fade: its end is told once the stream settles (a failure at once).
  std::int64_t& settleUs = units_[static_cast<std::size_t>(unit)].settleUs;
  if (settleUs != 0 && end.how == FadeEnd::How::Confirmed) {
    settleUs = monotonicUs() + units_[static_cast<std::size_t>(unit)].settleForUs;
  } else if (end.how != FadeEnd::How::Stopped || !shuttingDown_) {
    settleUs = 0;
    notify(unit, true);
  }
}

void UnitsService::notify(int unit, bool commandEnded) {
  if (static_cast<std::size_t>(unit) >= file_.units.size())
    return;  // outside the file: the front ends show the file's units alone
  UnitState state;
  std::vector<std::pair<int, int>> groups;  // (group, level) to tell of
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state = units_[static_cast<std::size_t>(unit)].state;
    for (std::size_t group = 0; group < file_.groups.size(); ++group) {
      const std::vector<int>& members = file_.groups[group].members;
      if (std::find(members.begin(), members.end(), unit) == members.end())
        continue;
      const int level = levelOfGroup(static_cast<int>(group));
      if (level != groupLevels_[group] || commandEnded)
        groups.emplace_back(static_cast<int>(group), level);
      groupLevels_[group] = level;
    }
  }
  for (ServiceListener* listener : listeners_)
    listener->unitChanged(unit, state, commandEnded);
  for (const auto& [group, level] : groups)
    for (ServiceListener* listener : listeners_)
      listener->groupChanged(group, level, commandEnded);
}

void UnitsService::report(int unit, const std::string& text) {
  std::fprintf(stderr, "vantreld: %s: %s\n", units_[static_cast<std::size_t>(unit)].name.c_str(),
               text.c_str());
}
