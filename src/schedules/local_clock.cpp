#include "schedules/local_clock.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/files.hpp"
#include "units/utc_time.hpp"

namespace {

constexpr std::int64_t kDaySeconds = 86400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

}  // namespace

std::int64_t dayNumber(const LocalDate& date) {
  return daysFromCivil(date.year, date.month, date.day);
}

LocalDate dateOfDay(std::int64_t days) {
  LocalDate date;
  civilFromDays(days, date.year, date.month, date.day);
  return date;
}

int weekdayOf(const LocalDate& date) {
  const std::int64_t sinceASunday = dayNumber(date) + 4;  // 1970-01-01 was a Thursday
  return static_cast<int>(sinceASunday - floorDiv(sinceASunday, 7) * 7);
}

std::int64_t localWallSeconds(std::int64_t utcSeconds) {
  std::tm local{};
  if (!localCalendarTime(static_cast<std::time_t>(utcSeconds), local))
    return utcSeconds;  // beyond the C library's years: taken as UTC
  return daysFromCivil(std::int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday) * kDaySeconds +
         local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

LocalDate localDateOf(std::int64_t utcMs) {
  return dateOfDay(floorDiv(localWallSeconds(floorDiv(utcMs, 1000)), kDaySeconds));
}

std::int64_t localInstant(const LocalDate& date, int minute) {
  const std::int64_t wall = dayNumber(date) * kDaySeconds + minute * 60;
  // The zone's offsets a day either side: at most one change of them lies between.
  const auto offsetAt = [](std::int64_t t) { return localWallSeconds(t) - t; };
  const std::int64_t a = wall - offsetAt(wall - kDaySeconds);
  const std::int64_t b = wall - offsetAt(wall + kDaySeconds);
  const bool aShows = localWallSeconds(a) == wall;
  const bool bShows = localWallSeconds(b) == wall;
  if (aShows || bShows)
    return 1000 * (aShows && bShows ? std::min(a, b) : aShows ? a : b);
  // In a gap: the clock jumps over `wall` between the two; find the jump.
  std::int64_t low = std::min(a, b) - 3600;
  std::int64_t high = std::max(a, b) + 3600;
  while (low < high) {
    const std::int64_t middle = low + (high - low) / 2;
    if (localWallSeconds(middle) >= wall)
      high = middle;
    else
      low = middle + 1;
  }
  return 1000 * low;
}

std::string localIsoText(std::int64_t utcMs) {
  const std::int64_t utc = floorDiv(utcMs, 1000);
  const std::int64_t wall = localWallSeconds(utc);
  const LocalDate date = dateOfDay(floorDiv(wall, kDaySeconds));
  const std::int64_t second = wall - dayNumber(date) * kDaySeconds;
  const std::int64_t offset = wall - utc;
  const std::int64_t minutes = (offset < 0 ? -offset : offset) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                static_cast<long long>(date.year), date.month, date.day, static_cast<int>(second / 3600),
                static_cast<int>(second / 60 % 60), static_cast<int>(second % 60), offset < 0 ? '-' : '+',
                static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
  return text;
}

std::string weekdayTimeText(std::int64_t utcMs) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const std::int64_t wall = localWallSeconds(floorDiv(utcMs, 1000));
  const LocalDate date = dateOfDay(floorDiv(wall, kDaySeconds));
  const std::int64_t minute = (wall - dayNumber(date) * kDaySeconds) / 60;
  char text[16];
  std::snprintf(text, sizeof text, "%s %02d:%02d", kDays[weekdayOf(date)], static_cast<int>(minute / 60),
                static_cast<int>(minute % 60));
  return text;
}
