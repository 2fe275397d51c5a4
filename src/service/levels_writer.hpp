#ifndef VANTREL_SERVICE_LEVELS_WRITER_HPP
#define VANTREL_SERVICE_LEVELS_WRITER_HPP

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "units/remembered_levels.hpp"

/// Whether the levels reach their file, and if not, why.
struct LevelsFileState {
  bool remembered = true;
  std::string problem;  ///< "" when remembered: writeLevels()'s reason
  bool operator==(const LevelsFileState& other) const {
    return remembered == other.remembered && problem == other.problem;
  }
};

/// When LevelsWriter tries its writes.
struct LevelsWritePace {
  /// After a failed write; doubled after each failure, up to lastRetry.
  std::chrono::milliseconds firstRetry{1000};
  std::chrono::milliseconds lastRetry{30000};
  /// A fade's step waits this long after the last write, so that a long
  /// fade writes the file about once a second rather than at every step.
  std::chrono::milliseconds stepPause{1000};
};

/// Remembers confirmed levels on a thread of its own, so that a write to
/// disk never holds up the fades: levels handed over while a write runs go
/// together in the next one. A level that could not be written stays due
/// and goes with the next write that succeeds; while one is due the writer
/// tries again on its own schedule. A failing file is said once on standard
/// error, and once when it is written again.
class LevelsWriter {
 public:
  /// Told on the writer's thread each time the state changes.
  using StateChanged = std::function<void(const LevelsFileState&)>;

  explicit LevelsWriter(std::string path, StateChanged changed = {}, LevelsWritePace pace = LevelsWritePace());
  ~LevelsWriter();  ///< as stop()
  LevelsWriter(const LevelsWriter&) = delete;
  LevelsWriter& operator=(const LevelsWriter&) = delete;

  /// Thread-safe; never waits for the disk. A `step` of a running fade is
  /// written within stepPause of the last write; any other level at once
  /// (unless a failed write waits for its next try). A level without a
  /// lastOn keeps the one handed over before it.
  void remember(const UnitKey& key, const RememberedLevel& level, bool step = false);
  /// Tries once more to write what is due, whatever the schedule, and ends
  /// the thread.
  void stop();
  LevelsFileState state() const;

 private:
  using Clock = std::chrono::steady_clock;
  void run();
  /// Under mutex_: when the next write is due (max() when nothing is).
  Clock::time_point dueAt() const;

  const std::string path_;
  const StateChanged changed_;
  const LevelsWritePace pace_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::pair<UnitKey, RememberedLevel>> pending_;
  bool urgent_ = false;  ///< a level other than a step is pending
  bool stopping_ = false;
  LevelsFileState state_;
  std::chrono::milliseconds retry_{0};  ///< the pause after the last failure
  Clock::time_point retryAt_;
  /// None before the first write, which no pause holds back: the steady clock may
  /// start at the machine's boot, less than a pause ago.
  std::optional<Clock::time_point> lastWrite_;
  std::thread thread_;
};

#endif
