#ifndef VANTREL_MQTT_STATE_PUBLISHER_HPP
#define VANTREL_MQTT_STATE_PUBLISHER_HPP

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "mqtt/topics.hpp"
#include "service/units_service.hpp"

struct mosquitto;

/// A light's state as Home Assistant's JSON light reads it, for a level
/// 0..255, or -1, not known: {"state": null}, its unknown.
std::string lightState(int level);

/// The retained states of the units and groups, and the schedules' ON or
/// OFF (each when it changed, and all on connecting). The lights' are
/// throttled: during a fade a change goes out at most once a second, a
/// command's end unless that very state just went out as its last change,
/// and all of them on connecting.
/// Split in two so that the service's thread never waits for a publish:
/// note() decides and queues under a short lock of its own, send() publishes
/// the queue on the bridge's thread, outside that lock.
class StatePublisher {
 public:
  StatePublisher(const UnitsFile& file, const MqttTopics& topics);

  enum class Why { Change, End, GroupEnd };
  enum class Kind { Unit, Group, Schedule };
  /// From any thread (the service's): queues a unit's or a group's state
  /// when due. True when the queue was empty until then: the bridge's
  /// thread is to be woken for it.
  bool note(Kind kind, std::size_t index, int level, Why why);
  /// From any thread: queues a schedule's state, "ON" or "OFF", when it is
  /// not the one that last went out; true as note() says.
  bool noteSchedule(std::size_t index, bool on);
  /// How many states were told so far, before a snapshot is taken for
  /// queueAll().
  std::uint64_t told() const;
  /// Queues every state, a level not known too (its retained state from
  /// before a boot would say a level no unit confirmed), on connecting and
  /// at a stop, and
  /// queues what note() is told from then on. A state told since `since`
  /// (told() before `snapshot` was taken) is newer than the snapshot's.
  void queueAll(const ServiceSnapshot& snapshot, std::uint64_t since);
  /// The broker is away: what is queued is dropped, and nothing more is
  /// until queueAll(); the throttle goes on as if it went out.
  void close();
  /// On the bridge's thread: publishes what is queued.
  void send(mosquitto* client);

 private:
  /// A topic's last state to go out, and the last level told of it.
  struct Published {
    int level = -1;
    std::int64_t atUs = 0;
    bool duringCommand = false;  ///< by a change since the last command ended
    int toldLevel = -1;
    std::uint64_t toldAt = 0;  ///< told_ when it was told
  };
  struct Queued {
    Kind kind;
    std::size_t index;
    int level;
  };
  /// Under mutex_.
  Published& last(Kind kind, std::size_t index);
  /// Under mutex_.
  void queue(Kind kind, std::size_t index, int level, std::int64_t nowUs);

  const UnitsFile& file_;
  const MqttTopics& topics_;
  mutable std::mutex mutex_;  ///< guards what follows; held across no call out
  std::vector<Published> units_;
  std::vector<Published> groups_;
  std::vector<Published> schedules_;  ///< level 1 on, 0 off
  std::uint64_t told_ = 0;
  bool open_ = false;  ///< connected: states are queued
  std::vector<Queued> queued_;
  std::vector<Queued> sending_;  ///< send()'s own, swapped with queued_ to keep both buffers
};

#endif
