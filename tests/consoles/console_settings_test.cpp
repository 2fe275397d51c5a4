// The [sacn] and [artnet] tables and the units' sacn and artnet keys, read
// as vantreld reads them, with the file's reporting.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "consoles/console_settings_reading.hpp"
#include "units/units_file.hpp"

namespace {

bool parse(const std::string& text, ConsoleSettings& settings, std::vector<std::string>& problems) {
  UnitsFile file;
  return parseUnitsFile(text, "v.toml", file, problems, [&](const UnitsFile& read, FileProblems& found) {
    readConsoleSettings(read, settings, found);
  });
}

std::string unit(const char* name, int port, const std::string& keys = "") {
  return std::string("[units.") + name + "]\naddress = \"127.0.0.1\"\nport = " + std::to_string(port) +
         "\ntype = 1\n" + keys;
}

TEST(ConsoleSettings, ReadsBothTablesAndTheUnitsChannels) {
  ConsoleSettings settings;
  std::vector<std::string> problems;
  ASSERT_TRUE(parse(unit("a", 1, "sacn = \"1/5\"\nartnet = \"0:1:2/3\"\n") + unit("b", 2) +
                        unit("c", 3, "sacn = \"1/5\"\n") +
                        "[scenes.safe]\na = 10\n"
                        "[sacn]\nlisten = \"10.0.0.2\"\nsources = [\"10.0.0.1\", \"10.0.0.9\"]\n"
                        "on_loss = \"safe\"\nloss_timeout = \"1.5s\"\n"
                        "[artnet]\non_loss = \"off\"\n",
                    settings, problems))
      << (problems.empty() ? "" : problems[0]);
  ASSERT_TRUE(settings.sacn && settings.artnet);
  EXPECT_EQ(settings.sacn->listen, 0x0a000002u);
  EXPECT_EQ(settings.sacn->sources, (std::vector<std::uint32_t>{0x0a000001, 0x0a000009}));
  EXPECT_EQ(settings.sacn->onLoss, ConsoleInputSettings::OnLoss::Scene);
  EXPECT_EQ(settings.sacn->scene, 0);
  EXPECT_EQ(settings.sacn->lossTimeoutUs, 1500000);
  EXPECT_EQ(settings.artnet->onLoss, ConsoleInputSettings::OnLoss::Off);
  EXPECT_EQ(settings.artnet->listen, 0u);
  ASSERT_EQ(settings.sacnChannels.size(), 3u);
  EXPECT_EQ(settings.sacnChannels[0]->universe, 1);
  EXPECT_EQ(settings.sacnChannels[0]->channel, 5);
  EXPECT_FALSE(settings.sacnChannels[1]);
  EXPECT_EQ(settings.sacnChannels[2]->channel, 5);  // units may share a channel
  EXPECT_EQ(settings.artnetChannels[0]->universe, 0x012);
  EXPECT_EQ(settings.artnetChannels[0]->channel, 3);

  ConsoleSettings defaults;
  ASSERT_TRUE(parse(unit("a", 1, "artnet = \"7/1\"\n") + "[artnet]\n", defaults, problems));
  EXPECT_FALSE(defaults.sacn);
  EXPECT_EQ(defaults.artnet->onLoss, ConsoleInputSettings::OnLoss::Hold);
  EXPECT_EQ(defaults.artnetChannels[0]->universe, 7);
}

TEST(ConsoleSettings, EveryProblemIsReportedWhereItIs) {
  ConsoleSettings settings;
  std::vector<std::string> problems;
  EXPECT_FALSE(parse(unit("a", 1, "sacn = \"0/5\"\nartnet = 5\n") +       // lines 5, 6
                         unit("b", 2, "sacn = \"1/5\"\n") +                 // line 11
                         "[sacn]\nlisten = \"10.0.0.256\"\nsources = [\"10.0.0.1\", 7]\n"
                         "on_loss = \"nowhere\"\nloss_timeout = \"0\"\nspeed = 1\n"
                         "[artnet]\nloss_timeout = \"1s\"\ncurve = \"gamma\"\n",
                     settings, problems));
  EXPECT_EQ(problems, (std::vector<std::string>{
      "v.toml:5:8: unit 'a': sacn: the universe must be a whole number from 1 to 63999, not \"0\"",
      "v.toml:6:10: unit 'a': artnet must be a string such as \"0:0:1/5\"",
      "v.toml:13:10: [sacn] listen must be an IPv4 address of this machine, such as \"192.168.1.10\"",
      "v.toml:14:11: [sacn] sources must be a list of IPv4 addresses, such as [\"192.168.1.20\"]",
      "v.toml:15:11: [sacn] on_loss must be \"hold\", \"off\" or the name of a scene",
      "v.toml:16:16: [sacn] loss_timeout must be a duration from \"100ms\" to \"60s\", such as \"2.5s\"",
      "v.toml:17:1: unknown key 'speed' in [sacn]",
      "v.toml:19:1: unknown key 'loss_timeout' in [artnet]",
      "v.toml:20:9: [artnet] curve must be \"unit\" (a channel's value is a level, through the unit's "
      "curve) or \"raw\" (it is the byte sent)"}));

  problems.clear();
  EXPECT_FALSE(parse(unit("a", 1, "artnet = \"1/5\"\n") + "[sacn]\n", settings, problems));
  EXPECT_EQ(problems, (std::vector<std::string>{
      "v.toml:5:1: unit 'a': artnet needs the [artnet] table to turn the input on",
      "v.toml:6:1: [sacn] drives no unit: give a unit a sacn key, such as sacn = \"1/5\""}));
}

}  // namespace
