// The units service's core against units served on 127.0.0.1: commands from
// another thread reach the units, what they confirm is told, kept and
// remembered, and a failing unit keeps its confirmed level.

#include "service/units_service.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/local_ports.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "units/remembered_levels.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Told {
  bool group;
  int index;
  int level;
  std::string problem;
  bool ended;
};

class Recorder : public ServiceListener {
 public:
  void unitChanged(int unit, const UnitState& state, bool ended) override {
    add({false, unit, state.level, state.problem, ended});
  }
  void groupChanged(int group, int level, bool ended) override {
    add({true, group, level, "", ended});
  }
  /// Waits (10 s at most) until `count` unit commands have ended.
  std::vector<Told> awaitEnds(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return ends_ >= count; });
    return told_;
  }
  /// Waits (10 s at most) until a unit is told of `level`.
  void awaitLevel(int level) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] {
      for (const Told& told : told_)
        if (!told.group && told.level == level)
          return true;
      return false;
    });
  }

 private:
  void add(const Told& told) {
    std::lock_guard<std::mutex> lock(mutex_);
    told_.push_back(told);
    ends_ += !told.group && told.ended;
    arrived_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Told> told_;
  int ends_ = 0;
};

UnitsFile unitsOn(const std::vector<std::string>& ports) {
  UnitsFile file;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    file.units.push_back({"u" + std::to_string(i), "127.0.0.1",
                          static_cast<std::uint16_t>(std::stoi(ports[i])), 1});
    file.groups.resize(1);
    file.groups[0].name = "all-of-them";
    file.groups[0].members.push_back(static_cast<int>(i));
  }
  return file;
}

LightCommand brightness(int level) {
  LightCommand command;
  command.brightness = level;
  return command;
}

UnitCommand toUnit(int unit, const LightCommand& light, std::int64_t transitionUs = 0) {
  UnitCommand command;
  command.units = {unit};
  command.light = light;
  command.over(transitionUs);
  command.from = "MQTT";
  return command;
}

// A console's channel: one of a stream, settled after a second.
UnitCommand streamed(int unit, int level) {
  UnitCommand command;
  command.units = {unit};
  command.levels = {level};
  command.settleUs = 1000000;
  return command;
}

TEST(UnitsService, ConfirmsTellsAndRemembersAUnitsLevel) {
  TempDir dir;
  const std::string levels = dir.path("levels");
  ServingUnit unit;
  Recorder recorder;
  UnitsService service(unitsOn({unit.port()}), levels);
  service.addListener(recorder);
  std::string problem;
  ASSERT_TRUE(service.start(problem)) << problem;
  LightCommand on;
  on.state = LightCommand::Switch::On;
  service.submit(toUnit(0, on));  // never on before: 255
  recorder.awaitEnds(1);
  service.submit(toUnit(0, brightness(0)));
  recorder.awaitEnds(2);
  service.submit(toUnit(0, on));  // back to the last level above 0
  const std::vector<Told> told = recorder.awaitEnds(3);
  service.stop();
  unit.finish();

  EXPECT_EQ(unit.levels(), (std::vector<int>{255, 0, 255}));
  ASSERT_GE(told.size(), 2u);
  EXPECT_FALSE(told[0].group);
  EXPECT_EQ(told[0].level, 255);
  EXPECT_TRUE(told[1].group);  // its group, after it
  EXPECT_EQ(told[1].level, 255);
  const ServiceSnapshot snapshot = service.snapshot();
  EXPECT_EQ(snapshot.units.at(0).state.level, 255);
  EXPECT_EQ(snapshot.units.at(0).state.lastOn, 255);
  std::string warning;
  const RememberedLevel remembered = RememberedLevels::read(levels, warning).find(
      {"127.0.0.1", static_cast<std::uint16_t>(std::stoi(unit.port())), 1});
  EXPECT_EQ(remembered.level, 255) << warning;
  EXPECT_EQ(remembered.lastOn, 255);
}

