// The engine against units served on 127.0.0.1: fades that share a clock,
// a silent unit among good ones, a fade replaced while it runs, and host
// names looked up by a lookup the test stands in for.

#include "engine/fade_engine.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/platform.hpp"
#include "support/local_ports.hpp"
#include "support/serving_unit.hpp"

namespace {

struct Recorder : EngineListener {
  void commandEnded(int unit, int level, const CommandResult& result, std::int64_t) override {
    if (result.confirmed())
      confirmed[unit].push_back(level);
  }
  void fadeEnded(int unit, const FadeEnd& end) override { ends[unit].push_back(end); }

  std::map<int, std::vector<int>> confirmed;
  std::map<int, std::vector<FadeEnd>> ends;
};

int addLocalUnit(FadeEngine& engine, const std::string& port) {
  return engine.addUnit({"127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)), 1});
}

TEST(FadeEngine, FadesInStepWhileASilentUnitTimesOut) {
  ServingUnit up;
  ServingUnit down;
  const LocalPort silent(true);
  Recorder recorder;
  FadeEngine engine(300000, 1, recorder);
  const int a = addLocalUnit(engine, up.port());
  const int b = addLocalUnit(engine, down.port());
  const int c = addLocalUnit(engine, silent.port());
  const std::int64_t zero = monotonicUs();
  engine.startFade(a, {200, true, 0, 400000, 4, zero});
  engine.startFade(b, {55, true, 255, 400000, 4, zero});
  engine.startFade(c, {10, true, 0, 400000, 4, zero});
  const std::atomic<bool> stop{false};
  engine.run(stop);
  const std::int64_t tookUs = monotonicUs() - zero;
  up.finish();
  down.finish();

  EXPECT_EQ(up.levels(), (std::vector<int>{0, 50, 100, 150, 200}));
  EXPECT_EQ(down.levels(), (std::vector<int>{255, 205, 155, 105, 55}));
  EXPECT_EQ(recorder.ends[a].at(0).how, FadeEnd::How::Confirmed);
  EXPECT_EQ(recorder.ends[b].at(0).how, FadeEnd::How::Confirmed);
  ASSERT_EQ(recorder.ends[c].size(), 1u);
  EXPECT_EQ(recorder.ends[c][0].how, FadeEnd::How::NotStarted);
  EXPECT_EQ(recorder.ends[c][0].last.failure, LinkFailure::TimedOut);
  // The silent unit's 300 ms never stretched the others' 400 ms fade much.
  EXPECT_GE(tookUs, 400000);
  EXPECT_LT(tookUs, 3000000);
  const auto upAt = up.arrivals();
  const auto downAt = down.arrivals();
  ASSERT_EQ(upAt.size(), downAt.size());
  for (std::size_t k = 0; k < upAt.size(); ++k)
    EXPECT_LT(std::chrono::abs(upAt[k] - downAt[k]), std::chrono::milliseconds(60)) << k;
}

TEST(FadeEngine, ANewPlanReplacesARunningFadeFromTheLevelLastConfirmed) {
  ServingUnit unit;
  Recorder recorder;
  FadeEngine engine(1000000, 3, recorder);
  const int u = addLocalUnit(engine, unit.port());
  engine.setKnownLevel(u, 0);
  engine.startFade(u, {255, true, FadePlan::kFromKnown, 10000000, 10, monotonicUs()});
  const std::atomic<bool> stop{false};
  // Let the first command through, then send the unit somewhere else.
  std::vector<SocketWait> waits;
  while (recorder.confirmed[u].empty()) {
    waits.clear();
    engine.addWaits(waits);
    waitUntil(waits, engine.nextDueUs(), stop);
    engine.advance(waits);
  }
  engine.startFade(u, {40, true, FadePlan::kFromKnown, 0, 2, monotonicUs()});
  engine.run(stop);
  unit.finish();

  ASSERT_EQ(recorder.ends[u].size(), 2u);
  EXPECT_EQ(recorder.ends[u][0].how, FadeEnd::How::Replaced);
  EXPECT_EQ(recorder.ends[u][1].how, FadeEnd::How::Confirmed);
  EXPECT_EQ(recorder.ends[u][1].from, 0);
  EXPECT_EQ(unit.levels(), (std::vector<int>{0, 0, 20, 40}));
  EXPECT_EQ(engine.knownLevel(u), 40);
}

TEST(FadeEngine, AUnitWithoutAKnownLevelGoesStraightToItsTarget) {
  ServingUnit unit;
  Recorder recorder;
  FadeEngine engine(1000000, 3, recorder);
  const int u = addLocalUnit(engine, unit.port());
  engine.startFade(u, {90, true, FadePlan::kFromKnown, 1000000, 0, monotonicUs()});
  const std::atomic<bool> stop{false};
  engine.run(stop);
  unit.finish();
  EXPECT_EQ(unit.levels(), (std::vector<int>{90}));
  EXPECT_EQ(recorder.ends[u].at(0).from, -1);
}

TEST(FadeEngine, SendsLevelsThroughTheCurveAndPassesOverAByteJustConfirmed) {
  ServingUnit unit;
  Recorder recorder;
  FadeEngine engine(1000000, 3, recorder);
  const OutputCurve dali(OutputCurve::Shape::Dali, 1.0, 20, 230);
  const int u = engine.addUnit({"127.0.0.1", static_cast<std::uint16_t>(std::stoi(unit.port())), 1, dali});
  const std::atomic<bool> stop{false};
  // Levels 1 to 3 all send min, and 128 sends 27: the last step is passed over.
  engine.startFade(u, {3, true, 1, 0, 0, monotonicUs()});
  engine.run(stop);
  engine.startFade(u, {128, false, FadePlan::kFromKnown, 0, 0, monotonicUs()});
  engine.run(stop);
  unit.finish();
  EXPECT_EQ(unit.levels(), (std::vector<int>{20, 27}));
  EXPECT_EQ(recorder.confirmed[u], (std::vector<int>{1, 128}));
  ASSERT_EQ(recorder.ends[u].size(), 2u);
  EXPECT_EQ(recorder.ends[u][0].how, FadeEnd::How::Confirmed);
  EXPECT_EQ(recorder.ends[u][0].confirmed.level, 3);
  EXPECT_EQ(recorder.ends[u][0].confirmed.sent, 20);
  EXPECT_EQ(recorder.ends[u][0].confirmed.lastOn, 3);
  EXPECT_EQ(engine.confirmed(u).sent, 27);
}

TEST(FadeEngine, KeepsLastOnTheLastTargetAboveZeroThatAFadeConfirmed) {
  ServingUnit unit;
  Recorder recorder;
  FadeEngine engine(300000, 1, recorder);
  const int u = addLocalUnit(engine, unit.port());
  engine.setKnownLevel(u, 120, 200);  // as remembered
  const std::atomic<bool> stop{false};
  // A fade down to 0 passes levels above 0 and keeps the remembered one.
  engine.startFade(u, {0, true, FadePlan::kFromKnown, 0, 3, monotonicUs()});
  engine.run(stop);
  EXPECT_EQ(engine.confirmed(u).level, 0);
  EXPECT_GT(engine.confirmed(u).atMs, 0);
  EXPECT_EQ(engine.confirmed(u).lastOn, 200);
  // A fade that ends above 0 sets it, and its end reports it.
  engine.startFade(u, {90, true, FadePlan::kFromKnown, 0, 3, monotonicUs()});
  engine.run(stop);
  // One that is not confirmed (the unit no longer answers) leaves it.
  unit.finish();
  engine.startFade(u, {30, false, FadePlan::kFromKnown, 0, 0, monotonicUs()});
  engine.run(stop);

  ASSERT_EQ(recorder.ends[u].size(), 3u);
  EXPECT_EQ(recorder.ends[u][0].confirmed.lastOn, 200);
  EXPECT_EQ(recorder.ends[u][1].how, FadeEnd::How::Confirmed);
  EXPECT_EQ(recorder.ends[u][1].confirmed.lastOn, 90);
  EXPECT_EQ(recorder.ends[u][2].how, FadeEnd::How::NotConfirmed);
  EXPECT_EQ(recorder.ends[u][2].confirmed.level, 90);
  EXPECT_EQ(engine.confirmed(u).lastOn, 90);
}

/// Stands in for the resolver: "hang.test" answers only once released,
/// "bad.test" fails, any other name is 127.0.0.1. Counts the lookups.
struct Resolver {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  int lookUps = 0;
};

TEST(FadeEngine, ALookUpThatNeverAnswersDelaysNoOtherUnitAndIsTriedAgain) {
  ServingUnit byName;
  ServingUnit byAddress;
  Recorder recorder;
  FadeEngine engine(300000, 1, recorder);
  // Shared with lookup threads that the engine may leave behind.
  auto resolver = std::make_shared<Resolver>();
  engine.lookUpWith([resolver](const std::string& host, std::string& dotted, std::string& why) {
    std::unique_lock<std::mutex> lock(resolver->mutex);
    ++resolver->lookUps;
    if (host == "hang.test")
      resolver->released.wait(lock, [&] { return resolver->release; });
    if (host == "bad.test") {
      why = "no such name";
      return false;
    }
    dotted = "127.0.0.1";
    return true;
  });
  const std::uint16_t port = static_cast<std::uint16_t>(std::stoi(byName.port()));
  const int hung = engine.addUnit({"hang.test", port, 1});
  const int bad = engine.addUnit({"bad.test", port, 1});
  const int named = engine.addUnit({"good.test", port, 1});
  const int dotted = addLocalUnit(engine, byAddress.port());
  const std::int64_t zero = monotonicUs();
  for (int unit : {hung, bad, named, dotted})
    engine.startFade(unit, {20, true, 0, 200000, 2, zero});
  const std::atomic<bool> stop{false};
  engine.run(stop);
  const std::int64_t tookUs = monotonicUs() - zero;

  EXPECT_EQ(recorder.ends[named].at(0).how, FadeEnd::How::Confirmed);
  EXPECT_EQ(recorder.ends[dotted].at(0).how, FadeEnd::How::Confirmed);
  ASSERT_EQ(recorder.ends[bad].size(), 1u);
  EXPECT_EQ(recorder.ends[bad][0].how, FadeEnd::How::NotStarted);
  EXPECT_EQ(recorder.ends[bad][0].lookUpFailure, "no such name");
  ASSERT_EQ(recorder.ends[hung].size(), 1u);
  EXPECT_EQ(recorder.ends[hung][0].how, FadeEnd::How::NotStarted);
  EXPECT_EQ(recorder.ends[hung][0].lookUpFailure, "timed out");
  EXPECT_LT(tookUs, 3000000);  // bound by the time-out, not by the hung lookup
  EXPECT_EQ(byAddress.levels(), (std::vector<int>{0, 10, 20}));

  // Started again, a failed name is looked up again; a hung one keeps its
  // one thread, and answers this time.
  engine.startFade(bad, {30, false, 0, 0, 0, monotonicUs()});
  {
    std::lock_guard<std::mutex> lock(resolver->mutex);
    resolver->release = true;
    resolver->released.notify_all();
  }
  engine.startFade(hung, {40, false, 0, 0, 0, monotonicUs()});
  engine.run(stop);
  byName.finish();
  EXPECT_EQ(recorder.ends[bad].at(1).lookUpFailure, "no such name");
  EXPECT_EQ(recorder.ends[hung].at(1).how, FadeEnd::How::Confirmed);
  std::lock_guard<std::mutex> lock(resolver->mutex);
  EXPECT_EQ(resolver->lookUps, 4);  // hang.test once, bad.test twice, good.test once
}

// The lookup's thread wakes the engine's wait itself: no timer finds it.
TEST(FadeEngine, AnAnsweredLookUpEndsTheEnginesWait) {
  ServingUnit unit;
  Recorder recorder;
  FadeEngine engine(5000000, 1, recorder);
  engine.lookUpWith([](const std::string&, std::string& dotted, std::string&) {
    dotted = "127.0.0.1";
    return true;
  });
  const int u = engine.addUnit({"name.test", static_cast<std::uint16_t>(std::stoi(unit.port())), 1});
  engine.startFade(u, {7, false, 0, 0, 0, monotonicUs()});
  std::vector<SocketWait> waits;
  engine.addWaits(waits);
  EXPECT_EQ(waitForSockets(waits, 5000000), 1);
  engine.advance(waits);
  const std::atomic<bool> stop{false};
  engine.run(stop);
  unit.finish();
  EXPECT_EQ(unit.levels(), std::vector<int>{7});
}

}  // namespace
