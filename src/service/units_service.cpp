#include "service/units_service.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/platform.hpp"
#include "engine/fade_timing.hpp"
#include "engine/verdicts.hpp"
#include "link/socket_wait.hpp"
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

UnitKey keyOf(const Unit& unit) { return {unit.address, unit.port, unit.type}; }

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

UnitsService::UnitsService(const UnitsFile& file, std::string levelsPath)
    : file_(file), writer_(levelsPath) {
  std::string warning;
  const RememberedLevels remembered = RememberedLevels::read(levelsPath, warning);
  if (!warning.empty())
    std::fprintf(stderr, "vantreld: %s\n", warning.c_str());
  const FadeTiming defaults;
  EngineListener& ears = *this;
  engine_ = std::make_unique<FadeEngine>(defaults.timeoutUs, defaults.tries, ears);
  // Host names are looked up by the engine at each command until one
  // resolves, so that a name that fails at start costs that unit alone.
  for (const Unit& unit : file_.units) {
    const int index = engine_->addUnit({unit.address, unit.port, unit.type});
    const RememberedLevel level = remembered.find(keyOf(unit));
    engine_->setKnownLevel(index, level.level, level.lastOn);
    states_.push_back({level.level, level.lastOn, ""});
  }
  for (std::size_t group = 0; group < file_.groups.size(); ++group)
    groupLevels_.push_back(levelOfGroup(static_cast<int>(group)));
}

UnitsService::~UnitsService() { stop(); }

void UnitsService::addListener(ServiceListener& listener) { listeners_.push_back(&listener); }

bool UnitsService::start(std::string& problem) {
  if (!wake_.ok()) {
    problem = "cannot make a pipe to wake its thread";
    return false;
  }
  thread_ = std::thread([this] {
    wakeOnTime();
    serve();
  });
  return true;
}

void UnitsService::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.signal();
  if (thread_.joinable())
    thread_.join();
  writer_.stop();
}

void UnitsService::submitUnit(int unit, const LightCommand& command, std::int64_t transitionUs) {
  submit({{unit}, command, {}, transitionUs});
}

void UnitsService::submitGroup(int group, const LightCommand& command,
                               std::int64_t transitionUs) {
  submit({file_.groups[static_cast<std::size_t>(group)].members, command, {}, transitionUs});
}

void UnitsService::submitScene(int scene, std::int64_t transitionUs) {
  Order order;
  for (const auto& [unit, level] : file_.scenes[static_cast<std::size_t>(scene)].levels) {
    order.units.push_back(unit);
    order.levels.push_back(level);
  }
  order.transitionUs = transitionUs;
  submit(std::move(order));
}

void UnitsService::submit(Order order) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    orders_.push_back(std::move(order));
  }
  wake_.signal();
}

bool UnitsService::submitCommand(Target target, int index, std::string_view payload,
                                 std::int64_t defaultTransitionUs, std::string& problem) {
  if (target == Target::Scene) {
    SceneCommand scene;
    if (!readSceneCommand(payload, scene, problem))
      return false;
    submitScene(index, scene.transitionUs >= 0 ? scene.transitionUs : defaultTransitionUs);
    return true;
  }
  LightCommand light;
  if (!readLightCommand(payload, light, problem))
    return false;
  const std::int64_t transitionUs = light.transitionUs >= 0 ? light.transitionUs : defaultTransitionUs;
  if (target == Target::Unit)
    submitUnit(index, light, transitionUs);
  else
    submitGroup(index, light, transitionUs);
  return true;
}

ServiceSnapshot UnitsService::snapshot() const {
  ServiceSnapshot snapshot;
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t unit = 0; unit < file_.units.size(); ++unit)
    snapshot.units.push_back({file_.units[unit].name, states_[unit]});
  for (std::size_t group = 0; group < file_.groups.size(); ++group) {
    ServiceSnapshot::Group entry{file_.groups[group].name, {}, levelOfGroup(static_cast<int>(group))};
    for (const int member : file_.groups[group].members)
      entry.members.push_back(file_.units[static_cast<std::size_t>(member)].name);
    snapshot.groups.push_back(std::move(entry));
  }
  for (const Scene& scene : file_.scenes)
    snapshot.scenes.push_back(scene.name);
  return snapshot;
}

