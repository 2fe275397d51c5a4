#include "units/utc_time.hpp"

#include <cstdio>

// Howard Hinnant's days_from_civil and civil_from_days, on the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = yearOfEra + era * 400 + (month <= 2);
}

namespace {

const std::int64_t kMsPerDay = 86400000;

// The digits of text[at..at+count) as a number, or -1.
int digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9')
      return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string utcTimeText(std::int64_t unixMs) {
  const std::int64_t days = (unixMs >= 0 ? unixMs : unixMs - (kMsPerDay - 1)) / kMsPerDay;
  const std::int64_t msOfDay = unixMs - days * kMsPerDay;
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  civilFromDays(days, year, month, day);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ",
                static_cast<long long>(year), month, day, static_cast<int>(msOfDay / 3600000),
                static_cast<int>(msOfDay / 60000 % 60), static_cast<int>(msOfDay / 1000 % 60),
                static_cast<int>(msOfDay % 1000));
  return text;
}

bool parseUtcTime(std::string_view text, std::int64_t& unixMs) {
  // 2026-12-08T14:48:03.125Z
  // 0    5  8  11 14 17 20  23
  if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != '.' || text[23] != 'Z')
    return false;
  const int year = digits(text, 0, 4);
  const int month = digits(text, 5, 2);
  const int day = digits(text, 8, 2);
  const int hour = digits(text, 11, 2);
  const int minute = digits(text, 14, 2);
  const int second = digits(text, 17, 2);
  const int ms = digits(text, 20, 3);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0)
    return false;
  // A day past the month's end comes back as a day of the next month.
  const std::int64_t days = daysFromCivil(year, month, day);
  std::int64_t backYear = 0;
  int backMonth = 0;
  int backDay = 0;
  civilFromDays(days, backYear, backMonth, backDay);
  if (backMonth != month || backDay != day)
    return false;
  unixMs = days * kMsPerDay + hour * 3600000 + minute * 60000 + second * 1000 + ms;
  return true;
}
