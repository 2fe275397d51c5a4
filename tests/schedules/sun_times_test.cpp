#include "schedules/sun_times.hpp"

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/local_zone.hpp"
#include "units/utc_time.hpp"

namespace {

// NOAA's solar calculator's sunrise and sunset, to the second, for each local date; some fall on
// the UTC date beside it.
TEST(SunTimes, AreWithinAMinuteOfNoaasForEachPlaceAndSeason) {
  const struct {
    const char* zone;
    double latitude;
    double longitude;
    LocalDate date;
    const char* rise;
    const char* set;
  } cases[] = {
      {"Europe/Berlin", 52.52, 13.405, {2026, 3, 20}, "2026-03-20T05:09:14.000Z", "2026-03-20T17:19:27.000Z"},
      {"Europe/Berlin", 52.52, 13.405, {2026, 6, 21}, "2026-06-21T02:43:05.000Z", "2026-06-21T19:33:18.000Z"},
      {"Europe/Berlin", 52.52, 13.405, {2026, 9, 22}, "2026-09-22T04:52:06.000Z", "2026-09-22T17:05:06.000Z"},
      {"Europe/Berlin", 52.52, 13.405, {2026, 12, 21}, "2026-12-21T07:14:54.000Z", "2026-12-21T14:53:57.000Z"},
      {"America/New_York", 40.7128, -74.006, {2026, 3, 20}, "2026-03-20T10:59:16.000Z", "2026-03-20T23:08:11.000Z"},
      {"America/New_York", 40.7128, -74.006, {2026, 6, 21}, "2026-06-21T09:25:01.000Z", "2026-06-22T00:30:45.000Z"},
      {"America/New_York", 40.7128, -74.006, {2026, 9, 22}, "2026-09-22T10:43:38.000Z", "2026-09-22T22:53:04.000Z"},
      {"America/New_York", 40.7128, -74.006, {2026, 12, 21}, "2026-12-21T12:16:34.000Z", "2026-12-21T21:31:49.000Z"},
      {"Australia/Sydney", -33.8688, 151.2093, {2026, 3, 20}, "2026-03-19T19:57:57.000Z", "2026-03-20T08:06:56.000Z"},
      {"Australia/Sydney", -33.8688, 151.2093, {2026, 6, 21}, "2026-06-20T20:59:57.000Z", "2026-06-21T06:53:49.000Z"},
      {"Australia/Sydney", -33.8688, 151.2093, {2026, 9, 22}, "2026-09-21T19:45:21.000Z", "2026-09-22T07:51:15.000Z"},
      {"Australia/Sydney", -33.8688, 151.2093, {2026, 12, 21}, "2026-12-20T18:40:38.000Z", "2026-12-21T09:05:25.000Z"},
      {"Europe/Oslo", 69.6492, 18.9553, {2026, 3, 20}, "2026-03-20T04:43:52.000Z", "2026-03-20T17:01:33.000Z"},
      // Tromso: the midnight sun and the polar night.
      {"Europe/Oslo", 69.6492, 18.9553, {2026, 6, 21}, nullptr, nullptr},
      {"Europe/Oslo", 69.6492, 18.9553, {2026, 12, 21}, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    LocalZone zone(c.zone);
    const Location place{true, c.latitude, c.longitude};
    for (const auto& [event, expected] : {std::make_pair(SunEvent::Rise, c.rise), std::make_pair(SunEvent::Set, c.set)}) {
      const std::optional<std::int64_t> at = sunTime(event, place, c.date);
      const std::string what = std::string(c.zone) + " " + std::to_string(c.date.month) +
                               (event == SunEvent::Rise ? " rise" : " set");
      if (expected == nullptr) {
        EXPECT_FALSE(at) << what << " " << utcTimeText(at.value_or(0));
        continue;
      }
      std::int64_t noaa = 0;
      ASSERT_TRUE(parseUtcTime(expected, noaa));
      ASSERT_TRUE(at) << what;
      EXPECT_LE(std::llabs(*at - noaa), 60000) << what << ": " << utcTimeText(*at) << " against " << expected;
    }
  }
}

}  // namespace