int UnitsService::levelOfGroup(int group) const {
  std::vector<int> levels;
  for (const int member : file_.groups[static_cast<std::size_t>(group)].members)
    levels.push_back(states_[static_cast<std::size_t>(member)].level);
  return groupLevel(levels);
}

void UnitsService::serve() {
  std::vector<SocketWait> waits;
  for (;;) {
    waits.clear();
    engine_->addWaits(waits);
    const std::size_t wakeAt = waits.size();
    waits.push_back({wake_.handle(), true, false, false});
    const std::int64_t dueUs = engine_->nextDueUs();
    if (dueUs == INT64_MAX)
      waitForSockets(waits, kForeverUs);
    else
      waitUntil(waits, dueUs);
    const bool woken = waits[wakeAt].ready;
    engine_->advance(waits);
    if (!woken)
      continue;
    wake_.drain();
    std::deque<Order> orders;
    bool stopping;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      orders.swap(orders_);
      stopping = stopping_;
    }
    if (stopping) {
      engine_->stopAll();
      return;
    }
    for (const Order& order : orders)
      startFades(order);
  }
}

void UnitsService::startFades(const Order& order) {
  const std::int64_t zeroUs = monotonicUs();
  for (std::size_t i = 0; i < order.units.size(); ++i) {
    const int unit = order.units[i];
    int level;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      level = order.levels.empty() ? order.command.level(states_[static_cast<std::size_t>(unit)].lastOn)
                                   : order.levels[i];
    }
    FadePlan plan;
    plan.to = level;
    plan.fade = order.transitionUs > 0;
    plan.overUs = order.transitionUs;
    plan.zeroUs = zeroUs;
    engine_->startFade(unit, plan);
  }
}

void UnitsService::commandEnded(int unit, int level, const CommandResult& result, std::int64_t) {
  if (!result.confirmed())
    return;  // a step between the first and the last is not tried again: its fade goes on
  bool changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    UnitState& state = states_[static_cast<std::size_t>(unit)];
    changed = state.level != level || !state.problem.empty();
    state.level = level;
    state.problem.clear();
  }
  if (changed)
    notify(unit, false);
}

void UnitsService::fadeEnded(int unit, const FadeEnd& end) {
  const auto at = static_cast<std::size_t>(unit);
  switch (end.how) {
    case FadeEnd::How::Replaced:
      return;  // the new command goes on from here
    case FadeEnd::How::Stopped:
      break;
    case FadeEnd::How::Confirmed: {
      std::lock_guard<std::mutex> lock(mutex_);
      states_[at].lastOn = end.confirmed.lastOn;
      break;
    }
    case FadeEnd::How::NotStarted:
    case FadeEnd::How::NotConfirmed: {
      std::lock_guard<std::mutex> lock(mutex_);
      states_[at].problem = end.lookUpFailure.empty() ? problemOf(end.last) : kProblemNoAddress;
      break;
    }
  }
  if (end.how == FadeEnd::How::NotStarted || end.how == FadeEnd::How::NotConfirmed)
    report(unit, failureVerdict(end));
  if (end.confirmed.atMs > 0)
    writer_.remember(keyOf(file_.units[at]),
                     {end.confirmed.level, end.confirmed.atMs, end.confirmed.lastOn});
  if (end.how != FadeEnd::How::Stopped)
    notify(unit, true);
}

void UnitsService::notify(int unit, bool commandEnded) {
  UnitState state;
  std::vector<std::pair<int, int>> groups;  // (group, level) to tell of
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state = states_[static_cast<std::size_t>(unit)];
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
  std::fprintf(stderr, "vantreld: %s: %s\n", file_.units[static_cast<std::size_t>(unit)].name.c_str(),
               text.c_str());
}
