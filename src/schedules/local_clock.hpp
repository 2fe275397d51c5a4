#ifndef VANTREL_SCHEDULES_LOCAL_CLOCK_HPP
#define VANTREL_SCHEDULES_LOCAL_CLOCK_HPP

#include <cstdint>
#include <string>

/// The machine's local time, as cron keeps it: the C library's, in the zone that TZ or the
/// system's zone database gives. Instants are milliseconds since 1970-01-01 UTC.

/// A date on the local calendar.
struct LocalDate {
  std::int64_t year = 1970;
  int month = 1;  ///< 1..12
  int day = 1;    ///< 1..31

  bool operator==(const LocalDate& other) const {
    return year == other.year && month == other.month && day == other.day;
  }
};

/// Days since 1970-01-01, and back: a date plus N days is dateOfDay(dayNumber(date) + N).
std::int64_t dayNumber(const LocalDate& date);
LocalDate dateOfDay(std::int64_t dayNumber);

/// 0 for Sunday to 6 for Saturday, as `tm_wday` and the weekday bits of a schedule.
int weekdayOf(const LocalDate& date);

/// What the local clock shows at `utcSeconds`, counted as seconds since 1970-01-01 on the local
/// calendar: the C library's `localtime_r` (`localCalendarTime()`).
std::int64_t localWallSeconds(std::int64_t utcSeconds);

/// The local date at the instant `utcMs`.
LocalDate localDateOf(std::int64_t utcMs);

/// The first instant at which the local clock shows `minute` (of the day) of `date` or later:
/// the one instant it shows it on most days; the first of two when the clocks go back over it;
/// and the end of the gap when they go forward over it (02:30 on the day Berlin goes forward is
/// 03:00 CEST).
std::int64_t localInstant(const LocalDate& date, int minute);

/// `utcMs` on the local clock, to the second, with the zone's offset then, as ISO 8601:
/// "2026-12-11T07:30:00+01:00".
std::string localIsoText(std::int64_t utcMs);

/// A schedule's next time as the page and `vantrel list` show it: the local weekday, in English
/// whatever the locale, and the minute, "Fri 07:30".
std::string weekdayTimeText(std::int64_t utcMs);

#endif
