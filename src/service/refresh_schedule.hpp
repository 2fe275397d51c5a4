#ifndef VANTREL_SERVICE_REFRESH_SCHEDULE_HPP
#define VANTREL_SERVICE_REFRESH_SCHEDULE_HPP

#include <cstdint>

/// When a unit is sent its level again: once per interval, at a phase of
/// its own so that the units' refreshes spread over the interval rather
/// than come all at once; after a failure sooner, 1, 2, 4 ... s up to the
/// interval, so that a unit whose power comes back gets its level within
/// seconds. Times are µs on one monotonic clock.
class RefreshSchedule {
 public:
  RefreshSchedule() = default;  ///< never
  /// Every `intervalUs`, at `phaseUs` (0..interval) past its multiples.
  RefreshSchedule(std::int64_t intervalUs, std::int64_t phaseUs)
      : intervalUs_(intervalUs), phaseUs_(phaseUs) {}

  bool on() const { return intervalUs_ > 0; }
  /// The next refresh after a level confirmed at `nowUs`: the unit's next
  /// time that is at least half an interval away.
  std::int64_t afterConfirmed(std::int64_t nowUs);
  /// The next try after one that failed at `nowUs`.
  std::int64_t afterFailed(std::int64_t nowUs);

 private:
  std::int64_t intervalUs_ = 0;
  std::int64_t phaseUs_ = 0;
  std::int64_t retryUs_ = 0;  ///< the last pause after a failure; 0 after a success
};

#endif
