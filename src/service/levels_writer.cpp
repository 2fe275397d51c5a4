#include "service/levels_writer.hpp"

LevelsWriter::LevelsWriter(std::string path) : path_(std::move(path)) {
  thread_ = std::thread([this] { run(); });
}

LevelsWriter::~LevelsWriter() { stop(); }

void LevelsWriter::remember(const UnitKey& key, const RememberedLevel& level) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : pending_) {
      if (entry.first == key) {
        entry.second = level;
        changed_.notify_one();
        return;
      }
    }
    pending_.emplace_back(key, level);
  }
  changed_.notify_one();
}

void LevelsWriter::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  if (thread_.joinable())
    thread_.join();
}

void LevelsWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty())
      return;  // stopping, with everything written
    std::vector<std::pair<UnitKey, RememberedLevel>> batch;
    batch.swap(pending_);
    lock.unlock();
    rememberOrWarn("vantreld", path_, batch);
    lock.lock();
  }
}
