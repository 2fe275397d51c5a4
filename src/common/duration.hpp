#ifndef VANTREL_COMMON_DURATION_HPP
#define VANTREL_COMMON_DURATION_HPP

#include <cstdint>

/// The longest duration any option takes: 24 hours, in microseconds.
constexpr std::int64_t kMaxDurationUs = std::int64_t{24} * 3600 * 1000000;

/// Reads a duration: "0", or a decimal number with an optional fraction
/// followed by "s" or "ms" ("2s", "1.5s", "250ms"), at most 24 hours.
/// Digits finer than a microsecond are dropped. Returns false, leaving
/// `microseconds` alone, for anything else.
bool parseDuration(const char* text, std::int64_t& microseconds);

#endif
