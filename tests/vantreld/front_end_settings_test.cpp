// The front ends' own tables of the units file, read by the front ends as
// vantreld reads them, with the file's reporting.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mqtt/mqtt_settings.hpp"
#include "units/units_file.hpp"
#include "web/web_settings.hpp"

namespace {

struct Settings {
  std::optional<MqttSettings> mqtt;
  std::optional<WebSettings> web;
};

bool parse(const std::string& text, Settings& settings, std::vector<std::string>& problems) {
  UnitsFile file;
  return parseUnitsFile(text, "v.toml", file, problems, [&](const UnitsFile& read, FileProblems& found) {
    if (const SettingEntry* table = read.frontEndTable("mqtt"))
      readMqttSettings(*table, settings.mqtt.emplace(), found);
    if (const SettingEntry* table = read.frontEndTable("web"))
      readWebSettings(*table, settings.web.emplace(), found);
  });
}

Settings parsed(const std::string& text) {
  Settings settings;
  std::vector<std::string> problems;
  EXPECT_TRUE(parse(text, settings, problems));
  for (const std::string& problem : problems)
    ADD_FAILURE() << problem;
  return settings;
}

std::vector<std::string> problemsOf(const std::string& text) {
  Settings settings;
  std::vector<std::string> problems;
  EXPECT_FALSE(parse(text, settings, problems));
  return problems;
}

std::string unit(const char* name) {
  return std::string("[units.") + name + "]\naddress = \"127.0.0.1\"\nport = 5001\ntype = 1\n";
}

TEST(ParseUnitsFile, ReadsTheServiceTablesWithTheirDefaults) {
  const Settings bare = parsed(unit("a"));
  EXPECT_FALSE(bare.mqtt);
  EXPECT_FALSE(bare.web);
  const Settings file = parsed(unit("a") +
                                "[mqtt]\nport = 8883\ntopic = \"shop/lights\"\ndiscovery_prefix = \"\"\n"
                                "transition = \"1.5s\"\npassword_file = \"/etc/p\"\n"
                                "[web]\nlisten = \"[::1]:9000\"\ntitle = \"Shop\"\n");
  ASSERT_TRUE(file.mqtt);
  EXPECT_EQ(file.mqtt->host, "localhost");
  EXPECT_EQ(file.mqtt->port, 8883);
  EXPECT_EQ(file.mqtt->topic, "shop/lights");
  EXPECT_EQ(file.mqtt->discoveryPrefix, "");
  EXPECT_EQ(file.mqtt->transitionUs, 1500000);
  EXPECT_EQ(file.mqtt->passwordFile, "/etc/p");
  ASSERT_TRUE(file.web);
  EXPECT_EQ(file.web->address, "::1");
  EXPECT_EQ(file.web->port, 9000);
  EXPECT_EQ(file.web->title, "Shop");
  const Settings empty = parsed(unit("a") + "[web]\n");
  EXPECT_EQ(empty.web->address, "127.0.0.1");
  EXPECT_EQ(empty.web->port, 8080);
}

TEST(ParseUnitsFile, RefusesBadServiceSettingsWhereTheyAre) {
  const std::string head = unit("a");  // 4 lines
  EXPECT_EQ(problemsOf(head + "[mqtt]\ntopic = \"a/+\"\nport = 0\nqos = 1\ntransition = \"25h\"\n"),
            (std::vector<std::string>{
                "v.toml:6:9: [mqtt] topic must be non-empty, without + or #",
                "v.toml:7:8: [mqtt] port must be a whole number from 1 to 65535",
                "v.toml:8:1: unknown key 'qos' in [mqtt]",
                "v.toml:9:14: [mqtt] transition must be a duration such as \"500ms\" or \"1.5s\", "
                "at most 24 hours"}));
  EXPECT_EQ(problemsOf(head + "[mqtt]\ntransition = 5\n"),
            (std::vector<std::string>{
                "v.toml:6:14: [mqtt] transition must be a string with its unit, such as \"5s\""}));
  EXPECT_EQ(problemsOf(head + "[web]\nlisten = \"0.0.0.0:8080\"\ntls_key_file = \"k\"\n"),
            (std::vector<std::string>{
                "v.toml:5:1: [web] needs a password_file: listen 0.0.0.0 is not a loopback "
                "address, so others on the network could reach the units",
                "v.toml:5:1: [web] tls_cert_file and tls_key_file go together: give both or "
                "neither"}));
  for (const char* listen : {"localhost:80", "1.2.3:80", "1.2.3.4", "1.2.3.4:65536", "::1:80",
                             "[x]:80", "256.0.0.1:1"})
    EXPECT_EQ(problemsOf(head + "[web]\nlisten = \"" + listen + "\"\npassword_file = \"p\"\n"),
              (std::vector<std::string>{"v.toml:6:10: [web] listen must be ADDRESS:PORT, such "
                                        "as \"127.0.0.1:8080\" or \"[::1]:8080\""}))
        << listen;
  EXPECT_EQ(problemsOf(head + "[web]\ntitle = 3\n"),
            (std::vector<std::string>{"v.toml:6:9: [web] title must be a string on one line"}));
}

}  // namespace
