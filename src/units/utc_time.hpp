#ifndef VANTREL_UNITS_UTC_TIME_HPP
#define VANTREL_UNITS_UTC_TIME_HPP

#include <cstdint>
#include <string>
#include <string_view>

/// Milliseconds since 1970-01-01 UTC as ISO 8601 UTC with milliseconds,
/// "2026-12-08T14:48:03.125Z", for years 0000 to 9999. Plain civil-date arithmetic: the same on
/// every platform, whatever its time zone.
std::string utcTimeText(std::int64_t unixMs);

/// Reads exactly what utcTimeText writes, a real date and time included; false, leaving
/// `unixMs` alone, for anything else.
bool parseUtcTime(std::string_view text, std::int64_t& unixMs);

/// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t daysFromCivil(std::int64_t year, int month, int day);
void civilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day);

#endif
