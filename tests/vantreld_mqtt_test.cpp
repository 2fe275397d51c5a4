// vantreld's MQTT front end end to end: the built vantreld against a real
// broker (Debian's mosquitto) and units served on 127.0.0.1, seen through a
// client of the test's own.

#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/mqtt_peers.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"

namespace {

using Json = nlohmann::json;

std::string state(int level) {
  return std::string("{\"state\":\"") + (level > 0 ? "ON" : "OFF") + "\",\"brightness\":" +
         std::to_string(level) + ",\"color_mode\":\"brightness\"}";
}

std::string unitTable(const std::string& name, const std::string& port, int type = 1) {
  return "[units." + name + "]\naddress = \"127.0.0.1\"\nport = " + port +
         "\ntype = " + std::to_string(type) + "\n";
}

/// A discovery configuration once it came, parsed.
Json configOn(MqttProbe& probe, const std::string& topic) {
  return Json::parse(probe.await(topic, [](const std::string& p) { return !p.empty(); }), nullptr, false);
}

std::string mqttTable(const MqttBroker& broker) {
  return "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker.port() + "\n";
}

/// vantreld with its standard error joined to its standard output, read a
/// line at a time.
class Bridge {
 public:
  explicit Bridge(const TempDir& dir)
      : child_({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", VANTRELD_PATH, "--config",
                dir.path("vantrel.toml")},
               {"VANTREL_STATE=" + dir.path("levels"), "VANTREL_SOCKET=" + dir.path("vantreld.sock")}) {}
  /// Waits for a line that starts with `line`, skipping others; false when
  /// none came.
  bool sees(const std::string& line, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const std::string got = child_.readLine(static_cast<int>(left.count()) + 1);
      if (got.compare(0, line.size(), line) == 0)
        return true;
      seen_ += got + "\n";
    }
    ADD_FAILURE() << "no line \"" << line << "\"; saw:\n" << seen_;
    return false;
  }
  int stop(int signal) { return child_.stop(signal, 5000); }

 private:
  BackgroundChild child_;
  std::string seen_;
};

TEST(VantreldMqtt, DiscoveryCommandsAndStates) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port());
  // A configuration this node published once for a unit since removed, and
  // another node's, which is none of its business.
  const std::string gone = "homeassistant/light/vantrel/unit_10_0_0_9_4001_1/config";
  const std::string other = "homeassistant/light/kitchen/lamp/config";
  probe.publish(gone, "{\"name\":\"gone\"}", true);
  probe.publish(other, "{\"name\":\"lamp\"}", true);
  probe.await(other, "{\"name\":\"lamp\"}");

  ServingUnit a;
  ServingUnit b;
  writeText(dir.path("vantrel.toml"),
            unitTable("a", a.port()) + unitTable("b", b.port(), 2) +
                "[groups]\nboth = [\"a\", \"b\"]\n[scenes.open]\na = 200\nb = \"50%\"\n" + mqttTable(broker));
  Bridge bridge(dir);
  probe.await("vantrel/status", "online");

  // Discovery: what Home Assistant needs of each light and scene.
  const std::string aConfig = "homeassistant/light/vantrel/unit_127_0_0_1_" + a.port() + "_1/config";
  const Json light = configOn(probe, aConfig);
  ASSERT_TRUE(light.is_object());
  EXPECT_EQ(light.value("schema", ""), "json");
  EXPECT_EQ(light.value("command_topic", ""), "vantrel/unit/a/set");
  EXPECT_EQ(light.value("state_topic", ""), "vantrel/unit/a/state");
  EXPECT_EQ(light.value("availability_topic", ""), "vantrel/status");
  EXPECT_EQ(light.value("unique_id", ""), "vantrel_unit_127_0_0_1_" + a.port() + "_1");
  EXPECT_EQ(light["supported_color_modes"], Json::array({"brightness"}));
  EXPECT_EQ(light.value("brightness_scale", 0), 255);
  EXPECT_FALSE(light.contains("brightness"));
  EXPECT_FALSE(light.contains("color_mode"));
  EXPECT_EQ(light["device"].value("name", ""), "a");
  const Json group = configOn(probe, "homeassistant/light/vantrel/group_both/config");
  EXPECT_EQ(group.value("command_topic", ""), "vantrel/group/both/set");
  EXPECT_EQ(group.value("state_topic", ""), "vantrel/group/both/state");
  EXPECT_EQ(group.value("name", ""), "both");
  const Json scene = configOn(probe, "homeassistant/scene/vantrel/scene_open/config");
  EXPECT_EQ(scene.value("command_topic", ""), "vantrel/scene/open/set");
  EXPECT_EQ(scene.value("payload_on", ""), "ON");
  EXPECT_EQ(scene.value("availability_topic", ""), "vantrel/status");
  EXPECT_NE(scene.value("unique_id", ""), group.value("unique_id", ""));
  probe.await(gone, "");
  EXPECT_EQ(probe.last(other), "{\"name\":\"lamp\"}");
  // Home Assistant, back from a restart, is told again.
  probe.publish(aConfig, "", true);
  probe.await(aConfig, "");
  probe.publish("homeassistant/status", "online");
  EXPECT_TRUE(configOn(probe, aConfig).is_object());

  // Commands reach the units; what they confirmed comes back, retained.
  probe.publish("vantrel/unit/a/set", R"({"state":"ON","brightness":100})");
  probe.await("vantrel/unit/a/state", state(100));
  probe.publish("vantrel/unit/a/set", R"({"state":"OFF"})");
  probe.await("vantrel/unit/a/state", state(0));
  probe.publish("vantrel/unit/a/set", R"({"state":"ON","flash":"short"})");
  probe.await("vantrel/unit/a/state", state(100));  // its last level above 0
  probe.publish("vantrel/group/both/set", R"({"brightness":50})");
  probe.await("vantrel/unit/b/state", state(50));
  probe.await("vantrel/group/both/state", state(50));
  probe.publish("vantrel/scene/open/set", "ON");
  probe.await("vantrel/unit/a/state", state(200));
  probe.await("vantrel/unit/b/state", state(128));
  probe.await("vantrel/group/both/state", state(164));
  probe.publish("vantrel/unit/b/set", R"({"brightness":255,"transition":0.5})");
  probe.await("vantrel/unit/b/state", state(255));
  const std::vector<int> faded = b.levels();
  ASSERT_GT(faded.size(), 5u);
  EXPECT_EQ(std::vector<int>(faded.begin(), faded.begin() + 2), (std::vector<int>{50, 128}));
  for (std::size_t i = 3; i < faded.size(); ++i)
    EXPECT_GT(faded[i], faded[i - 1]) << "step " << i;
  EXPECT_EQ(faded.back(), 255);

  // Bad payloads: a line each, nothing sent, and the next good one served.
  const std::pair<std::string, std::string> bad[] = {
      {"vantrel/unit/a/set", "nonsense"},
      {"vantrel/unit/a/set", R"({"state":"on"})"},
      {"vantrel/group/both/set", R"({"brightness":256})"},
      {"vantrel/unit/a/set", R"({"transition":1})"},
      {"vantrel/scene/open/set", R"({"transition":"1s"})"},
      {"vantrel/unit/nobody/set", R"({"state":"ON"})"},
  };
  for (const auto& [topic, payload] : bad)
    probe.publish(topic, payload);
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: not valid JSON"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: state must be \"ON\" or \"OFF\""));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/group/both/set: brightness must be a whole number from 0 to 255"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: neither state nor brightness given"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/scene/open/set: transition must be a number of seconds"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/nobody/set: unknown unit 'nobody'"));
  probe.publish("vantrel/unit/a/set", R"({"brightness":7})");
  probe.await("vantrel/unit/a/state", state(7));
  EXPECT_EQ(a.levels(), (std::vector<int>{100, 0, 100, 50, 200, 7}));
}

