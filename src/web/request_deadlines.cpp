#include "web/request_deadlines.hpp"

#include <algorithm>

#include "web/server_calls.hpp"

RequestDeadlines::~RequestDeadlines() {
  stop();
}

void RequestDeadlines::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
  thread_ = std::thread([this] { serve(); });
}

void RequestDeadlines::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable())
    thread_.join();
}

void RequestDeadlines::opened(const void* connection, int socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  Connection& entry = connections_[connection];
  entry = Connection();
  entry.socket = socket;
  entry.deadline = Clock::now() + kLimit;
  changed_.notify_all();
}

void RequestDeadlines::answered(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(connection);
  if (found == connections_.end())
    return;
  // Later than the deadline the thread may sleep towards: it looks again then.
  found->second.deadline = Clock::now() + kLimit;
  found->second.streaming = false;
}

void RequestDeadlines::streaming(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(connection);
  if (found != connections_.end())
    found->second.streaming = true;
}

void RequestDeadlines::closed(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(connection);
}

void RequestDeadlines::serve() {
  yieldToTheUnits();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const auto now = Clock::now();
    auto next = Clock::time_point::max();
    for (auto& [key, connection] : connections_) {
      if (connection.streaming || connection.dropped)
        continue;
      if (connection.deadline <= now) {
        connection.dropped = true;
        dropConnection(connection.socket);
      } else {
        next = std::min(next, connection.deadline);
      }
    }
    if (next == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, next);
  }
}
