#include "units/level.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ParseLevel, ReadsWholeNumbersAndPercentagesRoundedHalfUp) {
  struct Case { const char* text; int level; };
  for (const Case& c : {Case{"0", 0}, Case{"128", 128}, Case{"255", 255}, Case{"0%", 0},
                        Case{"1%", 3}, Case{"2%", 5}, Case{"10%", 26}, Case{"50%", 128},
                        Case{"80%", 204}, Case{"99%", 252}, Case{"100%", 255}, Case{"007%", 18}}) {
    int level = -1;
    EXPECT_TRUE(parseLevel(c.text, level)) << c.text;
    EXPECT_EQ(level, c.level) << c.text;
  }
  for (const char* text : {"", "%", "256", "101%", "1000%", "-1", "+1", "-1%", " 1", "1 ", "50 %",
                           "1.5", "50.5%", "%50", "50%%", "0x10", "ff"}) {
    int level = -1;
    EXPECT_FALSE(parseLevel(text, level)) << text;
    EXPECT_EQ(level, -1) << text;
  }
}

}  // namespace
