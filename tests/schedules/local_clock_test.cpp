#include "schedules/local_clock.hpp"

#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "support/local_zone.hpp"
#include "units/utc_time.hpp"

namespace {

TEST(LocalClock, TellsTheWeekdayOfADate) {
  const struct {
    LocalDate date;
    int weekday;
  } cases[] = {
      {{1970, 1, 1}, 4}, {{1969, 12, 28}, 0}, {{2000, 2, 29}, 2}, {{2026, 3, 29}, 0}, {{2026, 12, 12}, 6},
  };
  for (const auto& c : cases)
    EXPECT_EQ(weekdayOf(c.date), c.weekday) << c.date.year << "-" << c.date.month << "-" << c.date.day;
}

// Both days of the change in both zones: the gap fires at its end, the doubled hour the first time.
TEST(LocalClock, GivesTheInstantOfALocalClockTimeAcrossDaylightSaving) {
  const struct {
    const char* zone;
    LocalDate date;
    int minute;
    const char* instant;
  } cases[] = {
      {"Europe/Berlin", {2026, 7, 1}, 7 * 60 + 30, "2026-07-01T05:30:00.000Z"},
      {"Europe/Berlin", {2026, 1, 1}, 0, "2025-12-31T23:00:00.000Z"},
      {"Europe/Berlin", {2026, 3, 29}, 1 * 60 + 59, "2026-03-29T00:59:00.000Z"},
      {"Europe/Berlin", {2026, 3, 29}, 2 * 60 + 30, "2026-03-29T01:00:00.000Z"},  // the gap
      {"Europe/Berlin", {2026, 3, 29}, 3 * 60, "2026-03-29T01:00:00.000Z"},
      {"Europe/Berlin", {2026, 3, 29}, 7 * 60 + 30, "2026-03-29T05:30:00.000Z"},
      {"Europe/Berlin", {2026, 10, 25}, 2 * 60 + 30, "2026-10-25T00:30:00.000Z"},  // twice: the first
      {"Europe/Berlin", {2026, 10, 25}, 3 * 60, "2026-10-25T02:00:00.000Z"},
      {"Europe/Berlin", {2026, 10, 25}, 7 * 60 + 30, "2026-10-25T06:30:00.000Z"},
      {"America/New_York", {2026, 1, 15}, 7 * 60 + 30, "2026-01-15T12:30:00.000Z"},
      {"America/New_York", {2026, 3, 8}, 2 * 60, "2026-03-08T07:00:00.000Z"},  // the gap's start
      {"America/New_York", {2026, 3, 8}, 2 * 60 + 30, "2026-03-08T07:00:00.000Z"},
      {"America/New_York", {2026, 3, 8}, 23 * 60 + 59, "2026-03-09T03:59:00.000Z"},
      {"America/New_York", {2026, 11, 1}, 1 * 60 + 30, "2026-11-01T05:30:00.000Z"},  // twice: the first
      {"America/New_York", {2026, 11, 1}, 2 * 60, "2026-11-01T07:00:00.000Z"},
      {"UTC", {2026, 3, 29}, 2 * 60 + 30, "2026-03-29T02:30:00.000Z"},
  };
  for (const auto& c : cases) {
    LocalZone zone(c.zone);
    EXPECT_EQ(utcTimeText(localInstant(c.date, c.minute)), c.instant) << c.zone << " " << c.minute;
  }
}

TEST(LocalClock, GivesTheLocalDateOfAnInstant) {
  const struct {
    const char* zone;
    const char* instant;
    LocalDate date;
  } cases[] = {
      {"Europe/Berlin", "2026-03-28T23:30:00.000Z", {2026, 3, 29}},
      {"Europe/Berlin", "2026-03-28T22:59:59.999Z", {2026, 3, 28}},
      {"America/New_York", "2026-01-01T03:00:00.000Z", {2025, 12, 31}},
      {"America/New_York", "1969-12-31T23:00:00.000Z", {1969, 12, 31}},
  };
  for (const auto& c : cases) {
    LocalZone zone(c.zone);
    std::int64_t ms = 0;
    ASSERT_TRUE(parseUtcTime(c.instant, ms));
    EXPECT_TRUE(localDateOf(ms) == c.date) << c.zone << " " << c.instant;
  }
}

// The offset is the one in force at that instant (both sides of a change, west of UTC too), and
// the weekday is English under any locale.
TEST(LocalClock, WritesAnInstantAsIsoLocalTimeAndAsWeekdayAndMinute) {
  const struct {
    const char* zone;
    const char* instant;
    const char* iso;
    const char* weekday;
  } cases[] = {
      {"Europe/Berlin", "2026-12-11T06:30:00.000Z", "2026-12-11T07:30:00+01:00", "Fri 07:30"},
      {"Europe/Berlin", "2026-03-29T01:00:00.000Z", "2026-03-29T03:00:00+02:00", "Sun 03:00"},
      {"Europe/Berlin", "2026-03-29T00:59:59.999Z", "2026-03-29T01:59:59+01:00", "Sun 01:59"},
      {"America/New_York", "2026-01-01T03:00:00.000Z", "2025-12-31T22:00:00-05:00", "Wed 22:00"},
      {"Asia/Kolkata", "2026-06-01T00:00:00.000Z", "2026-06-01T05:30:00+05:30", "Mon 05:30"},
      {"UTC", "1969-12-31T23:59:59.000Z", "1969-12-31T23:59:59+00:00", "Wed 23:59"},
  };
  const char* const before = std::setlocale(LC_TIME, nullptr);
  const std::string kept = before != nullptr ? before : "C";
  std::setlocale(LC_TIME, "ja_JP.UTF-8");
  for (const auto& c : cases) {
    LocalZone zone(c.zone);
    std::int64_t ms = 0;
    ASSERT_TRUE(parseUtcTime(c.instant, ms));
    EXPECT_EQ(localIsoText(ms), c.iso) << c.zone;
    EXPECT_EQ(weekdayTimeText(ms), c.weekday) << c.zone;
  }
  std::setlocale(LC_TIME, kept.c_str());
}

}  // namespace
