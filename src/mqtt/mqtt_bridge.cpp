#include "mqtt/mqtt_bridge.hpp"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <mosquitto.h>

#include "service/secret_file.hpp"

namespace {

constexpr int kKeepAliveS = 60;

bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// libmosquitto's words, without the full stop some of them end in.
std::string withoutFullStop(std::string words) {
  if (!words.empty() && words.back() == '.')
    words.pop_back();
  return words;
}

std::string reasonOf(int result) {
  return withoutFullStop(result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result));
}

}  // namespace

MqttBridge::MqttBridge(UnitsService& service, const MqttSettings& settings, bool verbose)
    : service_(service),
      settings_(settings),
      topics_(settings),
      verbose_(verbose),
      discovery_(service.file(), topics_, verbose),
      states_(service.file(), topics_) {}

MqttBridge::~MqttBridge() {
  stop();
  if (client_ != nullptr)
    mosquitto_destroy(client_);
  mosquitto_lib_cleanup();
}

bool MqttBridge::open(std::string& problem) {
  mosquitto_lib_init();
  client_ = mosquitto_new(nullptr, true, this);
  if (client_ == nullptr) {
    problem = std::string("cannot make an MQTT client: ") + std::strerror(errno);
    return false;
  }
  std::string password;
  if (!settings_.passwordFile.empty()) {
    std::string warning;
    if (!readSecretFile(settings_.passwordFile, password, problem, warning))
      return false;
    if (!warning.empty())
      log(warning);
  }
  const char* username = settings_.username.empty() ? nullptr : settings_.username.c_str();
  mosquitto_username_pw_set(client_, username, password.empty() ? nullptr : password.c_str());
  if (!settings_.tlsCaFile.empty()) {
    const int result =
        mosquitto_tls_set(client_, settings_.tlsCaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
      problem = settings_.tlsCaFile + ": cannot use it for TLS: " + reasonOf(result);
      return false;
    }
  }
  mosquitto_will_set(client_, topics_.status.c_str(), 7, "offline", 1, true);
  // Commands and states are a few bytes each: none should wait for another.
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
  mosquitto_connect_callback_set(client_, onConnect);
  mosquitto_disconnect_callback_set(client_, onDisconnect);
  mosquitto_message_callback_set(client_, onMessage);
  return true;
}

bool MqttBridge::start(std::string&) {
  started_ = true;
  connector_ = std::thread([this] { connectFirst(); });
  return true;
}

void MqttBridge::connectFirst() {
  // libmosquitto's thread tries again by itself only once a first try got
  // as far as a connection: until then the tries are ours.
  int pauseS = 1;
  for (;;) {
    const int result =
        mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, kKeepAliveS);
    if (result == MOSQ_ERR_SUCCESS || result == MOSQ_ERR_CONN_PENDING) {
      mosquitto_loop_start(client_);
      looping_ = true;
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (link_ == Link::Starting)
      log("cannot reach " + brokerName() + ": " + reasonOf(result) + "; trying again");
    link_ = Link::Down;
    if (wake_.wait_for(lock, std::chrono::seconds(pauseS), [this] { return link_ == Link::Stopping; }))
      return;
    pauseS = std::min(pauseS * 2, 30);
  }
}

void MqttBridge::stop() {
  if (!started_)
    return;
  started_ = false;
  bool wasUp;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wasUp = link_ == Link::Up;
    link_ = Link::Stopping;
  }
  wake_.notify_all();
  connector_.join();
  if (!looping_)
    return;
  if (wasUp)
    publishRetained(client_, topics_.status, "offline");
  // Queued after offline, so sent after it; the broker keeps no last will
  // for a client that says goodbye.
  mosquitto_disconnect(client_);
  if (wasUp) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return link_ == Link::Down; });
  }
  // A client between tries would sleep out its pause: end it.
  mosquitto_loop_stop(client_, true);
}

std::string MqttBridge::brokerName() const {
  return "the MQTT broker at " + settings_.host + ":" + std::to_string(settings_.port);
}

void MqttBridge::onConnect(mosquitto*, void* self, int result) {
  static_cast<MqttBridge*>(self)->connected(result);
}

void MqttBridge::onDisconnect(mosquitto*, void* self, int result) {
  static_cast<MqttBridge*>(self)->disconnected(result);
}

