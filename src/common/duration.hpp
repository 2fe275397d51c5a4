#ifndef VANTREL_COMMON_DURATION_HPP
#define VANTREL_COMMON_DURATION_HPP

#include <cstdint>
#include <string_view>

/// The longest duration any option takes: 24 hours, in microseconds.
constexpr std::int64_t kMaxDurationUs = std::int64_t{24} * 3600 * 1000000;

/// Reads a duration: "0", or a decimal number with an optional fraction
/// followed by "s" or "ms" ("2s", "1.5s", "250ms"), at most 24 hours.
/// Digits finer than a microsecond are dropped. Returns false, leaving
/// `microseconds` alone, for anything else.
bool parseDuration(const char* text, std::int64_t& microseconds);

/// Reads a span as people write one in a file: one or more whole numbers,
/// each followed by its unit, `d`, `h`, `m` or `s`, the units in that order
/// and each at most once ("90s", "5m", "1h30m", "1d12h"). A part may be 0,
/// the whole may not; nor may it exceed `maxUs`. Returns false, leaving `us`
/// alone, for anything else (blanks, signs, fractions, "", "1m2h", "1h1h").
bool parseSpan(std::string_view text, std::int64_t maxUs, std::int64_t& us);

#endif
