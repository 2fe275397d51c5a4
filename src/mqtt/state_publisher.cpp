#include "mqtt/state_publisher.hpp"

#include <nlohmann/json.hpp>

#include "common/platform.hpp"

namespace {

constexpr std::int64_t kStateEveryUs = 1000000;  // during a fade, at most one state a second

}  // namespace

std::string lightState(int level) {
  // Home Assistant's unknown: a level -1 as a brightness would be read as
  // one, and OFF would be a guess.
  if (level < 0)
    return nlohmann::ordered_json{{"state", nullptr}}.dump();
  // Keys in the order people read them.
  const nlohmann::ordered_json state = {
      {"state", level > 0 ? "ON" : "OFF"}, {"brightness", level}, {"color_mode", "brightness"}};
  return state.dump();
}

StatePublisher::StatePublisher(const UnitsFile& file, const MqttTopics& topics)
    : file_(file),
      topics_(topics),
      units_(file.units.size()),
      groups_(file.groups.size()),
      schedules_(file.schedules.size()) {}

StatePublisher::Published& StatePublisher::last(Kind kind, std::size_t index) {
  return kind == Kind::Unit ? units_[index] : kind == Kind::Group ? groups_[index] : schedules_[index];
}

bool StatePublisher::note(Kind kind, std::size_t index, int level, Why why) {
  const std::int64_t nowUs = monotonicUs();
  std::lock_guard<std::mutex> lock(mutex_);
  Published& last = this->last(kind, index);
  last.toldLevel = level;
  last.toldAt = ++told_;
  // Most steps of a fade stop here: the service's thread is the caller.
  if (why == Why::Change && last.atUs != 0 && nowUs - last.atUs < kStateEveryUs)
    return false;
  // A state's text is its level's alone: the levels compare as the texts would.
  const bool repeated = last.level == level;
  switch (why) {
    case Why::Change:
      last.duringCommand = true;
      break;
    case Why::End: {
      const bool sent = last.duringCommand && repeated;
      last.duringCommand = false;
      if (sent)
        return false;
      break;
    }
    case Why::GroupEnd:
      // It hears of each member's end: its state goes out once it changed.
      last.duringCommand = false;
      if (repeated)
        return false;
      break;
  }
  const bool wasEmpty = queued_.empty();
  queue(kind, index, level, nowUs);
  return wasEmpty && !queued_.empty();
}

bool StatePublisher::noteSchedule(std::size_t index, bool on) {
  const std::int64_t nowUs = monotonicUs();
  std::lock_guard<std::mutex> lock(mutex_);
  Published& last = schedules_[index];
  last.toldLevel = on ? 1 : 0;
  last.toldAt = ++told_;
  // Its next firing changes at each: the state only when it was switched.
  if (last.level == last.toldLevel)
    return false;
  const bool wasEmpty = queued_.empty();
  queue(Kind::Schedule, index, last.toldLevel, nowUs);
  return wasEmpty && !queued_.empty();
}

std::uint64_t StatePublisher::told() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return told_;
}

void StatePublisher::queueAll(const ServiceSnapshot& snapshot, std::uint64_t since) {
  const std::int64_t nowUs = monotonicUs();
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  // A level told after the snapshot began would otherwise be overtaken by
  // the snapshot's older one, queued after it.
  const auto levelOf = [since](const Published& last, int snapshotLevel) {
    return last.toldAt > since ? last.toldLevel : snapshotLevel;
  };
  for (std::size_t unit = 0; unit < snapshot.units.size() && unit < units_.size(); ++unit) {
    queue(Kind::Unit, unit, levelOf(units_[unit], snapshot.units[unit].state.level), nowUs);
  }
  for (std::size_t group = 0; group < snapshot.groups.size() && group < groups_.size(); ++group) {
    queue(Kind::Group, group, levelOf(groups_[group], snapshot.groups[group].level), nowUs);
  }
  for (std::size_t schedule = 0; schedule < snapshot.schedules.size() && schedule < schedules_.size();
       ++schedule) {
    queue(Kind::Schedule, schedule, levelOf(schedules_[schedule], snapshot.schedules[schedule].on ? 1 : 0),
          nowUs);
  }
}

void StatePublisher::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  queued_.clear();
}

void StatePublisher::queue(Kind kind, std::size_t index, int level, std::int64_t nowUs) {
  Published& last = this->last(kind, index);
  last.level = level;
  last.atUs = nowUs;
  if (open_)
    queued_.push_back({kind, index, level});
}

void StatePublisher::send(mosquitto* client) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sending_.swap(queued_);
  }
  for (const Queued& state : sending_) {
    if (state.kind == Kind::Schedule)
      publishRetained(client, topics_.schedule(file_.schedules[state.index].name, "state"),
                      state.level > 0 ? "ON" : "OFF");
    else
      publishRetained(client,
                      state.kind == Kind::Unit ? topics_.unit(file_.units[state.index].name, "state")
                                               : topics_.group(file_.groups[state.index].name, "state"),
                      lightState(state.level));
  }
  sending_.clear();
}
