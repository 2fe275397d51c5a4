#include "engine/fade_schedule.hpp"

#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<int> levels(const FadeSchedule& schedule) {
  std::vector<int> sent;
  for (int k = 0; k <= schedule.steps(); ++k)
    sent.push_back(schedule.level(k));
  return sent;
}

TEST(FadeSchedule, SendsTheNearestLevelWithHalvesAwayFromTheStart) {
  EXPECT_EQ(levels(FadeSchedule(0, 255, 1000000, 10)),
            (std::vector<int>{0, 26, 51, 77, 102, 128, 153, 179, 204, 230, 255}));
  EXPECT_EQ(levels(FadeSchedule(200, 100, 1000000, 4)),
            (std::vector<int>{200, 175, 150, 125, 100}));
  // 3 levels in 2 steps: the half step rounds away from the start, both ways.
  EXPECT_EQ(levels(FadeSchedule(10, 13, 0, 2)), (std::vector<int>{10, 12, 13}));
  EXPECT_EQ(levels(FadeSchedule(13, 10, 0, 2)), (std::vector<int>{13, 11, 10}));
}

TEST(FadeSchedule, TakesOneCommandPerLevelAtMostFortyASecond) {
  EXPECT_EQ(FadeSchedule(0, 255, 0, 0).steps(), 255);         // as fast as the unit answers
  EXPECT_EQ(FadeSchedule(0, 255, 2000000, 0).steps(), 80);    // 2 s × 40
  EXPECT_EQ(FadeSchedule(0, 255, 1010000, 0).steps(), 41);    // ⌈1.01 × 40⌉
  EXPECT_EQ(FadeSchedule(0, 255, 1000, 0).steps(), 1);        // ⌈0.04⌉
  EXPECT_EQ(FadeSchedule(0, 30, 60000000, 0).steps(), 30);    // never more than the levels
  EXPECT_EQ(FadeSchedule(0, 30, 0, 255).steps(), 30);         // a larger request is reduced
  EXPECT_EQ(levels(FadeSchedule(7, 7, 1000000, 10)), (std::vector<int>{7}));
}

TEST(FadeSchedule, CommandsAreDueEvenlyAndNeverEarly) {
  const FadeSchedule schedule(0, 255, 1000000, 3);
  EXPECT_EQ(schedule.dueUs(0), 0);
  EXPECT_EQ(schedule.dueUs(1), 333334);  // 333333.3 rounded up
  EXPECT_EQ(schedule.dueUs(2), 666667);
  EXPECT_EQ(schedule.dueUs(3), 1000000);
  // Long fades stay exact: 24 hours in 255 steps.
  EXPECT_EQ(FadeSchedule(0, 255, 86400000000, 255).dueUs(255), 86400000000);
}

TEST(FadeSchedule, ALateCommandSkipsToTheLatestDueButNeverPastTheLast) {
  const FadeSchedule timed(0, 100, 1000000, 10);  // one every 100 ms
  const std::int64_t fast = 100;                   // µs per exchange
  EXPECT_EQ(timed.next(0, 50000, fast), 1);    // on time: the next one
  EXPECT_EQ(timed.next(0, 99999, fast), 1);
  EXPECT_EQ(timed.next(0, 350000, fast), 3);   // 1..3 due: 1 and 2 are skipped
  EXPECT_EQ(timed.next(4, 450000, fast), 5);   // never backwards
  EXPECT_EQ(timed.next(5, 9000000, fast), 10); // far behind: straight to the last
  const FadeSchedule untimed(0, 100, 0, 0);
  EXPECT_EQ(untimed.next(0, 9000000, 9000000), 1);  // --over 0 skips nothing
}

TEST(FadeSchedule, ASlowUnitDoesNotHoldUpTheLastCommand) {
  const FadeSchedule timed(0, 100, 1000000, 10);
  // Command 9, due at 900 ms, would end at 1050 ms, after the last is due.
  EXPECT_EQ(timed.next(8, 800000, 150000), 10);
  EXPECT_EQ(timed.next(8, 800000, 50000), 9);
  EXPECT_EQ(timed.next(7, 850000, 150000), 8);   // 8 ends at 1000 ms: just in time
  EXPECT_EQ(timed.next(7, 860000, 150000), 10);
}

}  // namespace
