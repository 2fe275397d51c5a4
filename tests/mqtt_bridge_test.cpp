// The MQTT front end's connection, with the connect injected: a stop does not
// wait for a name service that takes long to answer.

#include "mqtt/mqtt_bridge.hpp"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>
#include <mosquitto.h>

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

}  // namespace
