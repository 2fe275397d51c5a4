// vantreld's MQTT front end end to end: the built vantreld against a real
// broker (Debian's mosquitto) and units served on 127.0.0.1, seen through a
// client of the test's own.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "mqtt/mqtt_bridge.hpp"
#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/mqtt_peers.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "support/vantreld_process.hpp"

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using Bridge = VantreldProcess;

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

/// Runs a tool the test needs (openssl, mosquitto_passwd); false when it failed.
bool run(const std::vector<std::string>& argv) {
  const ChildResult result = runChild(argv, {}, 20000);
  EXPECT_EQ(result.exitStatus, 0) << argv[0] << ": " << result.err;
  return result.exitStatus == 0;
}

/// A certificate authority of the test's own, made by openssl, and
/// certificates it signs for 127.0.0.1.
class TestAuthority {
 public:
  TestAuthority(const TempDir& dir, const std::string& name) : dir_(dir), name_(name) {
    run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-days", "1", "-subj", "/CN=" + name, "-keyout", dir.path(name + ".key"), "-out",
         certificate()});
  }
  std::string certificate() const { return dir_.path(name_ + ".crt"); }
  /// mosquitto's settings for a listener with a certificate this one signed.
  std::string listener() const {
    const std::string key = dir_.path(name_ + "-server.key");
    const std::string cert = dir_.path(name_ + "-server.crt");
    run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
         "-addext", "basicConstraints=critical,CA:FALSE", "-CA", certificate(), "-CAkey",
         dir_.path(name_ + ".key"), "-keyout", key, "-out", cert});
    // mosquitto started by root reads it as the user it becomes.
    run({"/bin/chmod", "644", key});
    return "certfile " + cert + "\nkeyfile " + key + "\n";
  }

 private:
  const TempDir& dir_;
  std::string name_;
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
                "[groups]\nboth = [\"a\", \"b\"]\n[scenes.open]\na = 200\nb = \"50%\"\n"
                "[scenes.wind-down]\na = 10\n" + mqttTable(broker));
  Bridge bridge(dir);
  probe.await("vantrel/status", "online");
  // No level confirmed yet: Home Assistant's unknown, not OFF.
  const std::string unknown = R"({"state":null})";
  probe.await("vantrel/unit/a/state", unknown);
  probe.await("vantrel/group/both/state", unknown);

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
  EXPECT_EQ(light.value("flash_time_short", 0), 2);
  EXPECT_EQ(light.value("flash_time_long", 0), 10);
  EXPECT_EQ(light.value("default_entity_id", ""), "light.vantrel_a");
  EXPECT_FALSE(light.contains("brightness"));
  EXPECT_FALSE(light.contains("color_mode"));
  EXPECT_TRUE(light.contains("name") && light["name"].is_null());  // the device's
  EXPECT_EQ(light["device"].value("name", ""), "a");
  EXPECT_EQ(light["device"]["identifiers"], Json::array({light.value("unique_id", "")}));
  // Each unit is reached through the service, which is a device of its own
  // that the groups and scenes are on; each description names its origin.
  EXPECT_EQ(light["device"].value("via_device", ""), "vantreld_vantrel");
  const Json service = {{"identifiers", {"vantreld_vantrel"}},
                        {"name", "vantreld"},
                        {"model", "Vantrel units service"},
                        {"sw_version", VANTREL_VERSION}};
  const Json origin = {{"name", "vantreld"}, {"sw_version", VANTREL_VERSION}, {"support_url", VANTREL_SUPPORT_URL}};
  EXPECT_EQ(light["origin"], origin);
  const Json group = configOn(probe, "homeassistant/light/vantrel/group_both/config");
  EXPECT_EQ(group.value("command_topic", ""), "vantrel/group/both/set");
  EXPECT_EQ(group.value("state_topic", ""), "vantrel/group/both/state");
  EXPECT_EQ(group.value("name", ""), "both");
  EXPECT_EQ(group.value("unique_id", ""), "vantrel_group_both");
  EXPECT_EQ(group.value("schema", ""), "json");
  EXPECT_EQ(group.value("default_entity_id", ""), "light.vantrel_both");
  EXPECT_EQ(group["device"], service);
  EXPECT_EQ(group["origin"], origin);
  const Json scene = configOn(probe, "homeassistant/scene/vantrel/scene_open/config");
  EXPECT_EQ(scene.value("command_topic", ""), "vantrel/scene/open/set");
  EXPECT_EQ(scene.value("payload_on", ""), "ON");
  EXPECT_EQ(scene.value("availability_topic", ""), "vantrel/status");
  EXPECT_EQ(scene.value("name", ""), "open");
  EXPECT_EQ(scene.value("unique_id", ""), "vantrel_scene_open");
  EXPECT_EQ(scene.value("default_entity_id", ""), "scene.vantrel_open");
  // An entity id takes no -.
  EXPECT_EQ(configOn(probe, "homeassistant/scene/vantrel/scene_wind-down/config").value("default_entity_id", ""),
            "scene.vantrel_wind_down");
  EXPECT_EQ(scene["device"], service);
  EXPECT_EQ(scene["origin"], origin);
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
  probe.publish("vantrel/unit/a/set", R"({"state":"ON","effect":"colorloop"})");
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
  const std::vector<int> faded = b.levelsEndingWith(255);
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
      {"vantrel/unit/a/set", R"({"state":"ON","flash":"short"})"},
      {"vantrel/scene/open/set", R"({"transition":"1s"})"},
      {"vantrel/unit/nobody/set", R"({"state":"ON"})"},
  };
  for (const auto& [topic, payload] : bad)
    probe.publish(topic, payload);
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: not valid JSON"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: state must be \"ON\" or \"OFF\""));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/group/both/set: brightness must be a whole number from 0 to 255"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: neither state nor brightness given"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: flash must be a whole number of seconds from 1 to 60"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/scene/open/set: transition must be a number of seconds"));
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/nobody/set: unknown unit 'nobody'"));
  probe.publish("vantrel/unit/a/set", R"({"brightness":7})");
  probe.await("vantrel/unit/a/state", state(7));
  EXPECT_EQ(a.levelsEndingWith(7), (std::vector<int>{100, 0, 100, 50, 200, 7}));
}

