#include "schedules/schedule_times.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/local_zone.hpp"
#include "units/utc_time.hpp"

namespace {

std::int64_t at(const char* text) {
  std::int64_t ms = 0;
  EXPECT_TRUE(parseUtcTime(text, ms)) << text;
  return ms;
}

std::string textOf(const std::optional<std::int64_t>& ms) {
  return ms ? utcTimeText(*ms) : "none";
}

Schedule clockSchedule(int minute, unsigned days = kEveryDay) {
  Schedule schedule;
  schedule.at = {ScheduleTime::Kind::Clock, minute, 0};
  schedule.days = days;
  return schedule;
}

const Location kBerlin{true, 52.52, 13.405};

TEST(ScheduleTimes, HoldATimeOfTheSunWithinItsBoundsAndKeepToItsDays) {
  LocalZone zone("Europe/Berlin");
  Schedule dusk;
  dusk.at = {ScheduleTime::Kind::Sunset, 0, -15 * 60000};
  dusk.notBefore = 17 * 60;
  dusk.notAfter = 21 * 60;
  const struct {
    LocalDate date;
    const char* firing;
  } cases[] = {
      {{2026, 12, 21}, "2026-12-21T16:00:00.000Z"},  // sunset 15:54 CET, less 15m: held to 17:00
      {{2026, 6, 21}, "2026-06-21T19:00:00.000Z"},   // sunset 21:33 CEST, less 15m: held to 21:00
      {{2026, 3, 20}, "2026-03-20T17:04:27.000Z"},   // sunset 18:19 CET, less 15m: within them
  };
  for (const auto& c : cases) {
    const std::optional<std::int64_t> firing = firingOn(dusk, kBerlin, c.date);
    ASSERT_TRUE(firing) << c.firing;
    EXPECT_LE(std::llabs(*firing - at(c.firing)), 60000) << textOf(firing) << " against " << c.firing;
  }
  const Schedule weekends = clockSchedule(9 * 60, 0x41);
  EXPECT_EQ(textOf(firingOn(weekends, kBerlin, {2026, 12, 12})), "2026-12-12T08:00:00.000Z");  // Saturday
  EXPECT_EQ(textOf(firingOn(weekends, kBerlin, {2026, 12, 14})), "none");                      // Monday
  EXPECT_EQ(textOf(nextFiring(weekends, kBerlin, at("2026-12-13T08:00:00.000Z"))), "2026-12-19T08:00:00.000Z");
}

// Each firing strictly after the one before: the gap fires at its end, the doubled hour once.
TEST(ScheduleTimes, FireOnceADayAcrossBothDaysOfDaylightSaving) {
  LocalZone zone("Europe/Berlin");
  const Schedule night = clockSchedule(2 * 60 + 30);
  const struct {
    const char* after;
    std::vector<const char*> firings;
  } cases[] = {
      {"2026-03-28T12:00:00.000Z",
       {"2026-03-29T01:00:00.000Z", "2026-03-30T00:30:00.000Z", "2026-03-31T00:30:00.000Z"}},
      {"2026-10-24T12:00:00.000Z",
       {"2026-10-25T00:30:00.000Z", "2026-10-26T01:30:00.000Z"}},
  };
  for (const auto& c : cases) {
    std::int64_t after = at(c.after);
    for (const char* expected : c.firings) {
      const std::optional<std::int64_t> next = nextFiring(night, kBerlin, after);
      ASSERT_EQ(textOf(next), expected) << "after " << utcTimeText(after);
      after = *next;
    }
  }
  Schedule polar;
  polar.at = {ScheduleTime::Kind::Sunset, 0, 0};
  LocalZone north("Europe/Oslo");
  const std::optional<std::int64_t> afterMidsummer = nextFiring(polar, {true, 69.6492, 18.9553}, at("2026-06-01T12:00:00.000Z"));
  ASSERT_TRUE(afterMidsummer);
  // The first sunset after the midnight sun in Tromso, 00:37 on the 26th: NOAA's solar position
  // has the sun below the standard horizon from 22:37 UTC, though its sunset table, which takes
  // the sun where it is at one time of the day, finds the first a day later. Grazing the
  // horizon, a minute of error elsewhere is a few here.
  EXPECT_LE(std::llabs(*afterMidsummer - at("2026-07-25T22:37:00.000Z")), 180000) << textOf(afterMidsummer);
}

class CatchUpTest : public ::testing::Test {
 protected:
  CatchUpTest() : zone_("UTC") {
    file_.units.resize(3);
    Schedule a = clockSchedule(7 * 60);  // a and b
    a.levels = {{0, 10}, {1, 10}};
    Schedule b = clockSchedule(7 * 60 + 30);  // b, fading over an hour
    b.levels = {{1, 20}};
    b.overUs = std::int64_t{3600} * 1000000;
    Schedule c = clockSchedule(6 * 60);  // c, before the window
    c.levels = {{2, 30}};
    file_.schedules = {a, b, c};
  }

