#ifndef VANTREL_TESTS_MQTT_PEERS_HPP
#define VANTREL_TESTS_MQTT_PEERS_HPP

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>
#include <mosquitto.h>

#include "support/child_process.hpp"
#include "support/local_ports.hpp"
#include "support/temp_dir.hpp"

/// Debian's mosquitto on a free port of 127.0.0.1, with a configuration of
/// the test's own; stopped and started again on the same port at will.
class MqttBroker {
 public:
  explicit MqttBroker(const TempDir& dir, bool started = true) : config_(dir.path("mosquitto.conf")) {
    port_ = LocalPort().port();  // freed again at once, for the broker to take
    writeText(config_, "listener " + port_ +
                           " 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\nlog_dest stdout\n");
    if (started)
      start();
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
  std::string port() const { return port_; }

 private:
  std::string config_;
  std::string port_;
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
};

#endif