TEST(VantreldMqtt, ANewCommandReplacesAFadeAndARefusedUnitKeepsItsLevel) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port());
  ServingUnit a;
  LocalPort refusing;
  writeText(dir.path("levels"), "127.0.0.1 " + refusing.port() + " 1 77 2026-12-08T10:00:00.000Z 77\n");
  sameBootAsBefore(dir);
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
  const std::vector<int> levels = a.levelsEndingWith(10);
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
  sameBootAsBefore(dir);
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

TEST(VantreldMqtt, RetainedCommandsActNeverAtAStartOrAReconnect) {
  TempDir dir;
  MqttBroker broker(dir, false);
  broker.persistIn(dir.path("broker"));
  broker.start();
  ServingUnit a;
  ServingUnit b;
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()) + unitTable("b", b.port()) +
                                          "[scenes.open]\na = 200\nb = 100\n" + mqttTable(broker));
  {
    MqttProbe stray(broker.port());
    stray.publish("vantrel/unit/a/set", R"({"state":"ON","brightness":255})", true);
    stray.publish("vantrel/scene/open/set", "ON", true);
    stray.await("vantrel/scene/open/set", "ON");
  }
  const std::string where = "the MQTT broker at 127.0.0.1:" + broker.port();
  Bridge bridge(dir);
  EXPECT_TRUE(bridge.sees("vantreld: mqtt: ignored the retained command on vantrel/unit/a/set: "
                          "commands are never retained"));
  EXPECT_TRUE(bridge.sees("vantreld: mqtt: ignored the retained command on vantrel/scene/open/set: "
                          "commands are never retained"));
  broker.stop();
  broker.start();
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 35000));
  MqttProbe probe(broker.port());
  EXPECT_EQ(probe.await("vantrel/unit/a/set", R"({"state":"ON","brightness":255})"),
            R"({"state":"ON","brightness":255})");  // kept by the broker, so heard again
  probe.await("vantrel/status", "online");
  probe.publish("vantrel/unit/a/set", "nonsense");
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/unit/a/set: not valid JSON"));
  EXPECT_EQ(bridge.skipped().find("ignored the retained"), std::string::npos) << bridge.skipped();
  probe.publish("vantrel/unit/a/set", R"({"brightness":7})");
  probe.await("vantrel/unit/a/state", state(7));
  EXPECT_EQ(a.levels(), (std::vector<int>{7}));
  EXPECT_TRUE(b.levels().empty());
}

TEST(VantreldMqtt, AStopDuringAFadeLeavesTheLastConfirmedLevelRetained) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port());
  ServingUnit a;
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()) + mqttTable(broker));
  Bridge bridge(dir);
  probe.await("vantrel/status", "online");
  probe.publish("vantrel/unit/a/set", R"({"state":"OFF"})");
  probe.await("vantrel/unit/a/state", state(0));
  probe.publish("vantrel/unit/a/set", R"({"brightness":255,"transition":4})");
  probe.await("vantrel/unit/a/state", [](const std::string& p) { return p != state(0); });
  // Half a second after a state went out, the next is still throttled.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
  probe.await("vantrel/status", "offline");
  const std::vector<int> levels = a.levels();
  ASSERT_FALSE(levels.empty());
  ASSERT_LT(levels.back(), 255);
  MqttProbe later(broker.port(), "vantrel/unit/a/state");
  later.await("vantrel/unit/a/state", state(levels.back()));
  EXPECT_EQ(later.last("vantrel/unit/a/state"), state(levels.back()));
  // The state went out before offline, the last thing the service says.
  const std::vector<std::string> states = probe.all("vantrel/unit/a/state");
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.back(), state(levels.back()));
}