TEST(VantreldMqtt, ANewCommandReplacesAFadeAndARefusedUnitKeepsItsLevel) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port());
  ServingUnit a;
  LocalPort refusing;
  writeText(dir.path("levels"), "127.0.0.1 " + refusing.port() + " 1 77 2026-12-08T10:00:00.000Z 77\n");
  writeText(dir.path("vantrel.toml"),
            unitTable("a", a.port()) + unitTable("c", refusing.port()) + mqttTable(broker));
  Bridge bridge(dir);
  probe.await("vantrel/unit/c/state", state(77));

  probe.publish("vantrel/unit/a/set", R"({"state":"OFF"})");
  probe.await("vantrel/unit/a/state", state(0));
  probe.publish("vantrel/unit/a/set", R"({"brightness":255,"transition":3})");
  // A step on the way, published within a second or so.
  const std::string step = probe.await("vantrel/unit/a/state", [](const std::string& p) {
    return p != state(0) && p != state(255);
  });
  EXPECT_NE(step, "(none)");
  probe.publish("vantrel/unit/a/set", R"({"brightness":10})");
  probe.await("vantrel/unit/a/state", state(10));
  const std::vector<int> levels = a.levels();
  EXPECT_EQ(levels.back(), 10);
  for (const int level : levels)
    EXPECT_LT(level, 255);

  probe.publish("vantrel/unit/c/set", R"({"state":"ON","brightness":200})");
  EXPECT_TRUE(bridge.sees("vantreld: c: level 200 not confirmed after 3 tries: connection refused"));
  MqttProbe later(broker.port(), "vantrel/unit/c/state");
  later.await("vantrel/unit/c/state", state(77));
}

TEST(VantreldMqtt, ComesBackWithTheBrokerAndSaysOfflineOnSigterm) {
  TempDir dir;
  MqttBroker broker(dir, false);
  ServingUnit a;
  writeText(dir.path("levels"), "127.0.0.1 " + a.port() + " 1 42 2026-12-08T10:00:00.000Z 42\n");
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()) + mqttTable(broker));
  const std::string where = "the MQTT broker at 127.0.0.1:" + broker.port();
  Bridge bridge(dir);
  EXPECT_TRUE(bridge.sees("vantreld: cannot reach " + where + ": Connection refused; trying again"));
  broker.start();
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 10000));
  broker.stop();
  EXPECT_TRUE(bridge.sees("vantreld: lost " + where + ": "));
  broker.start();  // with nothing retained
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 35000));
  MqttProbe probe(broker.port());
  probe.await("vantrel/status", "online");
  probe.await("vantrel/unit/a/state", state(42));
  EXPECT_TRUE(configOn(probe, "homeassistant/light/vantrel/unit_127_0_0_1_" + a.port() + "_1/config")
                  .is_object());
  probe.publish("vantrel/unit/a/set", R"({"brightness":43})");
  probe.await("vantrel/unit/a/state", state(43));

  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(2));
  probe.await("vantrel/status", "offline");
}

}  // namespace
