// The units service's core against units served on 127.0.0.1: commands from
// another thread reach the units, what they confirm is told, kept and
// remembered, and a failing unit keeps its confirmed level.

#include "service/units_service.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
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
  service.submitUnit(0, on, 0, CommandSource::Mqtt);  // never on before: 255
  recorder.awaitEnds(1);
  service.submitUnit(0, brightness(0), 0, CommandSource::Mqtt);
  recorder.awaitEnds(2);
  service.submitUnit(0, on, 0, CommandSource::Mqtt);  // back to the last level above 0
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

  service.submitUnit(0, brightness(255), 20000000, CommandSource::Mqtt);  // 20 s, far from done
  service.submitUnit(1, brightness(0), 20000000, CommandSource::Mqtt);
  for (int i = 0; i < 500 && fading.levels().size() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  service.submitUnit(0, brightness(3), 0, CommandSource::Mqtt);
  service.submitUnit(2, brightness(9), 0, CommandSource::Mqtt);
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
    service.submitLevels({{0, level}});
    recorder.awaitLevel(level);
  }
  service.submitLevels({{0, 30}});
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