/// The [mqtt] table for vantreld's own listener of `broker`, with a user
/// whose password is "s3cret" and `more`.
std::string mqttTableWithPassword(const TempDir& dir, const MqttBroker& broker, const std::string& more = "") {
  writeText(dir.path("mqtt-password"), "s3cret\n");
  run({"/bin/chmod", "600", dir.path("mqtt-password")});
  return "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker.servicePort() +
         "\nusername = \"vantreld\"\npassword_file = \"" + dir.path("mqtt-password") + "\"\n" + more;
}

/// mosquitto's settings for a listener that takes user vantreld with
/// `password` alone.
std::string passwordListener(const TempDir& dir, const std::string& password) {
  const std::string passwords = dir.path("passwords");
  run({"/usr/bin/mosquitto_passwd", "-c", "-b", passwords, "vantreld", password});
  return "allow_anonymous false\npassword_file " + passwords + "\n";
}

// TLS against a real mosquitto: a certificate that the authority did not
// sign is told once and tried again until the broker has one it did, and
// then discovery and commands work.
TEST(VantreldMqtt, AnUntrustedBrokerIsToldOnceAndTriedAgainUntilTrusted) {
  TempDir dir;
  const TestAuthority trusted(dir, "trusted");
  const TestAuthority other(dir, "other");
  const std::string open = "allow_anonymous true\n";
  MqttBroker broker(dir, true, other.listener() + open);
  ServingUnit a;
  writeText(dir.path("vantrel.toml"),
            unitTable("a", a.port()) + "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker.servicePort() +
                "\ntls_ca_file = \"" + trusted.certificate() + "\"\n");
  const std::string where = "the MQTT broker at 127.0.0.1:" + broker.servicePort();
  Bridge bridge(dir);
  EXPECT_TRUE(bridge.sees("vantreld: cannot reach " + where +
                          ": A TLS error occurred: certificate verify failed; trying again"));
  for (int tries = 0; tries < 2; ++tries)
    EXPECT_TRUE(broker.connected()) << "try " << tries;
  broker.stop();
  broker.configure(trusted.listener() + open);
  broker.start();
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 10000));
  const std::string told = bridge.skipped();
  EXPECT_EQ(told.find("certificate verify failed"), std::string::npos) << told;

  MqttProbe probe(broker.port());
  probe.await("vantrel/status", "online");
  EXPECT_TRUE(configOn(probe, "homeassistant/light/vantrel/unit_127_0_0_1_" + a.port() + "_1/config")
                  .is_object());
  probe.publish("vantrel/unit/a/set", R"({"brightness":9})");
  probe.await("vantrel/unit/a/state", state(9));  // as the unit confirmed it
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
}

// A user and password over TLS against mosquitto's password file: a wrong
// password is told once however many tries, and the right one works.
TEST(VantreldMqtt, AWrongPasswordIsToldOncePerOutage) {
  TempDir dir;
  const TestAuthority trusted(dir, "trusted");
  MqttBroker broker(dir, true, trusted.listener() + passwordListener(dir, "not-this-one"));
  ServingUnit a;
  writeText(dir.path("vantrel.toml"),
            unitTable("a", a.port()) +
                mqttTableWithPassword(dir, broker, "tls_ca_file = \"" + trusted.certificate() + "\"\n"));
  const std::string where = "the MQTT broker at 127.0.0.1:" + broker.servicePort();
  Bridge bridge(dir);
  EXPECT_TRUE(bridge.sees("vantreld: " + where +
                          " refused the connection: Connection Refused: not authorised; trying again"));
  for (int tries = 0; tries < 2; ++tries)
    EXPECT_TRUE(broker.connected()) << "try " << tries;
  broker.stop();
  broker.configure(trusted.listener() + passwordListener(dir, "s3cret"));
  broker.start();
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 10000));
  const std::string told = bridge.skipped();
  EXPECT_EQ(told.find("not authorised"), std::string::npos) << told;

  MqttProbe probe(broker.port());
  probe.await("vantrel/status", "online");  // subscribed before it says so
  probe.publish("vantrel/unit/a/set", R"({"brightness":9})");
  probe.await("vantrel/unit/a/state", state(9));
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
}

