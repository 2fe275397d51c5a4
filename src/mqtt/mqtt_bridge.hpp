#ifndef VANTREL_MQTT_MQTT_BRIDGE_HPP
#define VANTREL_MQTT_MQTT_BRIDGE_HPP

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/socket_wait.hpp"
#include "mqtt/discovery.hpp"
#include "mqtt/mqtt_settings.hpp"
#include "mqtt/state_publisher.hpp"
#include "mqtt/topics.hpp"
#include "service/front_end.hpp"

struct mosquitto;
struct mosquitto_message;

/// The MQTT front end's connection and its routing: commands from
/// T/unit|group|scene/NAME/set go to the service, ON and OFF from
/// T/schedules/NAME/set switch a schedule, what the units confirm
/// goes to StatePublisher, and Discovery describes it all to Home
/// Assistant. A thread of the bridge's own runs libmosquitto's loop and
/// tries again, whatever ended the connection, while the broker is away;
/// every publish is that thread's, so that the service's thread, which
/// tells the bridge what the units confirm, never waits for one.
class MqttBridge final : public FrontEnd {
 public:
  /// Connects `client` as mosquitto_connect_async() does, looking up the
  /// broker's name on the way, which may take as long as the name service
  /// does; a MOSQ_ERR_ value.
  using BrokerConnect =
      std::function<int(mosquitto* client, const std::string& host, int port, int keepAliveS)>;

  MqttBridge(UnitsService& service, const MqttSettings& settings, bool verbose);
  ~MqttBridge() override;
  MqttBridge(const MqttBridge&) = delete;
  MqttBridge& operator=(const MqttBridge&) = delete;

  /// Reads the password file and sets up the client.
  bool open(std::string& problem) override;
  /// Replaces mosquitto_connect_async(), for a test.
  void connectWith(BrokerConnect connect);
  /// Replaces UnitsService::snapshot(), which the bridge's thread asks for
  /// on connecting and at a stop, for a test; before start().
  void snapshotWith(std::function<ServiceSnapshot()> snapshot);
  /// Connects in the background: a broker that is away, refuses or cannot
  /// be trusted is tried again, 1 s and then longer up to 30 s apart; the
  /// pause is 1 s again once a connection held for kHeldS. Each outage is
  /// logged once. Never fails.
  bool start(std::string& problem) override;
  /// Has the bridge's thread publish every confirmed level, then offline,
  /// and disconnect; ends that thread, within a second whatever the broker
  /// or the name service does.
  void stop() override;

  static constexpr int kHeldS = 10;

  /// On the service's thread: queue the state when due and wake the
  /// bridge's thread, which publishes it; no lock is held across a publish.
  void unitChanged(int unit, const UnitState& state, bool commandEnded) override;
  void groupChanged(int group, int level, bool commandEnded) override;
  /// On the service's thread: the bridge's thread publishes the saved scenes' discovery.
  void savedScenesChanged(const std::vector<std::string>& saved) override;
  void scheduleChanged(int schedule, const ServiceSnapshot::Schedule& state) override;

 private:
  enum class Link { Starting, Up, Down };
  struct Attempt;

  static void onConnect(mosquitto* client, void* self, int result);
  static void onDisconnect(mosquitto* client, void* self, int result);
  static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
  static void onLog(mosquitto* client, void* self, int level, const char* text);
  void run();
  void waitForBroker();
  void sayGoodbye();
  int connectOnce(std::string& reason);
  void pause(int seconds);
  std::string brokerName() const;
  void connected(int result);
  void disconnected(int result);
  void failed(int result, std::string reason);
  void outage(const std::string& what, const std::string& reason);
  void received(const std::string& topic, const std::string& payload, bool retained);
  void command(const std::string& topic, const std::string& kind, const std::string& name,
               const std::string& payload);
  /// A request on T/scenes/set: save or remove a saved scene.
  void savedScenes(const std::string& topic, const std::string& payload);
  void switchSchedule(const std::string& topic, const std::string& name, const std::string& payload);
  void log(const std::string& line);

  UnitsService& service_;
  const MqttSettings settings_;
  const MqttTopics topics_;
  const bool verbose_;
  mosquitto* client_ = nullptr;  ///< null once an abandoned connect owns it
  BrokerConnect connect_;
  std::function<ServiceSnapshot()> snapshot_;
  bool started_ = false;
  std::thread link_;
  WakeUp wakeUp_;  ///< ends the link thread's wait: states queued, a goodbye, a stop

  std::mutex mutex_;  ///< guards what follows; held across no libmosquitto call, no snapshot
  std::condition_variable wake_;  ///< stopping, or disconnected when stopping
  Link state_ = Link::Starting;
  bool leaving_ = false;   ///< stopping: the link's ends are ours, not told
  bool stopping_ = false;  ///< the link thread ends
  bool goodbye_ = false;  ///< the link thread is to say offline and disconnect
  std::int64_t upSinceUs_ = 0;  ///< when the connection now up was accepted
  bool refused_ = false;         ///< the broker refused the connection now ending
  std::string outageReason_;     ///< the last reason told of this outage
  std::shared_ptr<Attempt> attempt_;  ///< the connect under way
  bool savedChanged_ = false;         ///< the saved scenes' discovery is to be published
  std::vector<std::string> saved_;    ///< the saved scenes, as last told

  // The link thread's own.
  std::set<std::string> retainedTold_;  ///< topics whose retained command was logged
  Discovery discovery_;

  StatePublisher states_;  ///< thread-safe

  std::mutex tlsMutex_;     ///< guards what follows
  std::string tlsProblem_;  ///< libmosquitto's last TLS error, for the log
};

/// The MQTT front end, on when the units file has an [mqtt] table.
FrontEndReader mqttFrontEnd(bool verbose);

#endif
