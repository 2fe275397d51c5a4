#ifndef VANTREL_MQTT_MQTT_BRIDGE_HPP
#define VANTREL_MQTT_MQTT_BRIDGE_HPP

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "mqtt/discovery.hpp"
#include "mqtt/mqtt_settings.hpp"
#include "mqtt/state_publisher.hpp"
#include "mqtt/topics.hpp"
#include "service/front_end.hpp"

struct mosquitto;
struct mosquitto_message;

/// The MQTT front end's connection and its routing: commands from
/// T/unit|group|scene/NAME/set go to the service, what the units confirm
/// goes to StatePublisher, and Discovery describes it all to Home
/// Assistant. libmosquitto's own thread does the network, reconnecting by
/// itself while the broker is away.
class MqttBridge final : public FrontEnd {
 public:
  MqttBridge(UnitsService& service, const MqttSettings& settings, bool verbose);
  ~MqttBridge() override;
  MqttBridge(const MqttBridge&) = delete;
  MqttBridge& operator=(const MqttBridge&) = delete;

  /// Reads the password file and sets up the client.
  bool open(std::string& problem) override;
  /// Connects in the background: a broker that is away is tried again,
  /// 1 s and then longer up to 30 s apart. Never fails.
  bool start(std::string& problem) override;
  /// Publishes offline, disconnects and ends the client's thread, within a
  /// second whatever the broker does.
  void stop() override;

  void unitChanged(int unit, const UnitState& state, bool commandEnded) override;
  void groupChanged(int group, int level, bool commandEnded) override;

 private:
  enum class Link { Starting, Up, Down, Stopping };

  static void onConnect(mosquitto* client, void* self, int result);
  static void onDisconnect(mosquitto* client, void* self, int result);
  static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
  void connectFirst();
  std::string brokerName() const;
  void connected(int result);
  void disconnected(int result);
  void received(const std::string& topic, const std::string& payload);
  void command(const std::string& topic, const std::string& kind, const std::string& name,
               const std::string& payload);
  void log(const std::string& line);

  UnitsService& service_;
  const MqttSettings settings_;
  const MqttTopics topics_;
  const bool verbose_;
  mosquitto* client_ = nullptr;
  bool started_ = false;
  std::thread connector_;
  bool looping_ = false;  ///< libmosquitto's thread runs: set by connector_

  std::mutex mutex_;  ///< guards what follows
  std::condition_variable wake_;  ///< stopping, or disconnected when stopping
  Link link_ = Link::Starting;
  Discovery discovery_;
  StatePublisher states_;
};

/// The MQTT front end, on when the units file has an [mqtt] table.
FrontEndReader mqttFrontEnd(bool verbose);

#endif
