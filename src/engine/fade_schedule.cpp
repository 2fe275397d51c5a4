#include "engine/fade_schedule.hpp"

#include <algorithm>
#include <cstdlib>

FadeSchedule::FadeSchedule(int from, int to, std::int64_t overUs, int requestedSteps)
    : from_(from), to_(to), overUs_(overUs) {
  const int distance = std::abs(to - from);
  int steps = requestedSteps;
  if (steps == 0) {
    // ⌈seconds × 40⌉ without leaving whole microseconds.
    const std::int64_t perCommandUs = 1000000 / kDefaultCommandsPerSecond;
    const std::int64_t paced = (overUs + perCommandUs - 1) / perCommandUs;
    steps = overUs == 0 || paced > distance ? distance : static_cast<int>(paced);
  }
  steps_ = std::min(steps, distance);
}

int FadeSchedule::level(int command) const {
  if (command == 0)
    return from_;
  const int distance = std::abs(to_ - from_);
  const int moved = (2 * distance * command + steps_) / (2 * steps_);
  return to_ > from_ ? from_ + moved : from_ - moved;
}

std::int64_t FadeSchedule::dueUs(int command) const {
  if (command == 0)
    return 0;
  return (overUs_ * command + steps_ - 1) / steps_;
}

int FadeSchedule::next(int command, std::int64_t elapsedUs, std::int64_t exchangeUs) const {
  int following = command + 1;
  if (overUs_ > 0) {
    // The latest command j with over × j / steps <= elapsed.
    const std::int64_t due = elapsedUs * steps_ / overUs_;
    if (due > following)
      following = due < steps_ ? static_cast<int>(due) : steps_;
    if (following < steps_ &&
        std::max(elapsedUs, dueUs(following)) + exchangeUs > dueUs(steps_))
      following = steps_;
  }
  return following;
}
