#include "mqtt/mqtt_bridge.hpp"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <mosquitto.h>

#include "common/one_line.hpp"
#include "common/platform.hpp"
#include "light_json/submit_command.hpp"
#include "service/secret_file.hpp"

namespace {

constexpr int kKeepAliveS = 60;
constexpr std::int64_t kLoopWaitUs = 1000000;  // as libmosquitto's own loop waits, for the keep-alive

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

// One connect under way, shared with the thread that runs it, which may
// outlive a stop: a lookup of the broker's name ends when the name service
// answers. A stop leaves it the client, which it destroys once back.
struct MqttBridge::Attempt {
  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  bool abandoned = false;
  bool stopping = false;
  int result = MOSQ_ERR_SUCCESS;
  std::string reason;  ///< of a failure, in the words of the thread that saw it
};

MqttBridge::MqttBridge(UnitsService& service, const MqttSettings& settings, bool verbose)
    : service_(service),
      settings_(settings),
      topics_(settings),
      verbose_(verbose),
      connect_([](mosquitto* client, const std::string& host, int port, int keepAliveS) {
        return mosquitto_connect_async(client, host.c_str(), port, keepAliveS);
      }),
      snapshot_([&service] { return service.snapshot(); }),
      discovery_(service.file(), topics_, verbose),
      states_(service.file(), topics_) {}

MqttBridge::~MqttBridge() {
  stop();
  if (client_ != nullptr)
    mosquitto_destroy(client_);
  if (attempt_ == nullptr || !attempt_->abandoned)
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
  // Packets are queued where they are made and written by the loop, the
  // bridge's own thread; a connect runs on a thread of its own.
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, onConnect);
  mosquitto_disconnect_callback_set(client_, onDisconnect);
  mosquitto_message_callback_set(client_, onMessage);
  mosquitto_log_callback_set(client_, onLog);
  return true;
}

void MqttBridge::connectWith(BrokerConnect connect) { connect_ = std::move(connect); }

void MqttBridge::snapshotWith(std::function<ServiceSnapshot()> snapshot) { snapshot_ = std::move(snapshot); }

bool MqttBridge::start(std::string&) {
  started_ = true;
  link_ = std::thread([this] { run(); });
  return true;
}

// libmosquitto's own loop thread ends for good on a TLS failure, silently:
// this one tries again whatever ended a connection.
void MqttBridge::run() {
  int pauseS = 1;
  for (;;) {
    std::string reason;
    int result = connectOnce(reason);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_)
        return;
    }
    while (result == MOSQ_ERR_SUCCESS) {
      waitForBroker();
      bool goodbye;
      bool savedChanged;
      std::vector<std::string> saved;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)
          return;
        goodbye = goodbye_;
        goodbye_ = false;
        savedChanged = savedChanged_;
        savedChanged_ = false;
        saved.swap(saved_);
      }
      if (savedChanged && !goodbye)
        discovery_.publishSaved(client_, saved);
      if (goodbye)
        sayGoodbye();
      else
        states_.send(client_);
      // What was queued goes out now: libmosquitto's loop finds its own
      // wake-up readable, as it finds the socket, without waiting.
      result = mosquitto_loop(client_, 0, 1);
      if (result != MOSQ_ERR_SUCCESS)
        reason = reasonOf(result);
    }
    states_.close();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (upSinceUs_ != 0 && monotonicUs() - upSinceUs_ >= kHeldS * 1000000LL)
        pauseS = 1;
      upSinceUs_ = 0;
    }
    failed(result, reason);
    pause(pauseS);
    pauseS = std::min(pauseS * 2, 30);
  }
}

// Until the socket is ready, the link thread is woken (states queued, a stop)
// or a second has passed. Not libmosquitto's own wait: the service's thread
// wakes this one without calling libmosquitto, whose locks the loop holds
// while it writes.
void MqttBridge::waitForBroker() {
  std::vector<SocketWait> waits = {{wakeUp_.handle(), true, false, false}};
  const int socket = mosquitto_socket(client_);
  if (socket >= 0)
    waits.push_back({static_cast<SocketHandle>(socket), true, mosquitto_want_write(client_), false});
  waitForSockets(waits, kLoopWaitUs);
  if (waits[0].ready)
    wakeUp_.drain();
}

// States are throttled during a fade: the last confirmed levels go out now,
// so that what stays retained is where the units are. The service has
// halted: nothing newer comes.
void MqttBridge::sayGoodbye() {
  const std::uint64_t since = states_.told();
  states_.queueAll(snapshot_(), since);
  states_.send(client_);
  states_.close();
  publishRetained(client_, topics_.status, "offline");
  // Queued after offline, so sent after it; the broker keeps no last will
  // for a client that says goodbye.
  mosquitto_disconnect(client_);
}

