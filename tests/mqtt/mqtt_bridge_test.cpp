// The MQTT front end's connection, with the connect injected: a stop does not
// wait for a name service that takes long to answer; and, the snapshot
// injected, against a real broker: the service's thread does not wait while
// the bridge asks for one.

#include "mqtt/mqtt_bridge.hpp"

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>
#include <mosquitto.h>

#include "support/mqtt_peers.hpp"
#include "support/temp_dir.hpp"

namespace {

using Clock = std::chrono::steady_clock;

/// A name service that answers after 8 s: the connect that asks it tells
/// when it began, and it can be let go early so that nothing outlives the test
/// for long.
struct SlowNames {
  std::mutex mutex;
  std::condition_variable changed;
  bool asked = false;
  bool released = false;
};

TEST(MqttBridge, StopsWithinASecondWhileTheBrokersNameIsLookedUp) {
  TempDir dir;
  UnitsFile file;
  file.units.push_back({"a", "127.0.0.1", 9, 1});
  UnitsService service(file, dir.path("levels"));
  MqttSettings settings;
  settings.host = "slow.example";
  MqttBridge bridge(service, settings, false);
  auto names = std::make_shared<SlowNames>();
  bridge.connectWith([names](mosquitto*, const std::string&, int, int) {
    std::unique_lock<std::mutex> lock(names->mutex);
    names->asked = true;
    names->changed.notify_all();
    names->changed.wait_for(lock, std::chrono::seconds(8), [&] { return names->released; });
    return MOSQ_ERR_EAI;
  });
  std::string problem;
  ASSERT_TRUE(service.start(problem)) << problem;
  ASSERT_TRUE(bridge.open(problem)) << problem;
  ASSERT_TRUE(bridge.start(problem)) << problem;
  {
    std::unique_lock<std::mutex> lock(names->mutex);
    ASSERT_TRUE(names->changed.wait_for(lock, std::chrono::seconds(5), [&] { return names->asked; }));
  }
  const auto stopping = Clock::now();
  bridge.stop();
  EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(1));
  service.stop();
  std::lock_guard<std::mutex> lock(names->mutex);
  names->released = true;
  names->changed.notify_all();
}

/// A snapshot that waits until the test lets it go: the bridge's thread asks
/// for one on connecting, and is held in it.
struct HeldSnapshot {
  std::mutex mutex;
  std::condition_variable changed;
  bool held = false;
  bool released = false;
};

// The service's thread runs the fades: it must not wait for what the
// bridge's thread is doing. A level it tells meanwhile still goes out, though
// the snapshot under way does not hold it.
TEST(MqttBridge, TellingAConfirmedLevelWaitsForNoSnapshotAndTheLevelGoesOut) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port(), "vantrel/unit/+/state");
  UnitsFile file;
  file.units.push_back({"a", "127.0.0.1", 9, 1});
  UnitsService service(file, dir.path("levels"));
  MqttSettings settings;
  settings.host = "127.0.0.1";
  settings.port = static_cast<std::uint16_t>(std::stoi(broker.servicePort()));
  settings.discoveryPrefix = "";
  MqttBridge bridge(service, settings, false);
  auto snapshot = std::make_shared<HeldSnapshot>();
  bridge.snapshotWith([snapshot, &service] {
    std::unique_lock<std::mutex> lock(snapshot->mutex);
    snapshot->held = true;
    snapshot->changed.notify_all();
    snapshot->changed.wait_for(lock, std::chrono::seconds(10), [&] { return snapshot->released; });
    return service.snapshot();
  });
  const auto release = [snapshot] {
    std::lock_guard<std::mutex> lock(snapshot->mutex);
    snapshot->released = true;
    snapshot->changed.notify_all();
  };
  std::string problem;
  ASSERT_TRUE(service.start(problem)) << problem;
  ASSERT_TRUE(bridge.open(problem)) << problem;
  ASSERT_TRUE(bridge.start(problem)) << problem;
  {
    std::unique_lock<std::mutex> lock(snapshot->mutex);
    ASSERT_TRUE(snapshot->changed.wait_for(lock, std::chrono::seconds(5), [&] { return snapshot->held; }));
  }
  // As the service's thread does when a unit confirms.
  UnitState confirmed;
  confirmed.level = 200;
  confirmed.lastOn = 200;
  auto told = std::async(std::launch::async, [&] { bridge.unitChanged(0, confirmed, true); });
  const bool atOnce = told.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  release();
  told.wait();
  EXPECT_TRUE(atOnce) << "the service's thread waited for the bridge's snapshot";
  probe.await("vantrel/unit/a/state", lightState(200));
  service.halt();
  bridge.stop();
  service.stop();
}

}  // namespace