TEST(UnitsService, ANewCommandReplacesARunningFadeAndARefusedUnitKeepsItsLevel) {
  TempDir dir;
  ServingUnit fading;
  ServingUnit other;
  const LocalPort refusing;
  const std::string levels = dir.path("levels");
  const UnitsFile file = unitsOn({fading.port(), other.port(), refusing.port()});
  std::string warning;
  ASSERT_TRUE(rememberLevels(levels,
                             {{{"127.0.0.1", file.units[0].port, 1}, {0, 1, -1}},
                              {{"127.0.0.1", file.units[1].port, 1}, {100, 1, 100}},
                              {{"127.0.0.1", file.units[2].port, 1}, {40, 1, 40}}},
                             warning));
  Recorder recorder;
  UnitsService service(file, levels);
  service.addListener(recorder);
  std::string problem;
  ASSERT_TRUE(service.start(problem));
  EXPECT_EQ(service.snapshot().groups.at(0).level, 70);  // (100 + 40) / 2, the 0 left out

  service.submit(toUnit(0, brightness(255), 20000000));  // 20 s, far from done
  service.submit(toUnit(1, brightness(0), 20000000));
  for (int i = 0; i < 500 && fading.levels().size() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  service.submit(toUnit(0, brightness(3)));
  service.submit(toUnit(2, brightness(9)));
  recorder.awaitEnds(2);
  const ServiceSnapshot snapshot = service.snapshot();
  const Clock::time_point stopping = Clock::now();
  service.stop();
  const auto stopTook = Clock::now() - stopping;
  fading.finish();
  other.finish();

  EXPECT_EQ(fading.levels().back(), 3);
  EXPECT_EQ(snapshot.units[0].state.level, 3);
  EXPECT_EQ(snapshot.units[0].state.problem, "");
  // The other fade went on, undisturbed, until the stop.
  EXPECT_GT(other.levels().size(), 1u);
  EXPECT_NE(other.levels().back(), 0);
  EXPECT_EQ(snapshot.units[2].state.level, 40);
  EXPECT_EQ(snapshot.units[2].state.problem, "refused");
  EXPECT_LT(stopTook, std::chrono::seconds(1));
  // Unit 1 keeps the level it confirmed when stopped, remembered.
  const RememberedLevel kept = RememberedLevels::read(levels, warning).find(
      {"127.0.0.1", file.units[1].port, 1});
  EXPECT_EQ(kept.level, other.levels().back());
  EXPECT_EQ(service.snapshot().units[1].state.level, other.levels().back());
}

TEST(GroupLevel, IsTheMeanOfTheMembersThatAreOnRoundedDown) {
  EXPECT_EQ(groupLevel({}), -1);
  EXPECT_EQ(groupLevel({-1, -1}), -1);
  EXPECT_EQ(groupLevel({0, -1}), 0);
  EXPECT_EQ(groupLevel({0, 100, 51, -1}), 75);
  EXPECT_EQ(groupLevel({255}), 255);
}

}  // namespace

namespace {

TEST(UnitsService, AConsolesLevelsAreChangesUntilTheStreamSettles) {
  TempDir dir;
  ServingUnit unit;
  Recorder recorder;
  UnitsService service(unitsOn({unit.port()}), dir.path("levels"));
  service.addListener(recorder);
  std::string problem;
  ASSERT_TRUE(service.start(problem)) << problem;
  for (const int level : {10, 20}) {
    service.submit(streamed(0, level));
    recorder.awaitLevel(level);
  }
  service.submit(streamed(0, 30));
  const std::vector<Told> told = recorder.awaitEnds(1);
  service.stop();
  unit.finish();

  EXPECT_EQ(unit.levels(), (std::vector<int>{10, 20, 30}));
  std::vector<Told> ends;
  for (const Told& entry : told)
    if (!entry.group && entry.ended)
      ends.push_back(entry);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].level, 30);
  // Every confirmed level before it was told as a change.
  for (const Told& entry : told) {
    if (!entry.group && entry.level != 30) {
      EXPECT_FALSE(entry.ended) << entry.level;
    }
  }
}

}  // namespace