// The pause between tries doubles through a long outage, and is 1 s again
// once a connection held: the broker is away (a wrong password), then
// stopped twice.
TEST(VantreldMqtt, ThePauseGrowsInAnOutageAndIsOneSecondAgainOnceAConnectionHeld) {
  TempDir dir;
  MqttBroker broker(dir, true, passwordListener(dir, "not-this-one"));
  ServingUnit a;
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()) + mqttTableWithPassword(dir, broker));
  const std::string where = "the MQTT broker at 127.0.0.1:" + broker.servicePort();
  Bridge bridge(dir);
  std::vector<Clock::time_point> tries;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(broker.connected(10000)) << "try " << i;
    tries.push_back(Clock::now());
  }
  // 1 s, 2 s, 4 s apart.
  EXPECT_LT(tries[1] - tries[0], std::chrono::milliseconds(2500));
  EXPECT_GT(tries[3] - tries[2], std::chrono::milliseconds(3000));

  broker.stop();
  broker.configure(passwordListener(dir, "s3cret"));
  broker.start();
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 20000));
  // Held: the next outage starts again from 1 s, where it would wait 16 s.
  std::this_thread::sleep_for(std::chrono::seconds(MqttBridge::kHeldS + 1));
  broker.stop();
  EXPECT_TRUE(bridge.sees("vantreld: lost " + where));
  broker.start();
  EXPECT_TRUE(bridge.sees("vantreld: connected to " + where + " again", 3000));
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
}

// During a fade the states go out at most once a second, the last one the
// level the fade ends at.
TEST(VantreldMqtt, AThreeSecondFadePublishesThreeToFiveStatesEndingAtItsLevel) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port(), "vantrel/#");
  ServingUnit a;
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()) + mqttTable(broker));
  Bridge bridge(dir);
  probe.await("vantrel/status", "online");
  probe.publish("vantrel/unit/a/set", R"({"brightness":0})");
  probe.await("vantrel/unit/a/state", state(0));
  const std::size_t before = probe.all("vantrel/unit/a/state").size();
  probe.publish("vantrel/unit/a/set", R"({"brightness":255,"transition":3})");
  probe.await("vantrel/unit/a/state", state(255), 10000);
  // Whatever came after the end, offline comes after it.
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
  probe.await("vantrel/status", "offline");
  const std::vector<std::string> all = probe.all("vantrel/unit/a/state");
  const std::vector<std::string> fade(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  EXPECT_GE(fade.size(), 3u);
  EXPECT_LE(fade.size(), 5u);
  ASSERT_FALSE(fade.empty());
  EXPECT_EQ(fade.back(), state(255));
  EXPECT_GT(a.levels().size(), 40u);  // the fade's steps, many more than its states
}

// Home Assistant's flash: half-second blinks between 0 and the ON level,
// then back where the unit was, or where the command says; a newer command
// ends it at once.
TEST(VantreldMqtt, AFlashBlinksEveryHalfSecondThenReturnsAndANewerCommandEndsIt) {
  TempDir dir;
  MqttBroker broker(dir);
  MqttProbe probe(broker.port(), "vantrel/#");
  ServingUnit a;
  ServingUnit b;
  writeText(dir.path("vantrel.toml"), unitTable("a", a.port()) + unitTable("b", b.port()) + mqttTable(broker));
  Bridge bridge(dir);
  probe.await("vantrel/status", "online");
  probe.publish("vantrel/unit/a/set", R"({"brightness":100})");
  probe.publish("vantrel/unit/b/set", R"({"brightness":0})");
  probe.await("vantrel/unit/a/state", state(100));
  probe.await("vantrel/unit/b/state", state(0));

  const auto began = Clock::now();
  probe.publish("vantrel/unit/a/set", R"({"flash":2})");
  probe.publish("vantrel/unit/b/set", R"({"flash":2,"brightness":60})");
  for (int waited = 0; waited < 100 && a.levels().size() + b.levels().size() < 12; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(a.levels(), (std::vector<int>{100, 0, 100, 0, 100, 100}));
  EXPECT_EQ(b.levels(), (std::vector<int>{0, 60, 0, 60, 0, 60}));
  const std::vector<Clock::time_point> blinks = a.arrivals();
  ASSERT_EQ(blinks.size(), 6u);
  EXPECT_GE(blinks[5] - began, std::chrono::milliseconds(1900));
  probe.await("vantrel/unit/b/state", state(60));

  probe.publish("vantrel/unit/a/set", R"({"flash":10})");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  probe.publish("vantrel/unit/a/set", R"({"brightness":30})");
  probe.await("vantrel/unit/a/state", state(30));
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const std::vector<int> levels = a.levels();
  EXPECT_EQ(levels.back(), 30);
  EXPECT_LE(levels.size(), 6u + 4u);  // three blinks at most, then 30 and nothing more
  const std::vector<std::string> states = probe.all("vantrel/unit/a/state");
  EXPECT_EQ(std::count(states.begin(), states.end(), state(0)), 0);  // the blinks are not published
}

}  // namespace
