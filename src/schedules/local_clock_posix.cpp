#include "schedules/local_clock.hpp"

#include <ctime>

#include "units/utc_time.hpp"

std::int64_t localWallSeconds(std::int64_t utcSeconds) {
  const std::time_t t = static_cast<std::time_t>(utcSeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr)
    return utcSeconds;  // beyond the C library's years: taken as UTC
  return daysFromCivil(std::int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
         local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}