// The core through its one command shape: whatever a command names and
// whoever gave it, it replaces a running fade, whose own follower hears
// who took over; a follower hears its command alone; units by key outside
// the file are driven, remembered and told to no front end.
namespace {

class Following : public FadeFollower {
 public:
  void accepted(const std::vector<int>& known) override {
    std::lock_guard<std::mutex> lock(mutex_);
    known_ = known;
  }
  void commandEnded(int position, int level, const CommandResult& result, std::int64_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (result.confirmed())
      levels_.emplace_back(position, level);
    arrived_.notify_all();
  }
  void fadeEnded(int position, const FadeEnd& end) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ends_.emplace_back(position, end);
    arrived_.notify_all();
  }
  /// Waits (10 s at most) for `count` ends, or for `count` confirmed levels.
  std::vector<std::pair<int, FadeEnd>> awaitEnds(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return ends_.size() >= count; });
    return ends_;
  }
  void awaitLevels(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return levels_.size() >= count; });
  }
  std::vector<int> known() {
    std::lock_guard<std::mutex> lock(mutex_);
    return known_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<int> known_;
  std::vector<std::pair<int, int>> levels_;
  std::vector<std::pair<int, FadeEnd>> ends_;
};

TEST(UnitCommands, EachKindOfTargetReplacesAFollowedFadeAndNamesWhoGaveIt) {
  TempDir dir;
  ServingUnit unit;
  UnitsFile file = unitsOn({unit.port()});
  file.scenes.push_back({"open", {}, {{0, 7}}});
  UnitsService service(file, dir.path("levels"));
  std::string problem;
  ASSERT_TRUE(service.start(problem)) << problem;
  const UnitKey key{"127.0.0.1", file.units[0].port, 1};
  std::vector<UnitCommand> newer(4);
  newer[0].units = {0};
  newer[1].group = 0;
  newer[2].scene = 0;
  newer[3].keyed = {{key, "u0"}};
  const char* const from[] = {"MQTT", "the control page", "a lighting console", "another vantrel"};
  {
    // A known level first: a fade from a level not known is one command.
    auto known = std::make_shared<Following>();
    UnitCommand first = toUnit(0, brightness(100));
    first.follower = known;
    service.submit(first);
    known->awaitEnds(1);
  }
  for (std::size_t i = 0; i < newer.size(); ++i) {
    // A fade of 20 s, far from done, followed as a tool's own.
    auto following = std::make_shared<Following>();
    UnitCommand fade = toUnit(0, brightness(i % 2 == 0 ? 255 : 0), 20000000);
    fade.follower = following;
    service.submit(fade);
    following->awaitLevels(1);
    newer[i].light = brightness(static_cast<int>(i) + 1);
    newer[i].from = from[i];
    service.submit(newer[i]);
    const auto ends = following->awaitEnds(1);
    ASSERT_EQ(ends.size(), 1u) << from[i];
    EXPECT_EQ(ends[0].second.how, FadeEnd::How::Replaced) << from[i];
    EXPECT_EQ(ends[0].second.replacedBy, from[i]);
  }
  service.stop();
  unit.finish();
  // The scene's own level, not the light command's.
  EXPECT_EQ(unit.levels().back(), 4);
  EXPECT_NE(std::find(unit.levels().begin(), unit.levels().end(), 7), unit.levels().end());
}

