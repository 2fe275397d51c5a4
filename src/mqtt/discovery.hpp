#ifndef VANTREL_MQTT_DISCOVERY_HPP
#define VANTREL_MQTT_DISCOVERY_HPP

#include <string>
#include <vector>

#include "units/units_file.hpp"

/// One retained message the bridge publishes.
struct MqttMessage {
  std::string topic;
  std::string payload;
};

/// The topics of the bridge under the [mqtt] topic prefix.
struct MqttTopics {
  explicit MqttTopics(const MqttSettings& settings);

  std::string status;      ///< T/status: online, offline
  std::string discovery;   ///< the discovery prefix, "" when discovery is off
  std::string nodeId;      ///< the discovery topics' node, made from T
  std::string unit(const std::string& name, const char* leaf) const;   ///< T/unit/NAME/LEAF
  std::string group(const std::string& name, const char* leaf) const;  ///< T/group/NAME/LEAF
  std::string scene(const std::string& name) const;                    ///< T/scene/NAME/set

  std::string prefix;  ///< T
};

/// The Home Assistant discovery configurations of every unit, group and
/// scene of `file` (none when discovery is off): a light per unit, with a
/// device of its own, a light per group, a scene per scene.
std::vector<MqttMessage> discoveryMessages(const UnitsFile& file, const MqttTopics& topics);

/// The topic filters that match every configuration this bridge's node
/// can have published, so that it can read back its own.
std::vector<std::string> discoveryFilters(const MqttTopics& topics);

/// A light's state as Home Assistant's JSON light reads it, for a level 0..255.
std::string lightState(int level);

#endif
