#ifndef VANTREL_MQTT_DISCOVERY_HPP
#define VANTREL_MQTT_DISCOVERY_HPP

#include <set>
#include <string>
#include <vector>

#include "mqtt/topics.hpp"
#include "units/units_file.hpp"

struct mosquitto;

/// One retained message the bridge publishes.
struct MqttMessage {
  std::string topic;
  std::string payload;
};

/// The Home Assistant discovery configurations of every unit, group and
/// scene of `file` (none when discovery is off): a light per unit, with a
/// device of its own reached through the service's device, a light per
/// group, a scene per scene and a switch per schedule on the service's
/// device; each says that
/// vantreld published it (its origin).
std::vector<MqttMessage> discoveryMessages(const UnitsFile& file, const MqttTopics& topics);

/// The configuration of the saved scene `name`: a scene whose unique id is NODEID_saved_scene_NAME,
/// recalled on T/scene/NAME/set as a written one.
MqttMessage savedSceneMessage(const MqttTopics& topics, const std::string& name);

/// The topic filters that match every configuration this bridge's node
/// can have published, so that it can read back its own.
std::vector<std::string> discoveryFilters(const MqttTopics& topics);

/// Home Assistant discovery for one bridge: its configurations, published
/// on connecting and again whenever Home Assistant comes back, and the
/// sweep that clears the configurations this node published before and the
/// units file no longer has. Called on the bridge's own thread alone, so
/// without a lock; does nothing when discovery is off.
class Discovery {
 public:
  Discovery(const UnitsFile& file, const MqttTopics& topics, bool verbose);

  /// On connecting, before the bridge says online: hears Home Assistant's
  /// status, and reads back this node's configurations as the broker keeps
  /// them.
  void subscribe(mosquitto* client);
  /// Publishes every configuration, the saved scenes' included.
  void publish(mosquitto* client);
  /// The saved scenes, as the service's snapshot names them, before publish() on connecting.
  void setSaved(const std::vector<std::string>& saved);
  /// The saved scenes changed to `saved`: each is published, each gone cleared (an empty
  /// retained configuration).
  void publishSaved(mosquitto* client, const std::vector<std::string>& saved);
  /// Once the states went out after connecting: a message of our own whose
  /// echo says that every retained configuration has come.
  void startSweep(mosquitto* client);
  /// A message the bridge received: true when it was discovery's.
  bool heard(mosquitto* client, const std::string& topic, const std::string& payload);

 private:
  void sweep(mosquitto* client);

  const MqttTopics& topics_;
  const bool verbose_;
  const std::vector<MqttMessage> messages_;
  const std::string syncTopic_;  ///< a private topic: its echo says the retained ones have all come
  std::set<std::string> stale_;  ///< configurations read back that the file no longer has
  std::set<std::string> saved_;  ///< the saved scenes published
  bool syncing_ = false;
};

#endif
