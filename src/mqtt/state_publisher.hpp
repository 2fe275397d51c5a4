#ifndef VANTREL_MQTT_STATE_PUBLISHER_HPP
#define VANTREL_MQTT_STATE_PUBLISHER_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mqtt/topics.hpp"
#include "service/units_service.hpp"

struct mosquitto;

/// A light's state as Home Assistant's JSON light reads it, for a level 0..255.
std::string lightState(int level);

/// The retained states of the units and groups, throttled: during a fade a
/// change goes out at most once a second, a command's end unless that very
/// state just went out as its last change, and all of them on connecting.
/// Not thread-safe: the bridge calls it under its lock.
class StatePublisher {
 public:
  StatePublisher(const UnitsFile& file, const MqttTopics& topics);

  enum class Why { Change, End, GroupEnd, Connect };
  enum class Kind { Unit, Group };
  /// Publishes a unit's or a group's state when due.
  void publish(mosquitto* client, Kind kind, std::size_t index, int level, Why why);
  /// Every state that is known, on connecting.
  void publishAll(mosquitto* client, const ServiceSnapshot& snapshot);

 private:
  /// The last state published on a topic.
  struct Published {
    std::string payload;
    std::int64_t atUs = 0;
    bool duringCommand = false;  ///< by a change since the last command ended
  };

  const UnitsFile& file_;
  const MqttTopics& topics_;
  std::vector<Published> units_;
  std::vector<Published> groups_;
};

#endif
