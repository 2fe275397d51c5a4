#ifndef VANTREL_MQTT_MQTT_SETTINGS_HPP
#define VANTREL_MQTT_MQTT_SETTINGS_HPP

#include <cstdint>
#include <string>

#include "units/settings_table.hpp"

/// The [mqtt] table of the units file: how vantreld reaches its broker.
struct MqttSettings {
  std::string host = "localhost";
  std::uint16_t port = 1883;
  std::string username;           ///< empty: none
  std::string passwordFile;       ///< empty: none
  std::string tlsCaFile;          ///< empty: no TLS
  std::string topic = "vantrel";  ///< non-empty, without + or #
  std::string discoveryPrefix = "homeassistant";  ///< empty: no discovery
  std::int64_t transitionUs = 0;  ///< for commands that give none; 0..24 h
};

/// Reads the [mqtt] table into `settings`, adding each problem where it is.
void readMqttSettings(const SettingEntry& table, MqttSettings& settings, FileProblems& problems);

#endif
