#ifndef VANTREL_TESTS_MQTT_PEERS_HPP
#define VANTREL_TESTS_MQTT_PEERS_HPP

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <mosquitto.h>

#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/temp_dir.hpp"

/// Debian's mosquitto on a free port of 127.0.0.1, with a configuration of
/// the test's own; stopped and started again on the same port at will.
/// With `listener` (its settings: TLS files, a password file), vantreld gets
/// a listener of its own on another port with those settings, and the
/// test's clients keep the first, open to all.
class MqttBroker {
 public:
  explicit MqttBroker(const TempDir& dir, bool started = true, const std::string& listener = "")
      : config_(dir.path("mosquitto.conf")) {
    port_ = LocalPort().port();  // freed again at once, for the broker to take
    servicePort_ = listener.empty() ? port_ : LocalPort().port();
    configure(listener);
    if (started)
      start();
  }
  /// Replaces the settings of vantreld's listener, for the next start.
  void configure(const std::string& listener) {
    listener_ = listener;
    std::string text = "per_listener_settings true\nset_tcp_nodelay true\nlog_dest stdout\n" +
                       persistence_ + "listener " + port_ + " 127.0.0.1\nallow_anonymous true\n";
    if (!listener.empty())
      text += "listener " + servicePort_ + " 127.0.0.1\n" + listener;
    writeText(config_, text);
  }
  /// Keeps retained messages in `folder` across a stop and a start.
  void persistIn(const std::string& folder) {
    ::mkdir(folder.c_str(), 0777);
    ::chmod(folder.c_str(), 0777);  // for the user mosquitto becomes when root starts it
    persistence_ = "persistence true\npersistence_location " + folder + "/\n";
    configure(listener_);
  }
  void start() {
    // Its log says when it listens, once it goes out a line at a time.
    child_ = std::make_unique<BackgroundChild>(
        std::vector<std::string>{"/usr/bin/stdbuf", "-oL", "/usr/sbin/mosquitto", "-c", config_},
        std::vector<std::string>{});
    for (int i = 0; i < 50; ++i)
      if (child_->readLine(200).find(" running") != std::string::npos)
        return;
    ADD_FAILURE() << "mosquitto did not start";
  }
  void stop() {
    EXPECT_EQ(child_->stop(SIGTERM, 5000), 0);
    child_.reset();
  }
  /// Waits up to `timeoutMs` for a line of the broker's log that holds
  /// `text`; false when none came.
  bool logs(const std::string& text, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (child_->readLine(static_cast<int>(left.count()) + 1).find(text) != std::string::npos)
        return true;
    }
    return false;
  }
  /// Waits for a connection on vantreld's listener.
  bool connected(int timeoutMs = 5000) { return logs(" on port " + servicePort_ + ".", timeoutMs); }
  std::string port() const { return port_; }
  std::string servicePort() const { return servicePort_; }

 private:
  std::string config_;
  std::string port_;
  std::string servicePort_;
  std::string listener_;
  std::string persistence_;  ///< the settings that keep retained messages, if any
  std::unique_ptr<BackgroundChild> child_;
};

/// A client of the test's own that sees every message under `filter`,
/// keeping the last payload of each topic.
class MqttProbe {
 public:
  explicit MqttProbe(const std::string& port, std::string filter = "#") : filter_(std::move(filter)) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int) {
      mosquitto_subscribe(client, nullptr, static_cast<MqttProbe*>(self)->filter_.c_str(), 0);
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* probe = static_cast<MqttProbe*>(self);
      std::lock_guard<std::mutex> lock(probe->mutex_);
      probe->last_[m->topic] =
          std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
      probe->all_[m->topic].push_back(probe->last_[m->topic]);
      probe->changed_.notify_all();
    });
    EXPECT_EQ(mosquitto_connect(client_, "127.0.0.1", std::stoi(port), 60), MOSQ_ERR_SUCCESS);
    mosquitto_loop_start(client_);
  }
  ~MqttProbe() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  MqttProbe(const MqttProbe&) = delete;
  MqttProbe& operator=(const MqttProbe&) = delete;

  void publish(const std::string& topic, const std::string& payload, bool retain = false) {
    EXPECT_EQ(mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                payload.data(), 1, retain),
              MOSQ_ERR_SUCCESS);
  }
  /// Waits up to `timeoutMs` until the last payload on `topic` satisfies
  /// `wanted`; returns that payload, or "(none)" when none did.
  std::string await(const std::string& topic, const std::function<bool(const std::string&)>& wanted,
                    int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool seen = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      const auto found = last_.find(topic);
      return found != last_.end() && wanted(found->second);
    });
    return seen ? last_[topic] : "(none)";
  }
  std::string await(const std::string& topic, const std::string& payload, int timeoutMs = 5000) {
    const std::string seen = await(topic, [&](const std::string& p) { return p == payload; }, timeoutMs);
    EXPECT_EQ(seen, payload) << topic;
    return seen;
  }
  /// Every payload that came on `topic`, oldest first.
  std::vector<std::string> all(const std::string& topic) {
    std::lock_guard<std::mutex> lock(mutex_);
    return all_[topic];
  }
  /// The last payload on `topic`, or "(none)".
  std::string last(const std::string& topic) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = last_.find(topic);
    return found == last_.end() ? "(none)" : found->second;
  }

 private:
  std::string filter_;
  mosquitto* client_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::string> last_;
  std::map<std::string, std::vector<std::string>> all_;
};

#endif
