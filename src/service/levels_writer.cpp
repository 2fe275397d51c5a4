#include "service/levels_writer.hpp"

#include <algorithm>
#include <cstdio>

#include "common/one_line.hpp"

namespace {

// Of two levels for one unit the newer wins, but for a LAST_ON it does not
// know (a fade's step), which the older one gives.
RememberedLevel newerOf(RememberedLevel newer, const RememberedLevel& older) {
  if (newer.lastOn < 0)
    newer.lastOn = older.lastOn;
  return newer;
}

}  // namespace

LevelsWriter::LevelsWriter(std::string path, StateChanged changed, LevelsWritePace pace)
    : path_(std::move(path)), changed_(std::move(changed)), pace_(pace) {
  thread_ = std::thread([this] { run(); });
}

LevelsWriter::~LevelsWriter() { stop(); }

void LevelsWriter::remember(const UnitKey& key, const RememberedLevel& level, bool step) {
  bool sooner;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The writer is woken only when its next write becomes due sooner: not
    // at every step of a fade, which would wake it, and have the service's
    // thread meet it at this lock, a thousand times in a fade of 16 units.
    sooner = pending_.empty() || (!urgent_ && !step);
    urgent_ = urgent_ || !step;
    const auto found = std::find_if(pending_.begin(), pending_.end(),
                                    [&](const auto& entry) { return entry.first == key; });
    if (found == pending_.end()) {
      pending_.emplace_back(key, level);
    } else {
      found->second = newerOf(level, found->second);
    }
  }
  if (sooner)
    wake_.notify_one();
}

void LevelsWriter::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable())
    thread_.join();
}

LevelsFileState LevelsWriter::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

LevelsWriter::Clock::time_point LevelsWriter::dueAt() const {
  if (pending_.empty())
    return Clock::time_point::max();
  if (!state_.remembered)
    return retryAt_;
  return urgent_ || !lastWrite_ ? Clock::time_point() : *lastWrite_ + pace_.stepPause;
}

void LevelsWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!stopping_) {
      const Clock::time_point due = dueAt();
      if (due == Clock::time_point::max()) {
        wake_.wait(lock);
        continue;
      }
      if (Clock::now() < due) {
        wake_.wait_until(lock, due);
        continue;
      }
    } else if (pending_.empty()) {
      return;  // everything written
    }
    std::vector<std::pair<UnitKey, RememberedLevel>> batch;
    batch.swap(pending_);
    urgent_ = false;
    const bool last = stopping_;
    lock.unlock();
    std::string reason;
    const bool written = writeLevels(path_, batch, reason);
    lock.lock();
    const LevelsFileState before = state_;
    if (written) {
      lastWrite_ = Clock::now();
      retry_ = std::chrono::milliseconds(0);
      state_ = LevelsFileState();
      if (!before.remembered)
        std::fprintf(stderr, "vantreld: the levels are remembered in %s again\n",
                     oneLine(path_).c_str());
    } else {
      // What was handed over since is newer than the batch: it stays.
      for (auto& entry : batch) {
        const auto newer = std::find_if(pending_.begin(), pending_.end(),
                                        [&](const auto& due) { return due.first == entry.first; });
        if (newer == pending_.end())
          pending_.push_back(std::move(entry));
        else
          newer->second = newerOf(newer->second, entry.second);
      }
      retry_ = retry_.count() == 0 ? pace_.firstRetry : std::min(retry_ * 2, pace_.lastRetry);
      retryAt_ = Clock::now() + retry_;
      state_ = {false, reason};
      if (before.remembered)
        std::fprintf(stderr, "vantreld: cannot remember the levels in %s: %s\n",
                     oneLine(path_).c_str(), oneLine(reason).c_str());
    }
    const LevelsFileState now = state_;
    if (!(now == before) && changed_) {
      lock.unlock();
      changed_(now);
      lock.lock();
    }
    if (last && !written)
      return;  // the final try failed: said already
  }
}
