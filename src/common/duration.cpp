#include "common/duration.hpp"

#include <cstring>
#include <iterator>

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

bool parseSpan(std::string_view text, std::int64_t maxUs, std::int64_t& us) {
  struct Unit {
    char letter;
    std::int64_t us;
  };
  static constexpr Unit kUnits[] = {
      {'d', std::int64_t{86400} * 1000000}, {'h', std::int64_t{3600} * 1000000},
      {'m', std::int64_t{60} * 1000000}, {'s', 1000000}};
  std::int64_t total = 0;
  std::size_t next = 0;  // the first unit still allowed: each comes after those before it
  std::size_t at = 0;
  while (at < text.size()) {
    // Past maxUs in the part's own unit is too long whatever follows, which
    // also keeps every product and sum below in range.
    std::int64_t count = 0;
    const std::size_t digits = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      const int digit = text[at] - '0';
      if (count > (maxUs - digit) / 10)
        return false;
      count = count * 10 + digit;
    }
    if (at == digits || at == text.size())
      return false;
    std::size_t unit = next;
    while (unit < std::size(kUnits) && kUnits[unit].letter != text[at])
      ++unit;
    if (unit == std::size(kUnits) || count > (maxUs - total) / kUnits[unit].us)
      return false;
    total += count * kUnits[unit].us;
    next = unit + 1;
    ++at;
  }
  if (total == 0)
    return false;
  us = total;
  return true;
}
