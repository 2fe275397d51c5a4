#ifndef VANTREL_ENGINE_FADE_SCHEDULE_HPP
#define VANTREL_ENGINE_FADE_SCHEDULE_HPP

#include <cstdint>

/// Most commands a second that a timed fade sends unless told otherwise.
constexpr int kDefaultCommandsPerSecond = 40;

/// Which level each command of a fade sends and when it is due: plain
/// arithmetic, with the clock and the network left to the caller.
///
/// Command 0 sends `from` at time 0. Command k (1..steps) sends the level
/// nearest to k/steps of the way to `to`, halves rounded away from `from`,
/// and is due at over × k / steps, never earlier.
class FadeSchedule {
 public:
  /// `requestedSteps` 0 takes the default: one command per level, and for a
  /// timed fade at most 40 a second. Steps never exceed |to − from|, so no
  /// level is sent twice in a row; from == to makes a single command.
  FadeSchedule(int from, int to, std::int64_t overUs, int requestedSteps);

  /// The number of commands after the first.
  int steps() const { return steps_; }
  int level(int command) const;
  std::int64_t dueUs(int command) const;

  /// The command that follows `command` once `elapsedUs` have passed since
  /// time 0, for a unit that takes `exchangeUs` per command: the next one,
  /// or in a timed fade the latest one already due, and the last one when
  /// any before it would still be running when the last is due. A slow
  /// unit makes the fade coarser, not longer.
  int next(int command, std::int64_t elapsedUs, std::int64_t exchangeUs) const;

 private:
  int from_;
  int to_;
  std::int64_t overUs_;
  int steps_;
};

#endif
