#ifndef VANTREL_COMMON_WALL_CLOCK_HPP
#define VANTREL_COMMON_WALL_CLOCK_HPP

#include <cstdint>

/// Milliseconds since 1970-01-01 UTC, now.
std::int64_t wallClockMs();

#endif
