#include "common/duration.hpp"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kSecond = 1000000;
constexpr std::int64_t kDay = 86400 * kSecond;

TEST(ParseSpan, ReadsEachUnitAndTheirSumsInOrder) {
  struct Case { const char* text; std::int64_t us; };
  for (const Case& c : {Case{"90s", 90 * kSecond}, Case{"5m", 300 * kSecond},
                        Case{"12h", 12 * 3600 * kSecond}, Case{"2d", 2 * kDay},
                        Case{"1h30m", 5400 * kSecond}, Case{"1d12h", kDay + kDay / 2},
                        Case{"1d2h3m4s", kDay + 7384 * kSecond}, Case{"0h1s", kSecond},
                        Case{"30d", 30 * kDay}}) {
    std::int64_t us = -1;
    EXPECT_TRUE(parseSpan(c.text, 30 * kDay, us)) << c.text;
    EXPECT_EQ(us, c.us) << c.text;
  }
  for (const char* text : {"", "0s", "0d0h0m0s", "s", "5", "5m5", "1m2h", "1h1h", "1s1s", "1ms",
                           "1.5h", "-1s", "+1s", " 1s", "1s ", "1 s", "1H", "1w", "30d1s",
                           "720h1s", "2592001s", "99999999999999999999s", "1d99999999999999999h"}) {
    std::int64_t us = -1;
    EXPECT_FALSE(parseSpan(text, 30 * kDay, us)) << text;
    EXPECT_EQ(us, -1) << text;
  }
  // The bound is the caller's, up to the largest a count can hold.
  std::int64_t us = -1;
  EXPECT_TRUE(parseSpan("24h", 24 * 3600 * kSecond, us));
  EXPECT_FALSE(parseSpan("24h1s", 24 * 3600 * kSecond, us));
  EXPECT_FALSE(parseSpan("1s", kSecond - 1, us));
  EXPECT_FALSE(parseSpan("106751992d", std::numeric_limits<std::int64_t>::max(), us));
  EXPECT_TRUE(parseSpan("106751991d", std::numeric_limits<std::int64_t>::max(), us));
  EXPECT_EQ(us, 106751991 * kDay);
}

}  // namespace
