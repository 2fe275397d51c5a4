// Saved scenes through vantreld end to end: the built vantreld and vantrel, a real broker and
// units served on 127.0.0.1; saved from one front end and recalled from another, their discovery
// seen by a subscriber, kept across a restart, and a save that cannot be written said in one line.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/child_process.hpp"
#include "support/mqtt_peers.hpp"
#include "support/serving_unit.hpp"
#include "support/temp_dir.hpp"
#include "support/vantreld_process.hpp"

namespace {

using Json = nlohmann::json;

std::string unitTable(const std::string& name, const std::string& port) {
  return "[units." + name + "]\naddress = \"127.0.0.1\"\nport = " + port + "\ntype = 1\n";
}

/// The unit's levels once it has `count` of them, or after 5 s.
std::vector<int> levelsOnce(const ServingUnit& unit, std::size_t count) {
  for (int waited = 0; waited < 100 && unit.levels().size() < count; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return unit.levels();
}

const char kConfig[] = "homeassistant/scene/vantrel/saved_scene_evening/config";

class SavedScenesMqtt : public ::testing::Test {
 protected:
  SavedScenesMqtt() : broker_(dir_), probe_(broker_.port()) {
    writeText(dir_.path("vantrel.toml"),
              unitTable("a", a_.port()) + unitTable("b", b_.port()) + unitTable("c", c_.port()) +
                  "[groups]\nab = [\"a\", \"b\"]\n[scenes.open]\na = 255\n"
                  "[mqtt]\nhost = \"127.0.0.1\"\nport = " + broker_.port() + "\n");
  }
  /// vantrel through the service, with the service's units file.
  ChildResult vantrel(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {VANTREL_PATH, "--config", dir_.path("vantrel.toml")};
    argv.insert(argv.end(), args.begin(), args.end());
    return runChild(argv, {"VANTREL_STATE=" + dir_.path("user-levels"),
                           "VANTREL_SOCKET=" + dir_.path("vantreld.sock")}, 30000);
  }
  void request(const std::string& payload) { probe_.publish("vantrel/scenes/set", payload); }

  TempDir dir_;
  MqttBroker broker_;
  MqttProbe probe_;
  ServingUnit a_;
  ServingUnit b_;
  ServingUnit c_;
};

TEST_F(SavedScenesMqtt, SavedFromOneFrontEndRecalledFromTheOtherAndKeptAcrossARestart) {
  auto bridge = std::make_unique<VantreldProcess>(dir_);
  probe_.await("vantrel/status", "online");
  ASSERT_EQ(vantrel({"set", "a", "40"}).exitStatus, 0);
  ASSERT_EQ(vantrel({"set", "b", "90"}).exitStatus, 0);

  // MQTT saves every unit; c's level is not known: left out and named, once.
  request(R"({"save": "evening"})");
  EXPECT_TRUE(bridge->sees("vantreld: vantrel/scenes/set: scene 'evening': left out, level not known: c"));
  const Json config = Json::parse(probe_.await(kConfig, [](const std::string& p) { return !p.empty(); }),
                                  nullptr, false);
  ASSERT_TRUE(config.is_object()) << config;
  EXPECT_EQ(config.value("unique_id", ""), "vantrel_saved_scene_evening");
  EXPECT_EQ(config.value("command_topic", ""), "vantrel/scene/evening/set");
  request(R"({"save": "x", "units": ["c"]})");
  EXPECT_TRUE(bridge->sees("vantreld: vantrel/scenes/set: scene 'x' not saved: no unit's level is known: c"));

  // The shell recalls what MQTT saved.
  ASSERT_EQ(vantrel({"set", "all", "0"}).exitStatus, 0);
  const ChildResult recalled = vantrel({"scene", "evening"});
  EXPECT_EQ(recalled.exitStatus, 0) << recalled.err;
  EXPECT_EQ(a_.levelsEndingWith(40), (std::vector<int>{40, 0, 40}));
  EXPECT_EQ(b_.levelsEndingWith(90), (std::vector<int>{90, 0, 90}));

  // The shell saves a group, replacing it; MQTT recalls it as Home Assistant would.
  ASSERT_EQ(vantrel({"set", "a", "7"}).exitStatus, 0);
  const ChildResult saved = vantrel({"scene", "save", "evening", "ab"});
  EXPECT_EQ(saved.exitStatus, 0) << saved.err;
  EXPECT_EQ(saved.out, "Saved scene 'evening': 2 units.\n");
  // Replaced: described again at once, the same entity.
  for (int waited = 0; waited < 100 && probe_.all(kConfig).size() < 2; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(probe_.all(kConfig).size(), 2u);
  EXPECT_EQ(probe_.all(kConfig)[1], probe_.all(kConfig)[0]);
  ASSERT_EQ(vantrel({"set", "ab", "0"}).exitStatus, 0);
  probe_.publish("vantrel/scene/evening/set", "ON");
  EXPECT_EQ(levelsOnce(a_, 6), (std::vector<int>{40, 0, 40, 7, 0, 7}));
  EXPECT_EQ(levelsOnce(b_, 5), (std::vector<int>{90, 0, 90, 0, 90}));
  EXPECT_EQ(c_.levels(), (std::vector<int>{0}));

  // Bad requests: one line each, nothing changed.
  request(R"({"save": "open"})");
  EXPECT_TRUE(bridge->sees("vantreld: vantrel/scenes/set: " + dir_.path("vantrel.toml") +
                           ":15: scene 'open' is written in the units file: a saved scene takes "
                           "another name"));
  request(R"({"save": "x", "colour": 1})");
  EXPECT_TRUE(bridge->sees("vantreld: vantrel/scenes/set: unknown key 'colour'"));
  request(R"({"save": "x", "units": ["nobody"]})");
  EXPECT_TRUE(bridge->sees("vantreld: vantrel/scenes/set: unknown unit or group 'nobody'"));
  request("{not json");
  EXPECT_TRUE(bridge->sees("vantreld: vantrel/scenes/set: not valid JSON"));

  // A restart keeps it, and publishes it again.
  EXPECT_EQ(bridge->stop(SIGTERM), 0);
  bridge.reset();
  sameBootAsBefore(dir_);
  probe_.publish(kConfig, "", true);
  probe_.await(kConfig, "");
  bridge = std::make_unique<VantreldProcess>(dir_);
  probe_.await(kConfig, [](const std::string& p) { return !p.empty(); });
  const ChildResult listed = vantrel({"list"});
  EXPECT_NE(listed.out.find("evening (saved)"), std::string::npos) << listed.out;

  // Removed from MQTT: its configuration cleared, its name unknown to the shell.
  request(R"({"remove": "evening"})");
  probe_.await(kConfig, "");
  const ChildResult gone = vantrel({"scene", "evening"});
  EXPECT_EQ(gone.exitStatus, 2);
  EXPECT_EQ(gone.err.substr(0, gone.err.find('\n')), "vantrel: unknown scene 'evening'");
  a_.finish();
  b_.finish();
  c_.finish();
}

// The tool chooses the units by its own file; the name is the service's file's to refuse.
TEST_F(SavedScenesMqtt, ANameTheServicesFileWritesIsRefusedWhateverTheToolsFileSays) {
  VantreldProcess bridge(dir_);
  probe_.await("vantrel/status", "online");
  ASSERT_EQ(vantrel({"set", "a", "40"}).exitStatus, 0);
  writeText(dir_.path("tool.toml"), unitTable("a", a_.port()));
  const ChildResult saved =
      runChild({VANTREL_PATH, "--config", dir_.path("tool.toml"), "scene", "save", "open"},
               {"VANTREL_STATE=" + dir_.path("user-levels"),
                "VANTREL_SOCKET=" + dir_.path("vantreld.sock")},
               30000);
  EXPECT_EQ(saved.exitStatus, 2);
  EXPECT_EQ(saved.err, dir_.path("vantrel.toml") +
                           ":15: scene 'open' is written in the units file: a saved scene takes "
                           "another name\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.path("levels.scenes")));
  EXPECT_EQ(bridge.stop(SIGTERM), 0);
  a_.finish();
  b_.finish();
  c_.finish();
}

TEST_F(SavedScenesMqtt, ASaveThatCannotBeWrittenIsOneLineAndKeepsTheScenesBefore) {
  VantreldProcess bridge(dir_);
  probe_.await("vantrel/status", "online");
  ASSERT_EQ(vantrel({"set", "a", "30"}).exitStatus, 0);
  request(R"({"save": "before", "units": ["a"]})");
  probe_.await("homeassistant/scene/vantrel/saved_scene_before/config",
               [](const std::string& p) { return !p.empty(); });
  // Root writes anywhere: a folder where the new file would go stops even root.
  std::filesystem::create_directories(dir_.path("levels.scenes.tmp"));
  request(R"({"save": "evening"})");
  EXPECT_TRUE(bridge.sees("vantreld: vantrel/scenes/set: scene 'evening' not saved: cannot create " +
                          dir_.path("levels.scenes.tmp") + ": "));
  const ChildResult saved = vantrel({"scene", "save", "evening", "a"});
  EXPECT_EQ(saved.exitStatus, 1);
  EXPECT_EQ(saved.err.substr(0, saved.err.find(": cannot create ")),
            "vantrel: scene 'evening' not saved");
  EXPECT_EQ(std::count(saved.err.begin(), saved.err.end(), '\n'), 1) << saved.err;
  EXPECT_EQ(probe_.last(kConfig), "(none)");
  ASSERT_EQ(vantrel({"scene", "before"}).exitStatus, 0);
  a_.finish();
  EXPECT_EQ(a_.levels(), (std::vector<int>{30, 30}));
}

// A real full disk: the service's state on a tiny tmpfs of its own mount namespace, filled up
// from outside through /proc/PID/root.
TEST_F(SavedScenesMqtt, AFullFilesystemIsOneClearLineAndLosesNoSceneBefore) {
  if (runChild({"/usr/bin/unshare", "-m", "/bin/true"}, {}, 10000).exitStatus != 0)
    GTEST_SKIP() << "no mount namespace may be made here";
  const std::string state = dir_.path("state");
  std::filesystem::create_directories(state);
  writeText(bootIdFile(dir_), "boot-1\n");
  BackgroundChild service({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                           "mount -t tmpfs -o size=64k tmpfs \"$1\" && shift && exec \"$@\" 2>&1", "sh",
                           state, VANTRELD_PATH, "--config", dir_.path("vantrel.toml")},
                          {"VANTREL_STATE=" + state + "/levels", "VANTREL_SOCKET=" + dir_.path("vantreld.sock"),
                           "VANTREL_BOOT_ID_FILE=" + bootIdFile(dir_)});
  probe_.await("vantrel/status", "online");
  ASSERT_EQ(vantrel({"set", "a", "30"}).exitStatus, 0);
  request(R"({"save": "before", "units": ["a"]})");
  probe_.await("homeassistant/scene/vantrel/saved_scene_before/config",
               [](const std::string& p) { return !p.empty(); });
  {
    std::ofstream filler("/proc/" + std::to_string(service.pid()) + "/root" + state + "/filler");
    const std::string block(4096, 'x');
    for (int i = 0; i < 64 && filler; ++i)
      filler << block << std::flush;
  }
  request(R"({"save": "evening"})");
  std::string line;
  std::string seen;
  for (int i = 0; i < 50 && line.find("vantrel/scenes/set") == std::string::npos; ++i) {
    line = service.readLine(5000);
    seen += line + "\n";
  }
  EXPECT_EQ(line.substr(0, line.find(": cannot ")),
            "vantreld: vantrel/scenes/set: scene 'evening' not saved") << seen;
  EXPECT_NE(line.find(state + "/levels.scenes.tmp: No space left on device"), std::string::npos) << line;
  EXPECT_EQ(probe_.last(kConfig), "(none)");
  ASSERT_EQ(vantrel({"scene", "before"}).exitStatus, 0);
  EXPECT_EQ(service.stop(SIGTERM, 10000), 0);
  a_.finish();
  EXPECT_EQ(a_.levels(), (std::vector<int>{30, 30}));
}

// Killed while saving one scene after another: whatever it was writing, the file is whole, and
// holds the scene saved before.
TEST_F(SavedScenesMqtt, AKillDuringSavesLeavesTheScenesWhole) {
  auto bridge = std::make_unique<VantreldProcess>(dir_);
  probe_.await("vantrel/status", "online");
  ASSERT_EQ(vantrel({"set", "a", "30"}).exitStatus, 0);
  request(R"({"save": "before", "units": ["a"]})");
  probe_.await("homeassistant/scene/vantrel/saved_scene_before/config",
               [](const std::string& p) { return !p.empty(); });
  for (int i = 0; i < 40; ++i)
    request(R"({"save": "s)" + std::to_string(i) + R"("})");
  probe_.await("homeassistant/scene/vantrel/saved_scene_s0/config",
               [](const std::string& p) { return !p.empty(); });
  bridge->stop(SIGKILL);
  bridge.reset();
  // The user's own run, direct, on the service's files: no damaged line, the scene before there.
  std::vector<std::string> argv = {VANTREL_PATH, "--direct", "--config", dir_.path("vantrel.toml"), "list"};
  const ChildResult listed = runChild(argv, {"VANTREL_STATE=" + dir_.path("levels")}, 30000);
  EXPECT_EQ(listed.exitStatus, 0);
  EXPECT_EQ(listed.err, "");
  EXPECT_NE(listed.out.find("  before (saved)  a 30\n"), std::string::npos) << listed.out;
}

}  // namespace