// MOSQ_ERR_SUCCESS once the connection is under way; on a stop, whatever
// the connect was doing, the caller sees stopping_.
int MqttBridge::connectOnce(std::string& reason) {
  auto attempt = std::make_shared<Attempt>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
      return MOSQ_ERR_NO_CONN;
    attempt_ = attempt;
  }
  std::thread([attempt, connect = connect_, client = client_, host = settings_.host,
               port = settings_.port] {
    const int result = connect(client, host, port, kKeepAliveS);
    const std::string why = reasonOf(result);
    std::lock_guard<std::mutex> lock(attempt->mutex);
    attempt->result = result;
    attempt->reason = why;
    attempt->finished = true;
    if (attempt->abandoned)
      mosquitto_destroy(client);
    attempt->changed.notify_all();
  }).detach();
  {
    std::unique_lock<std::mutex> lock(attempt->mutex);
    attempt->changed.wait(lock, [&] { return attempt->finished || attempt->stopping; });
    if (attempt->finished) {
      reason = attempt->reason;
      return attempt->result == MOSQ_ERR_CONN_PENDING ? MOSQ_ERR_SUCCESS : attempt->result;
    }
    attempt->abandoned = true;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  client_ = nullptr;
  return MOSQ_ERR_NO_CONN;
}

void MqttBridge::pause(int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping_; });
}

void MqttBridge::stop() {
  if (!started_)
    return;
  started_ = false;
  bool wasUp;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wasUp = state_ == Link::Up;
    leaving_ = true;
    goodbye_ = wasUp;
  }
  if (wasUp) {
    // The link thread says goodbye, as it makes every other packet.
    wakeUp_.signal();
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return state_ == Link::Down; });
  }
  std::shared_ptr<Attempt> attempt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    attempt = attempt_;
  }
  wake_.notify_all();
  wakeUp_.signal();
  if (attempt != nullptr) {
    std::lock_guard<std::mutex> lock(attempt->mutex);
    attempt->stopping = true;
    attempt->changed.notify_all();
  }
  link_.join();
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
  static_cast<MqttBridge*>(self)->received(message->topic, payload, message->retain);
}

// libmosquitto says why TLS failed only in its log: OpenSSL's reason is kept
// for the line that reports the failure.
void MqttBridge::onLog(mosquitto*, void* self, int level, const char* text) {
  static const std::string kOpenSsl = "OpenSSL Error[0]: ";
  const std::string line = text == nullptr ? "" : text;
  if (level != MOSQ_LOG_ERR)
    return;
  auto& bridge = *static_cast<MqttBridge*>(self);
  // Not mutex_: libmosquitto may log from a call made under it.
  std::lock_guard<std::mutex> lock(bridge.tlsMutex_);
  if (startsWith(line, kOpenSsl))
    bridge.tlsProblem_ = line.substr(line.rfind(':') + 1);
  else if (line == "Error: host name verification failed.")
    bridge.tlsProblem_ = "the certificate is not for " + bridge.settings_.host;
}

void MqttBridge::connected(int result) {
  const std::string broker = brokerName();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (leaving_)
      return;
    if (result != 0) {
      outage(broker + " refused the connection", withoutFullStop(mosquitto_connack_string(result)));
      refused_ = true;
      return;
    }
    if (state_ == Link::Down)
      log("connected to " + broker + " again");
    else if (verbose_) {
      std::printf("vantreld: connected to %s\n", broker.c_str());
      std::fflush(stdout);
    }
    state_ = Link::Up;
    upSinceUs_ = monotonicUs();
    outageReason_.clear();
  }
  // On the link thread, as a stop's goodbye is: whatever a stop says comes
  // after this. Subscribed before it says online, so that a command sent on seeing
  // online is heard: the broker takes a client's packets in order.
  for (const char* kind : {"unit", "group", "scene", "schedules"}) {
    const std::string filter = topics_.prefix + "/" + kind + "/+/set";
    mosquitto_subscribe(client_, nullptr, filter.c_str(), 0);
  }
  mosquitto_subscribe(client_, nullptr, topics_.scenes.c_str(), 0);
  discovery_.subscribe(client_);
  publishRetained(client_, topics_.status, "online");
  const std::uint64_t since = states_.told();
  const ServiceSnapshot snapshot = snapshot_();
  discovery_.setSaved(snapshot.savedScenes);
  discovery_.publish(client_);
  states_.queueAll(snapshot, since);
  states_.send(client_);
  discovery_.startSweep(client_);
}

void MqttBridge::disconnected(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (result == 0) {
    state_ = Link::Down;
    wake_.notify_all();
  }
}

