// When a unit is sent its level again: at its own point of each interval,
// and after a failure at 1, 2, 4 ... s up to the interval, from a success
// on at the interval again.

#include "service/refresh_schedule.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kS = 1000000;

TEST(RefreshSchedule, KeepsItsPhaseAtLeastHalfAnIntervalOn) {
  RefreshSchedule every10s(10 * kS, 3 * kS);
  EXPECT_EQ(every10s.afterConfirmed(100 * kS), 113 * kS);  // 103 is too soon
  EXPECT_EQ(every10s.afterConfirmed(107 * kS), 113 * kS);
  EXPECT_EQ(every10s.afterConfirmed(109 * kS), 123 * kS);
  EXPECT_EQ(every10s.afterConfirmed(113 * kS), 123 * kS);  // a refresh due now: the next one
}

TEST(RefreshSchedule, FailuresAreTriedSoonerDoublingUpToTheIntervalAndASuccessStartsAgain) {
  RefreshSchedule every10s(10 * kS, 0);
  std::int64_t now = 100 * kS;
  std::vector<std::int64_t> pauses;
  for (int i = 0; i < 6; ++i) {
    const std::int64_t next = every10s.afterFailed(now);
    pauses.push_back((next - now) / kS);
    now = next;
  }
  EXPECT_EQ(pauses, (std::vector<std::int64_t>{1, 2, 4, 8, 10, 10}));
  every10s.afterConfirmed(now);
  EXPECT_EQ(every10s.afterFailed(now), now + kS);
  EXPECT_FALSE(RefreshSchedule().on());
}

}  // namespace