  // Each caught-up schedule as "INDEX@TIME:UNITS+SECONDS".
  std::vector<std::string> caught(std::vector<std::optional<std::int64_t>> lastFired, const char* now,
                                  std::int64_t windowMs = 3600000, const std::vector<bool>& on = {}) {
    std::vector<std::string> lines;
    for (const CatchUp& late : catchUp(file_, lastFired, at(now), windowMs, {}, on)) {
      std::string line = std::to_string(late.schedule) + "@" + utcTimeText(late.firedAtMs).substr(11, 5) + ":";
      for (const int unit : late.units)
        line += std::to_string(unit);
      lines.push_back(line + "+" + std::to_string(late.intoOverUs / 1000000));
    }
    return lines;
  }

  LocalZone zone_;
  UnitsFile file_;
};

TEST_F(CatchUpTest, FiresTheLatestMissedFiringOfEachUnitOnce) {
  using Lines = std::vector<std::string>;
  const std::optional<std::int64_t> never;
  // b's newer firing takes unit 1 from a, and joins its fade half-way; c's is outside the window.
  EXPECT_EQ(caught({never, never, never}, "2026-12-10T08:00:00.000Z"), (Lines{"0@07:00:0+0", "1@07:30:1+1800"}));
  // b fired: it is not fired again, and still unit 1's newest.
  EXPECT_EQ(caught({never, at("2026-12-10T07:30:00.000Z"), never}, "2026-12-10T08:00:00.000Z"),
            (Lines{"0@07:00:0+0"}));
  // A fade long over is joined at its end.
  EXPECT_EQ(caught({never, never, never}, "2026-12-10T08:45:00.000Z", 7200000),
            (Lines{"0@07:00:0+0", "1@07:30:1+3600"}));
  EXPECT_EQ(caught({never, never, never}, "2026-12-10T08:00:00.000Z", 0), Lines{});
  // b switched off: it neither fires nor takes unit 1 from a.
  EXPECT_EQ(caught({never, never, never}, "2026-12-10T08:00:00.000Z", 3600000, {true, false, true}),
            Lines{"0@07:00:01+0"});
  // A saved scene whose units are unknown is caught up by itself.
  file_.schedules[2].levels.clear();
  file_.schedules[2].savedScene = "night";
  EXPECT_EQ(caught({never, never, never}, "2026-12-10T06:10:00.000Z"), Lines{"2@06:00:+0"});
}

TEST_F(CatchUpTest, FiresWhatWasMissedAfterAClockJumpForwardAndNothingTwiceAfterOneBack) {
  using Lines = std::vector<std::string>;
  const std::optional<std::int64_t> yesterday = at("2026-12-09T07:00:00.000Z");
  // The clock jumps from 06:50 to 07:10: a's 07:00 is caught up.
  EXPECT_EQ(caught({yesterday, yesterday, yesterday}, "2026-12-10T07:10:00.000Z"), Lines{"0@07:00:01+0"});
  // Fired, then the clock jumps back to 06:50 and forward again: nothing twice.
  const std::optional<std::int64_t> fired = at("2026-12-10T07:00:00.000Z");
  const std::optional<std::int64_t> early = at("2026-12-10T06:00:00.000Z");
  EXPECT_EQ(caught({fired, yesterday, early}, "2026-12-10T06:50:00.000Z"), Lines{});
  EXPECT_EQ(caught({fired, yesterday, early}, "2026-12-10T07:10:00.000Z"), Lines{});
  EXPECT_EQ(textOf(nextDue(file_.schedules[0], {}, fired, at("2026-12-10T06:50:00.000Z"))),
            "2026-12-11T07:00:00.000Z");
  EXPECT_EQ(textOf(nextDue(file_.schedules[0], {}, yesterday, at("2026-12-10T06:50:00.000Z"))),
            "2026-12-10T07:00:00.000Z");
}

}  // namespace
