// vantrel list's line of a unit whose level the service does not know, and
// how long ago its level from before was confirmed.

#include <gtest/gtest.h>

#include "schedules/schedule_record.hpp"
#include "support/local_zone.hpp"
#include "support/temp_dir.hpp"
#include "units/utc_time.hpp"
#include "vantrel/listing.hpp"

namespace {

TEST(Listing, AgoIsTheLargestWholeUnit) {
  const std::int64_t now = 1796741283125;
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "just now"},          {59999, "just now"},      {-5000, "just now"},
      {60000, "1 minute ago"},  {5 * 60000 + 1, "5 minutes ago"},
      {59 * 60000, "59 minutes ago"}, {60 * 60000, "1 hour ago"},
      {3 * 3600000 + 1, "3 hours ago"}, {24 * 3600000 - 1, "23 hours ago"},
      {24 * 3600000, "1 day ago"}, {2 * 24 * 3600000 + 7, "2 days ago"}};
  for (const auto& [before, text] : cases)
    EXPECT_EQ(agoText(now - before, now), text) << before;
}

TEST(Listing, AUnitTheServiceDoesNotKnowShowsAQuestionMarkAndItsLastLevel) {
  UnitsFile file;
  for (const char* name : {"counter", "shelf", "porch", "cellar"}) {
    Unit unit;
    unit.name = name;
    unit.address = "10.0.0.1";
    unit.port = static_cast<std::uint16_t>(4001 + file.units.size());
    unit.type = 1;
    file.units.push_back(unit);
  }
  RememberedLevels levels;
  levels.set(file.units[2].key(), {77, 1, 77});  // the tool's own, not the service's
  levels.set(file.units[3].key(), {9, 1, 9});
  const std::int64_t now = 1796741283125;
  const std::string listed =
      listing(file, levels, {{true, 128, now - 2 * 24 * 3600000}, {true, -1, 0}, {true, -1, 0}, {}}, now);
  EXPECT_NE(listed.find("  counter  10.0.0.1:4001  type 1  level ? (last 128, 2 days ago)\n"), std::string::npos)
      << listed;
  EXPECT_NE(listed.find("  shelf    10.0.0.1:4002  type 1  level ?\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("  porch    10.0.0.1:4003  type 1  level ?\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("  cellar   10.0.0.1:4004  type 1  level 9 (4%) at "), std::string::npos) << listed;
}

// The next times as vantreld computes them, from the record beside the levels: one fired this
// morning is next due tomorrow, one switched off has none, one the record lacks counts as on.
TEST(Listing, SchedulesShowOnOrOffTheirNextTimeAndLastFiringFromTheRecord) {
  LocalZone zone("Europe/Berlin");
  UnitsFile file;
  const auto schedule = [&](const char* name, int minute, unsigned days) {
    Schedule added;
    added.name = name;
    added.at.minute = minute;
    added.days = days;
    file.schedules.push_back(added);
  };
  const unsigned weekdays = 0x3e;
  schedule("open", 7 * 60 + 30, kEveryDay);
  schedule("close", 19 * 60 + 5, weekdays);
  schedule("late", 23 * 60 + 59, weekdays);
  TempDir dir;
  std::int64_t firedMs = 0;
  std::int64_t nowMs = 0;
  ASSERT_TRUE(parseUtcTime("2026-12-10T06:30:00.000Z", firedMs));  // Thursday 07:30 in Berlin
  ASSERT_TRUE(parseUtcTime("2026-12-10T12:00:00.000Z", nowMs));
  std::string reason;
  ASSERT_TRUE(writeScheduleRecord(scheduleRecordPath(dir.path("levels")),
                                  {{"open", {true, firedMs}}, {"close", {false, std::nullopt}}}, reason))
      << reason;
  std::string warning;
  const std::vector<ListedSchedule> listed = listedSchedules(file, dir.path("levels"), nowMs, warning);
  EXPECT_EQ(warning, "");
  EXPECT_EQ(listing(UnitsFile(), RememberedLevels(), {}, 0, {}, listed),
            "units:\n"
            "schedules:\n"
            "  open   on   next Fri 07:30 (2026-12-11)  last fired 2026-12-10 07:30:00\n"
            "  close  off  next -                       never fired\n"
            "  late   on   next Thu 23:59 (2026-12-10)  never fired\n");
}

}  // namespace
