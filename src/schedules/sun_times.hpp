#ifndef VANTREL_SCHEDULES_SUN_TIMES_HPP
#define VANTREL_SCHEDULES_SUN_TIMES_HPP

#include <cstdint>
#include <optional>

#include "schedules/local_clock.hpp"
#include "units/units_file.hpp"

enum class SunEvent { Rise, Set };

/// When the sun rises or sets at `place` on the local date `date` (libnova, the standard
/// horizon of -0.833 degrees), as UTC milliseconds; none on a day it does not (polar day or
/// night). Of two on one date (at the edge of the midnight sun), the first.
std::optional<std::int64_t> sunTime(SunEvent event, const Location& place, const LocalDate& date);

#endif