TEST(UnitCommands, AFollowerHearsItsCommandAloneAndUnitsByKeyOutsideTheFileAreDriven) {
  TempDir dir;
  ServingUnit inFile;
  ServingUnit outside;
  Recorder recorder;
  UnitsService service(unitsOn({inFile.port()}), dir.path("levels"));
  service.addListener(recorder);
  std::string problem;
  ASSERT_TRUE(service.start(problem)) << problem;
  service.submit(toUnit(0, brightness(50)));
  recorder.awaitEnds(1);

  auto following = std::make_shared<Following>();
  UnitCommand command;
  const UnitKey away{"127.0.0.1", static_cast<std::uint16_t>(std::stoi(outside.port())), 1};
  command.keyed = {{{"127.0.0.1", static_cast<std::uint16_t>(std::stoi(inFile.port())), 1}, "u0"},
                   {away, ""}};
  command.levels = {UnitCommand::kOn, 9};
  command.from = "another vantrel";
  command.follower = following;
  service.submit(command);
  const auto ends = following->awaitEnds(2);
  recorder.awaitEnds(2);
  const std::vector<KeyedLevels> levels = service.levelsOf({away});
  service.stop();
  inFile.finish();
  outside.finish();

  EXPECT_EQ(following->known(), (std::vector<int>{50, -1}));
  ASSERT_EQ(ends.size(), 2u);
  for (const auto& [position, end] : ends)
    EXPECT_EQ(end.how, FadeEnd::How::Confirmed) << position;
  EXPECT_EQ(inFile.levels(), (std::vector<int>{50, 50}));  // ON: back to its last level
  EXPECT_EQ(outside.levels(), (std::vector<int>{9}));
  EXPECT_EQ(levels.at(0).confirmed.level, 9);
  // The front ends hear of the file's unit alone.
  for (const Told& told : recorder.awaitEnds(2))
    EXPECT_EQ(told.index, 0);
}

}  // namespace

namespace {

// What the service tells of its schedules, as "INDEX on|off NEXT|-".
struct ScheduleEar : ServiceListener {
  void unitChanged(int, const UnitState&, bool) override {}
  void groupChanged(int, int, bool) override {}
  void scheduleChanged(int schedule, const ServiceSnapshot::Schedule& state) override {
    std::lock_guard<std::mutex> lock(mutex);
    told.push_back(std::to_string(schedule) + (state.on ? " on " : " off ") +
                   (state.nextMs ? std::to_string(*state.nextMs) : "-"));
  }
  std::mutex mutex;
  std::vector<std::string> told;
};

// Waits (5 s at most) until the snapshot's first schedule is `on`.
ServiceSnapshot::Schedule awaitSchedule(const UnitsService& service, bool on) {
  for (int i = 0; i < 500; ++i) {
    const ServiceSnapshot snapshot = service.snapshot();
    if (snapshot.schedules.at(0).on == on)
      return snapshot.schedules.at(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "the schedule never turned " << (on ? "on" : "off");
  return {};
}

TEST(UnitsService, ASwitchedScheduleHasNoNextTimeUntilOnAgainAndARestartKeepsIt) {
  TempDir dir;
  const std::string levels = dir.path("levels");
  ServingUnit unit;
  UnitsFile file = unitsOn({unit.port()});
  Schedule daily;
  daily.name = "daily";
  daily.at.minute = 3 * 60;
  daily.levels = {{0, 10}};
  file.schedules = {daily};
  {
    UnitsService service(file, levels);
    ScheduleEar ear;
    service.addListener(ear);
    std::string problem;
    ASSERT_TRUE(service.start(problem)) << problem;
    const ServiceSnapshot::Schedule first = awaitSchedule(service, true);
    ASSERT_TRUE(first.nextMs);
    EXPECT_GT(*first.nextMs, 0);
    service.switchSchedule(0, false);
    EXPECT_FALSE(awaitSchedule(service, false).nextMs);
    service.stop();
    // Told once, as the snapshot says.
    EXPECT_EQ(ear.told, (std::vector<std::string>{"0 off -"}));
  }
  std::string warning;
  EXPECT_FALSE(readScheduleRecord(scheduleRecordPath(levels), warning).at("daily").on) << warning;
  UnitsService again(file, levels);
  std::string problem;
  ASSERT_TRUE(again.start(problem)) << problem;
  EXPECT_FALSE(again.snapshot().schedules.at(0).on);
  again.switchSchedule(0, true);
  EXPECT_TRUE(awaitSchedule(again, true).nextMs);
  again.stop();
  EXPECT_TRUE(readScheduleRecord(scheduleRecordPath(levels), warning).at("daily").on);
  EXPECT_EQ(unit.levels(), std::vector<int>{});  // nothing was due
}

}  // namespace
