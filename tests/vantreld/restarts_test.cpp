// What vantreld knows and sends after a boot of the machine, a restart of
// the service and a unit's power loss, end to end: the built vantreld, a
// real broker, units served on 127.0.0.1 and the simulator stopped and
// started again on its port.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/mqtt_peers.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "support/vantreld_process.hpp"

namespace {

using namespace std::chrono_literals;

std::string state(int level) {
  return std::string("{\"state\":\"") + (level > 0 ? "ON" : "OFF") + "\",\"brightness\":" +
         std::to_string(level) + ",\"color_mode\":\"brightness\"}";
}

std::string unitTable(const std::string& name, const std::string& port, const std::string& more = "") {
  return "[units." + name + "]\naddress = \"127.0.0.1\"\nport = " + port + "\ntype = 1\n" + more;
}

std::string mqttTable(const MqttBroker& broker) {
  return "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker.port() + "\n";
}

/// A line of the levels file: `level` confirmed `agoS` seconds ago.
std::string levelLine(const std::string& port, int level, long agoS) {
  const std::time_t at = std::time(nullptr) - agoS;
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S.000Z", std::gmtime(&at));
  return "127.0.0.1 " + port + " 1 " + std::to_string(level) + " " + when + " " + std::to_string(level) + "\n";
}

/// The levels a simulator's exchange lines name, read for `forMs`.
std::vector<int> levelsSeen(BackgroundChild& sim, int forMs) {
  std::vector<int> levels;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string line = sim.readLine(50);
    const auto at = line.find(", level ");
    if (at != std::string::npos)
      levels.push_back(std::stoi(line.substr(at + 8)));
  }
  return levels;
}

TEST(VantreldStart, ABootCarriesOutOnStartAndARestartSendsNothingAndKnowsWhatWasConfirmed) {
  TempDir dir;
  MqttBroker broker(dir);
  ServingUnit a, b, c, d, e;
  writeText(dir.path("vantrel.toml"),
            "[defaults]\non_start = \"dusk\"\nrestore_within = \"1h\"\n" + unitTable("a", a.port()) +
                unitTable("b", b.port(), "on_start = \"restore\"\n") +
                unitTable("c", c.port(), "on_start = \"off\"\n") +
                unitTable("d", d.port(), "on_start = 60\n") +
                unitTable("e", e.port(), "on_start = \"restore\"\n") +
                "[scenes.dusk]\na = 20\nc = 150\n" + mqttTable(broker));
  writeText(dir.path("levels"), levelLine(a.port(), 10, 300) + levelLine(b.port(), 128, 300) +
                                    levelLine(c.port(), 200, 300) + levelLine(d.port(), 30, 300) +
                                    levelLine(e.port(), 99, 2 * 3600));
  writeText(dir.path("levels.boot"), "boot-0 1\n");  // the service ran in another boot
  writeText(bootIdFile(dir), "boot-1\n");
  {
    VantreldProcess service(dir);
    MqttProbe probe(broker.port());
    for (const auto& [unit, level] : {std::pair<const char*, int>{"a", 20}, {"b", 128}, {"c", 0}, {"d", 60}})
      probe.await(std::string("vantrel/unit/") + unit + "/state", state(level));
    // A unit's own on_start wins over the file's scene; an old level is
    // not restored.
    // A unit's exchange is recorded once the service closed it, which may
    // be after the state went out.
    EXPECT_EQ(a.levelsEndingWith(20), std::vector<int>{20});
    EXPECT_EQ(b.levelsEndingWith(128), std::vector<int>{128});
    EXPECT_EQ(c.levelsEndingWith(0), std::vector<int>{0});
    EXPECT_EQ(d.levelsEndingWith(60), std::vector<int>{60});
    EXPECT_EQ(e.levels(), std::vector<int>{});
    EXPECT_EQ(service.stop(SIGTERM), 0);
    for (const char* unit : {"a", "b", "c", "d"})
      probe.publish(std::string("vantrel/unit/") + unit + "/state", "", true);
  }
  {
    // A restart in the same boot sends nothing, and publishes the levels
    // confirmed before as known.
    VantreldProcess service(dir);
    MqttProbe probe(broker.port());
    probe.await("vantrel/unit/b/state", state(128));
    probe.await("vantrel/unit/d/state", state(60));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(b.levels(), std::vector<int>{128});
    EXPECT_EQ(a.levels().size() + c.levels().size() + d.levels().size() + e.levels().size(), 3u);
    EXPECT_EQ(service.stop(SIGTERM), 0);
  }
  writeText(bootIdFile(dir), "boot-2\n");
  VantreldProcess service(dir);
  for (int waited = 0; waited < 100 && b.levels().size() + c.levels().size() < 4; ++waited)
    std::this_thread::sleep_for(50ms);
  EXPECT_EQ(b.levels(), (std::vector<int>{128, 128}));
  EXPECT_EQ(c.levels(), (std::vector<int>{0, 0}));
}