void MqttBridge::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
  const char* bytes = static_cast<const char*>(message->payload);
  const std::string payload =
      bytes == nullptr ? std::string() : std::string(bytes, static_cast<std::size_t>(message->payloadlen));
  static_cast<MqttBridge*>(self)->received(message->topic, payload);
}

void MqttBridge::connected(int result) {
  const std::string broker = brokerName();
  std::lock_guard<std::mutex> lock(mutex_);
  if (link_ == Link::Stopping)
    return;
  if (result != 0) {
    if (link_ != Link::Down)
      log(broker + " refused the connection: " + withoutFullStop(mosquitto_connack_string(result)) +
          "; trying again");
    link_ = Link::Down;
    return;
  }
  if (link_ == Link::Down)
    log("connected to " + broker + " again");
  else if (verbose_) {
    std::printf("vantreld: connected to %s\n", broker.c_str());
    std::fflush(stdout);
  }
  link_ = Link::Up;
  // Subscribed before it says online, so that a command sent on seeing
  // online is heard: the broker takes a client's packets in order.
  for (const char* kind : {"unit", "group", "scene"}) {
    const std::string filter = topics_.prefix + "/" + kind + "/+/set";
    mosquitto_subscribe(client_, nullptr, filter.c_str(), 0);
  }
  discovery_.subscribe(client_);
  publishRetained(client_, topics_.status, "online");
  discovery_.publish(client_);
  states_.publishAll(client_, service_.snapshot());
  discovery_.startSweep(client_);
}

void MqttBridge::disconnected(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (link_ == Link::Stopping || result == 0) {
    link_ = Link::Down;
    wake_.notify_all();
    return;
  }
  const std::string broker = brokerName();
  if (link_ == Link::Up)
    log("lost " + broker + ": " + reasonOf(result) + "; trying again");
  else if (link_ == Link::Starting)
    log("cannot reach " + broker + ": " + reasonOf(result) + "; trying again");
  link_ = Link::Down;
}

void MqttBridge::received(const std::string& topic, const std::string& payload) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (discovery_.heard(client_, topic, payload))
      return;
  }
  const std::string start = topics_.prefix + "/";
  if (!startsWith(topic, start) || !endsWith(topic, "/set"))
    return;
  // KIND/NAME/set: the subscriptions let no '/' into NAME.
  const std::string rest = topic.substr(start.size(), topic.size() - start.size() - 4);
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos)
    return;
  command(topic, rest.substr(0, slash), rest.substr(slash + 1), payload);
}

void MqttBridge::command(const std::string& topic, const std::string& kind, const std::string& name,
                         const std::string& payload) {
  const UnitsFile& file = service_.file();
  const int index = kind == "unit" ? file.findUnit(name) : kind == "group" ? file.findGroup(name)
                                                                             : file.findScene(name);
  if (index < 0) {
    log(topic + ": unknown " + kind + " '" + name + "'");
    return;
  }
  const UnitsService::Target target = kind == "unit"    ? UnitsService::Target::Unit
                                     : kind == "group" ? UnitsService::Target::Group
                                                       : UnitsService::Target::Scene;
  std::string problem;
  if (!service_.submitCommand(target, index, payload, settings_.transitionUs, problem))
    log(topic + ": " + problem);
}

void MqttBridge::unitChanged(int unit, const UnitState& state, bool commandEnded) {
  if (state.level < 0)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  states_.publish(client_, StatePublisher::Kind::Unit, static_cast<std::size_t>(unit), state.level,
                  commandEnded ? StatePublisher::Why::End : StatePublisher::Why::Change);
}

void MqttBridge::groupChanged(int group, int level, bool commandEnded) {
  if (level < 0)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  states_.publish(client_, StatePublisher::Kind::Group, static_cast<std::size_t>(group), level,
                  commandEnded ? StatePublisher::Why::GroupEnd : StatePublisher::Why::Change);
}

void MqttBridge::log(const std::string& line) { std::fprintf(stderr, "vantreld: %s\n", line.c_str()); }

FrontEndReader mqttFrontEnd(bool verbose) {
  return [verbose](const UnitsFile& file, FileProblems& problems) -> FrontEndMaker {
    const SettingEntry* table = file.frontEndTable("mqtt");
    if (table == nullptr)
      return {};
    MqttSettings settings;
    readMqttSettings(*table, settings, problems);
    return [settings, verbose](UnitsService& service) {
      return std::make_unique<MqttBridge>(service, settings, verbose);
    };
  };
}
