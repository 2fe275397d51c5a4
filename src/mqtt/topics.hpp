#ifndef VANTREL_MQTT_TOPICS_HPP
#define VANTREL_MQTT_TOPICS_HPP

#include <string>

#include "mqtt/mqtt_settings.hpp"

struct mosquitto;

/// The topics of the bridge under the [mqtt] topic prefix.
struct MqttTopics {
  explicit MqttTopics(const MqttSettings& settings);

  std::string status;      ///< T/status: online, offline
  std::string discovery;   ///< the discovery prefix, "" when discovery is off
  std::string nodeId;      ///< the discovery topics' node, made from T
  std::string scenes;      ///< T/scenes/set: saved scenes saved and removed
  std::string unit(const std::string& name, const char* leaf) const;   ///< T/unit/NAME/LEAF
  std::string group(const std::string& name, const char* leaf) const;  ///< T/group/NAME/LEAF
  std::string scene(const std::string& name) const;                    ///< T/scene/NAME/set
  std::string schedule(const std::string& name, const char* leaf) const;  ///< T/schedules/NAME/LEAF

  std::string prefix;  ///< T
};

/// `text` as Home Assistant takes an id: a-z A-Z 0-9 _ - alone, any other
/// character made '_'.
std::string discoveryId(const std::string& text);

/// Queues a retained message for the client's thread; while the broker is
/// away it is dropped, and what matters goes out again on connecting.
void publishRetained(mosquitto* client, const std::string& topic, const std::string& payload);

#endif