TEST(VantreldRefresh, AUnitBackFromAPowerLossGetsItsLevelAtTheNextRetryAndNoRefreshComesDuringAFade) {
  TempDir dir;
  MqttBroker broker(dir);
  auto sim = std::make_unique<BackgroundChild>(std::vector<std::string>{VANTREL_SIM_PATH}, std::vector<std::string>{});
  const std::string port = sim->readLine(5000);
  ServingUnit fading;
  writeText(dir.path("vantrel.toml"), unitTable("lamp", port, "refresh = \"1h\"\n") +
                                          unitTable("strip", fading.port(), "refresh = \"1s\"\n") +
                                          mqttTable(broker));
  VantreldProcess service(dir);
  MqttProbe probe(broker.port());
  probe.await("vantrel/status", "online");

  probe.publish("vantrel/unit/lamp/set", R"({"brightness":100})");
  probe.await("vantrel/unit/lamp/state", state(100));
  EXPECT_EQ(levelsSeen(*sim, 500), std::vector<int>{100});
  EXPECT_EQ(sim->stop(SIGTERM, 5000), 0);
  // The power goes: the command fails, is said once, and the state stays.
  probe.publish("vantrel/unit/lamp/set", R"({"brightness":200})");
  EXPECT_TRUE(service.sees("vantreld: lamp: level 200 not confirmed after 3 tries: connection refused"));
  sim = std::make_unique<BackgroundChild>(std::vector<std::string>{VANTREL_SIM_PATH, "--port", port},
                                          std::vector<std::string>{});
  EXPECT_EQ(sim->readLine(5000), port);
  // It comes back: a retry gives it its level within seconds.
  probe.await("vantrel/unit/lamp/state", state(200), 10000);
  EXPECT_EQ(levelsSeen(*sim, 500), std::vector<int>{200});

  probe.publish("vantrel/unit/strip/set", R"({"brightness":0})");
  probe.await("vantrel/unit/strip/state", state(0));
  probe.publish("vantrel/unit/strip/set", R"({"brightness":255,"transition":3})");
  probe.await("vantrel/unit/strip/state", state(255), 10000);
  const std::size_t published = probe.all("vantrel/unit/strip/state").size();
  std::this_thread::sleep_for(2500ms);
  // The refreshes came, but none during the fade and none was published.
  const std::vector<int> levels = fading.levels();
  std::size_t up = 0;
  while (up < levels.size() && levels[up] == 0)
    ++up;
  ASSERT_LT(up, levels.size());
  for (std::size_t i = up + 1; i < levels.size() && levels[i - 1] != 255; ++i)
    EXPECT_GT(levels[i], levels[i - 1]) << "step " << i;
  EXPECT_GE(levels.end() - std::find(levels.begin(), levels.end(), 255), 2);
  EXPECT_EQ(probe.all("vantrel/unit/strip/state").size(), published);
}

}  // namespace
