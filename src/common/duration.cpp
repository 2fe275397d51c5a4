#include "common/duration.hpp"

#include <cstring>

bool parseDuration(const char* text, std::int64_t& microseconds) {
  if (std::strcmp(text, "0") == 0) {
    microseconds = 0;
    return true;
  }

  // Whole part: at least one digit. Anything past 24 hours in milliseconds
  // is too long in either unit, which also keeps the sums below in range.
  std::int64_t whole = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9'; ++p) {
    whole = whole * 10 + (*p - '0');
    if (whole > kMaxDurationUs / 1000)
      return false;
  }
  if (p == text)
    return false;

  // Fraction: kept in millionths, the rest of its digits only checked.
  std::int64_t millionths = 0;
  if (*p == '.') {
    const char* first = ++p;
    std::int64_t scale = 100000;
    for (; *p >= '0' && *p <= '9'; ++p, scale /= 10)
      millionths += (*p - '0') * scale;
    if (p == first)
      return false;
  }

  std::int64_t value;
  if (std::strcmp(p, "s") == 0)
    value = whole * 1000000 + millionths;
  else if (std::strcmp(p, "ms") == 0)
    value = whole * 1000 + millionths / 1000;
  else
    return false;
  if (value > kMaxDurationUs)
    return false;
  microseconds = value;
  return true;
}
