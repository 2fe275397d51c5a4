#include "web/request_deadlines.hpp"

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
  look(entry, Clock::now());
}

void RequestDeadlines::answered(const void* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(connection);
  if (found == connections_.end())
    return;
  Connection& entry = found->second;
  // Bytes already in past the answered request belong to the next one,
  // whose clock then starts at the next look: a client pipelining a whole
  // request is answered long before that matters.
  entry.bytesBefore = bytesReceived(entry.socket);
  entry.begun = false;
  entry.streaming = false;
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

void RequestDeadlines::look(Connection& connection, Clock::time_point now) {
  if (connection.streaming || connection.dropped)
    return;
  if (!connection.begun) {
    const std::int64_t bytes = bytesReceived(connection.socket);
    if (bytes < 0 || bytes <= connection.bytesBefore)
      return;
    connection.begun = true;
    connection.firstByte = now;
  }
  if (now - connection.firstByte >= kLimit) {
    connection.dropped = true;
    dropConnection(connection.socket);
  }
}

void RequestDeadlines::serve() {
  yieldToTheUnits();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    changed_.wait_for(lock, kLook, [this] { return stopping_; });
    const auto now = Clock::now();
    for (auto& [key, connection] : connections_)
      look(connection, now);
  }
}
