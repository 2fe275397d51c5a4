// The service's schedules: fired by the wall clock, caught up at start and when the clock is
// set, remembered before their commands. On the service's thread, as UnitsService's other
// commands.

#include "service/units_service.hpp"

#include <algorithm>
#include <cstdio>

#include "common/files.hpp"
#include "common/platform.hpp"
#include "common/wall_clock.hpp"
#include "schedules/schedule_times.hpp"
#include "units/saved_scenes.hpp"
#include "units/scene_saving.hpp"

void UnitsService::checkSchedules(bool catchingUp) {
  const std::int64_t nowMs = wallClockMs();
  std::vector<bool> on;
  const auto lastFired = [&] {
    std::vector<std::optional<std::int64_t>> last;
    on.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Schedule& schedule : file_.schedules) {
      const ScheduleMemory& memory = scheduleRecord_.at(schedule.name);
      last.push_back(memory.lastFiredMs);
      on.push_back(memory.on);
    }
    return last;
  };
  if (catchingUp) {
    const auto savedUnits = [&](const std::string& name) {
      std::vector<int> units;
      SavedScene scene;
      std::string skipped;
      if (findSavedScene(name, scene))
        for (const auto& unitLevel : savedSceneLevels(file_, scene, skipped))
          units.push_back(unitLevel.first);
      return units;
    };
    const std::vector<std::optional<std::int64_t>> before = lastFired();
    // What a schedule switched off misses is not missed, and takes no unit from another.
    for (const CatchUp& late : catchUp(file_, before, nowMs, file_.catchUpMs, savedUnits, on)) {
      if (late.units.empty()) {
        fireSchedule(late.schedule, late.firedAtMs, nullptr, true, late.intoOverUs);
        continue;
      }
      // Newest wins: a unit confirmed a level after the missed firing (a tool run direct, or a
      // command before a restart) keeps it.
      std::vector<int> units;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const int unit : late.units) {
          const ServedUnit& served = units_[static_cast<std::size_t>(unit)];
          if (std::max(served.confirmedMs, served.state.rememberedMs) <= late.firedAtMs)
            units.push_back(unit);
        }
      }
      fireSchedule(late.schedule, late.firedAtMs, &units, true, late.intoOverUs);
    }
  }
  const std::vector<std::optional<std::int64_t>> last = lastFired();
  for (std::size_t i = 0; i < file_.schedules.size(); ++i) {
    const std::optional<std::int64_t> due = nextFiringMs_[i];
    if (on[i] && due && *due <= nowMs && (!last[i] || *last[i] < *due))
      fireSchedule(static_cast<int>(i), *due, nullptr, false, 0);
  }
  planSchedules(catchingUp);
}

void UnitsService::planSchedules(bool all) {
  const std::int64_t nowMs = wallClockMs();
  std::vector<ScheduleMemory> memories;
  std::vector<std::optional<std::int64_t>> next;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Schedule& schedule : file_.schedules)
      memories.push_back(scheduleRecord_.at(schedule.name));
    next = nextFiringMs_;
  }
  // A time of the sun takes a few milliseconds: only the times that passed or fired are computed
  // anew, unless the clock was set. No lock is held meanwhile.
  for (std::size_t i = 0; i < file_.schedules.size(); ++i) {
    const ScheduleMemory& memory = memories[i];
    const bool stands = next[i] && *next[i] > nowMs &&
                        (!memory.lastFiredMs || *memory.lastFiredMs < *next[i]);
    if (!memory.on)
      next[i] = std::nullopt;
    else if (all || !stands)
      next[i] = nextDue(file_.schedules[i], file_.location, memory.lastFiredMs, nowMs);
  }
  std::vector<std::optional<std::int64_t>> before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before.swap(nextFiringMs_);
    nextFiringMs_ = next;
  }
  for (std::size_t i = 0; i < next.size(); ++i)
    if (next[i] != before[i])
      tellSchedule(static_cast<int>(i));
  // The wait is on the monotonic clock: a change of the wall clock is told apart (ClockChange).
  std::int64_t firstMs = INT64_MAX;
  for (const std::optional<std::int64_t>& at : next)
    if (at)
      firstMs = std::min(firstMs, *at);
  scheduleDueUs_ = firstMs == INT64_MAX
                       ? INT64_MAX
                       : monotonicUs() + std::max<std::int64_t>(firstMs - nowMs, 0) * 1000;
}

void UnitsService::tellSchedule(int schedule) {
  ServiceSnapshot::Schedule state;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Schedule& file = file_.schedules[static_cast<std::size_t>(schedule)];
    const ScheduleMemory& memory = scheduleRecord_.at(file.name);
    state = {&file, memory.on, nextFiringMs_[static_cast<std::size_t>(schedule)], memory.lastFiredMs};
  }
  for (ServiceListener* listener : listeners_)
    listener->scheduleChanged(schedule, state);
}

void UnitsService::rememberSchedules() {
  ScheduleRecord record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record = scheduleRecord_;
  }
  std::string reason;
  if (!writeScheduleRecord(scheduleRecordPath(levelsPath_), record, reason))
    std::fprintf(stderr, "vantreld: %s: a restart may fire a schedule again\n", reason.c_str());
}

void UnitsService::fireSchedule(int index, std::int64_t firedAtMs, const std::vector<int>* only, bool late,
                                std::int64_t intoOverUs) {
  const Schedule& schedule = file_.schedules[static_cast<std::size_t>(index)];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scheduleRecord_[schedule.name].lastFiredMs = firedAtMs;
  }
  rememberSchedules();
  const std::string what = "schedule " + quotedName(schedule.name);
  UnitCommand command;
  command.from = "the " + what;
  const auto wanted = [&](int unit) {
    return only == nullptr || std::find(only->begin(), only->end(), unit) != only->end();
  };
  const auto& levels = schedule.scene >= 0 ? file_.scenes[static_cast<std::size_t>(schedule.scene)].levels
                                           : schedule.levels;
  for (const auto& [unit, level] : levels)
    if (wanted(unit)) {
      command.units.push_back(unit);
      command.levels.push_back(level);
    }
  if (!schedule.savedScene.empty()) {
    SavedScene scene;
    if (!findSavedScene(schedule.savedScene, scene)) {
      std::fprintf(stderr, "vantreld: %s: no scene %s is saved: nothing set\n", what.c_str(),
                   quotedName(schedule.savedScene).c_str());
      return;
    }
    std::string skipped;
    for (const auto& [unit, level] : savedSceneLevels(file_, scene, skipped))
      if (wanted(unit)) {
        command.units.push_back(unit);
        command.levels.push_back(level);
      }
    if (!skipped.empty())
      std::fprintf(stderr, "vantreld: %s: %s\n", what.c_str(), skipped.c_str());
  }
  if (command.levels.empty())
    return;
  if (schedule.overUs > 0 && intoOverUs < schedule.overUs) {
    command.over(schedule.overUs);
    // Joined where it would be now, to end when it would have.
    if (intoOverUs > 0)
      command.plan.zeroUs = monotonicUs() - intoOverUs;
  }
  if (scheduleNotes_) {
    std::string line = what + (late ? " caught up, missed at " : " fired at ") + localTimeText(firedAtMs);
    if (late && schedule.overUs > 0)
      line += intoOverUs < schedule.overUs
                  ? ", joining its fade " + std::to_string(intoOverUs / 1000000) + "s in"
                  : ", its fade over";
    scheduleNotes_(line);
  }
  carryOut(command);
}
