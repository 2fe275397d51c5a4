#ifndef VANTREL_TESTS_SERVING_UNIT_HPP
#define VANTREL_TESTS_SERVING_UNIT_HPP

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/unit_peer.hpp"

/// A unit on 127.0.0.1 that serves one exchange after another on a thread of its own
/// until it is destroyed, answering exchange i as `plan(i)` says.
class ServingUnit {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ServingUnit(std::function<ReplyPlan(int)> plan = [](int) { return ReplyPlan{}; }) {
    std::string error;
    EXPECT_TRUE(peer_.listen("127.0.0.1", 0, error)) << error;
    thread_ = std::thread([this, plan] {
      for (int i = 0;;) {
        Exchange exchange;
        if (!peer_.serveOne(plan(i), 20, 5000, exchange)) {
          if (done_.load())
            break;
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          exchanges_.push_back(exchange);
          arrivals_.push_back(Clock::now());
        }
        recorded_.notify_all();
        ++i;
      }
    });
  }
  ~ServingUnit() { finish(); }

  /// Serves what is still waiting, then stops: a client that has exited may
  /// have left connections that were never accepted yet.
  void finish() {
    done_.store(true);
    if (thread_.joinable())
      thread_.join();
  }

  std::string port() const { return std::to_string(peer_.port()); }

  /// The level of each command received so far, in order; -1 for anything
  /// else.
  std::vector<int> levels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return levelsLocked();
  }
  /// levels(), once the last is `level` or 5 s have passed. An exchange is
  /// recorded when its client has closed the connection, which may come
  /// after the client has acted on the answer (published it, say).
  std::vector<int> levelsEndingWith(int level) const {
    std::unique_lock<std::mutex> lock(mutex_);
    recorded_.wait_for(lock, std::chrono::seconds(5), [&] {
      const std::vector<int> levels = levelsLocked();
      return !levels.empty() && levels.back() == level;
    });
    return levelsLocked();
  }
  std::vector<Exchange> exchanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exchanges_;
  }
  std::vector<Clock::time_point> arrivals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }

 private:
  std::vector<int> levelsLocked() const {
    std::vector<int> levels;
    for (const Exchange& e : exchanges_)
      levels.push_back(e.received.size() == 4 ? e.received[3] : -1);
    return levels;
  }

  UnitPeer peer_;
  std::atomic<bool> done_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable recorded_;
  std::vector<Exchange> exchanges_;
  std::vector<Clock::time_point> arrivals_;
  std::thread thread_;
};

#endif