void MqttBridge::failed(int result, std::string reason) {
  {
    std::lock_guard<std::mutex> lock(tlsMutex_);
    if (result == MOSQ_ERR_TLS && !tlsProblem_.empty())
      reason += ": " + tlsProblem_;
    tlsProblem_.clear();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (leaving_)
    return;
  // A refusal was told as such; the end of its connection is part of it.
  if (refused_) {
    refused_ = false;
    return;
  }
  outage((state_ == Link::Up ? "lost " : "cannot reach ") + brokerName(), reason);
}

// Each outage is told once, and again only when its reason changes, not at
// every try. Under mutex_.
void MqttBridge::outage(const std::string& what, const std::string& reason) {
  if (state_ != Link::Down || reason != outageReason_)
    log(what + ": " + reason + "; trying again");
  outageReason_ = reason;
  state_ = Link::Down;
}

void MqttBridge::received(const std::string& topic, const std::string& payload, bool retained) {
  if (discovery_.heard(client_, topic, payload))
    return;
  const std::string start = topics_.prefix + "/";
  if (!startsWith(topic, start) || !endsWith(topic, "/set"))
    return;
  // KIND/NAME/set: the subscriptions let no '/' into NAME.
  const std::string rest = topic.substr(start.size(), topic.size() - start.size() - 4);
  const std::size_t slash = rest.find('/');
  const bool scenes = topic == topics_.scenes;
  if (slash == std::string::npos && !scenes)
    return;
  // A stray retained command would act again at every connect: the lights
  // would come on by themselves at each start and broker restart.
  if (retained) {
    if (retainedTold_.insert(topic).second)
      log("mqtt: ignored the retained command on " + oneLine(topic) + ": commands are never retained");
    return;
  }
  if (scenes)
    savedScenes(topic, payload);
  else
    command(topic, rest.substr(0, slash), rest.substr(slash + 1), payload);
}

void MqttBridge::command(const std::string& topic, const std::string& kind, const std::string& name,
                         const std::string& payload) {
  if (kind == "schedules") {
    switchSchedule(topic, name, payload);
    return;
  }
  const UnitsFile& file = service_.file();
  const int index = kind == "unit" ? file.findUnit(name) : kind == "group" ? file.findGroup(name)
                                                                             : file.findScene(name);
  std::string problem;
  SavedScene saved;
  if (index < 0 && kind == "scene" && service_.findSavedScene(name, saved)) {
    if (!submitJsonSavedScene(service_, "MQTT", name, payload, settings_.transitionUs, problem))
      log(oneLine(topic) + ": " + problem);
    return;
  }
  if (index < 0) {
    log(oneLine(topic) + ": unknown " + kind + " '" + oneLine(name) + "'");
    return;
  }
  const UnitsService::Target target = kind == "unit"    ? UnitsService::Target::Unit
                                     : kind == "group" ? UnitsService::Target::Group
                                                       : UnitsService::Target::Scene;
  if (!submitJsonCommand(service_, "MQTT", target, index, payload, settings_.transitionUs, problem))
    log(oneLine(topic) + ": " + problem);
}

// A bad request is one line and changes nothing; a save that left units out says which.
void MqttBridge::savedScenes(const std::string& topic, const std::string& payload) {
  SavedSceneAnswer answer;
  if (!carryOutSavedSceneRequest(service_, payload, answer)) {
    log(oneLine(topic) + ": " + oneLine(answer.problem));
    return;
  }
  const std::string leftOut = leftOutLine(answer.saving);
  if (!answer.request.remove && !leftOut.empty())
    log(oneLine(topic) + ": " + oneLine(leftOut));
}

void MqttBridge::savedScenesChanged(const std::vector<std::string>& saved) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    savedChanged_ = true;
    saved_ = saved;
  }
  wakeUp_.signal();
}

void MqttBridge::switchSchedule(const std::string& topic, const std::string& name,
                                const std::string& payload) {
  const int index = service_.file().findSchedule(name);
  if (index < 0)
    log(oneLine(topic) + ": unknown schedule '" + oneLine(name) + "'");
  else if (payload != "ON" && payload != "OFF")
    log(oneLine(topic) + ": a schedule takes ON or OFF, not '" + oneLine(payload) + "'");
  else
    service_.switchSchedule(index, payload == "ON");
}

void MqttBridge::scheduleChanged(int schedule, const ServiceSnapshot::Schedule& state) {
  if (states_.noteSchedule(static_cast<std::size_t>(schedule), state.on))
    wakeUp_.signal();
}

void MqttBridge::unitChanged(int unit, const UnitState& state, bool commandEnded) {
  if (states_.note(StatePublisher::Kind::Unit, static_cast<std::size_t>(unit), state.level,
                   commandEnded ? StatePublisher::Why::End : StatePublisher::Why::Change))
    wakeUp_.signal();
}

void MqttBridge::groupChanged(int group, int level, bool commandEnded) {
  if (states_.note(StatePublisher::Kind::Group, static_cast<std::size_t>(group), level,
                   commandEnded ? StatePublisher::Why::GroupEnd : StatePublisher::Why::Change))
    wakeUp_.signal();
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
