#include "cli/decimal.hpp"

#include <cstdint>

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

// Written out rather than left to atoi/strtol: those wrap or clamp differently
// from one C library to the next, and a port or level must read the same
// everywhere.
int decimalValue(const char* text) {
  while (isSpace(*text))
    ++text;
  bool negative = false;
  if (*text == '+' || *text == '-')
    negative = *text++ == '-';

  // One past the largest magnitude (that of INT32_MIN) is enough to know the
  // number must be clamped; growing further could overflow.
  const std::int64_t limit = std::int64_t{INT32_MAX} + 2;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (magnitude < limit)
      magnitude = magnitude * 10 + (*text - '0');
  }

  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX)
    return INT32_MAX;
  if (value < INT32_MIN)
    return INT32_MIN;
  return static_cast<int>(value);
}
